#include "installer/install/registry_values.hpp"

#include "foundation/errors/error.hpp"

#include <exception>

bool set_reg_string(vd::reg_key& key, std::wstring_view name, const std::wstring& value) {
    return set_reg_string(key, name, std::wstring_view(value.c_str(), value.size()));
}

bool set_reg_string(vd::reg_key& key, std::wstring_view name, std::wstring_view value) {
    try {
        key.set_string(name, value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool set_reg_dword(vd::reg_key& key, std::wstring_view name, const DWORD& value) {
    try {
        const std::wstring value_name(name);
        const LSTATUS status = ::RegSetValueExW(key.get(), value_name.c_str(), 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), sizeof value);
        if (status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
