// The process's environment variables, read and written as values that may be missing.
#pragma once

#include <optional>
#include <string>

namespace vd {

// The variable's value; empty when it is not set.
std::optional<std::wstring> environment_value(const wchar_t* name);

// Sets the variable, or removes it for an empty value. False when the system refused.
bool set_environment_value(const wchar_t* name, const std::optional<std::wstring>& value) noexcept;

} // namespace vd
