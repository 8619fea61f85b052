// Environment variables of this process for a test: read, and set for a while (the temporary
// folder of a test's own, none at all), put back as they were when the holder goes.
#pragma once

#include <optional>
#include <string>

#include <windows.h>

namespace testing_support {

// The variable's value; empty when it is not set.
inline std::optional<std::wstring> environment_value(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

class environment_scope {
public:
    // A null value removes the variable for the while.
    environment_scope(const wchar_t* name, const wchar_t* value) : name_(name), saved_(environment_value(name)) {
        ::SetEnvironmentVariableW(name, value);
    }
    ~environment_scope() { ::SetEnvironmentVariableW(name_, saved_ ? saved_->c_str() : nullptr); }
    environment_scope(const environment_scope&) = delete;
    environment_scope& operator=(const environment_scope&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

} // namespace testing_support
