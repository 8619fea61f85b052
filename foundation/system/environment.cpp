#include "foundation/system/environment.hpp"

#include <windows.h>

namespace vd {

std::optional<std::wstring> environment_value(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

bool set_environment_value(const wchar_t* name, const std::optional<std::wstring>& value) noexcept {
    return ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr) != FALSE;
}

} // namespace vd
