#include "foundation/system/registry.hpp"

#include <vector>

#include "foundation/errors/error.hpp"

namespace vd {

namespace {

// Never a specific right: callers may do whatever the key's security grants to the process.
constexpr REGSAM key_access = MAXIMUM_ALLOWED;

reg_key open_key(HKEY parent, std::wstring_view subkey) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(parent, subkey.data(), 0, key_access, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    if (status != ERROR_SUCCESS)
        throw_system_error(status);
    return reg_key(key);
}

reg_key create_key(HKEY parent, std::wstring_view subkey) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(parent, subkey.data(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             key_access, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        throw_system_error(status);
    return reg_key(key);
}

void set_value(HKEY key, std::wstring_view name, DWORD type, const void* data, DWORD size) {
    const LSTATUS status =
        ::RegSetValueExW(key, name.data(), 0, type, static_cast<const BYTE*>(data), size);
    if (status != ERROR_SUCCESS)
        throw_system_error(status);
}

// The first of the two queries of every read: the value's type and byte size. A missing value
// is no value; any other failure is thrown.
bool query_value(HKEY key, std::wstring_view name, DWORD& type, DWORD& size) {
    type = 0;
    size = 0;
    const LSTATUS status = ::RegQueryValueExW(key, name.data(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    if (status != ERROR_SUCCESS)
        throw_system_error(status);
    return true;
}

// The second query: the value may have changed in between, so its status and size decide.
void read_value(HKEY key, std::wstring_view name, DWORD& type, void* buffer, DWORD& size) {
    const LSTATUS status =
        ::RegQueryValueExW(key, name.data(), nullptr, &type, static_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS)
        throw_system_error(status);
}

} // namespace

reg_key reg_open_key(HKEY parent, std::wstring_view subkey) { return open_key(parent, subkey); }

reg_key reg_create_key(HKEY parent, std::wstring_view subkey) { return create_key(parent, subkey); }

reg_key reg_key::open_subkey(std::wstring_view subkey) const { return open_key(get(), subkey); }

reg_key reg_key::create_subkey(std::wstring_view subkey) const { return create_key(get(), subkey); }

void reg_key::set_string(std::wstring_view name, std::wstring_view text) const {
    // The terminating NUL is the caller's own, just past the view.
    const DWORD size = text.data() ? static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)) : 0;
    set_value(get(), name, REG_SZ, text.data(), size);
}

void reg_key::set_binary(const void* data, DWORD size, std::wstring_view name) const {
    set_value(get(), name, REG_BINARY, data, size);
}

bool reg_key::get_string(std::wstring_view name, std::wstring& out) const {
    DWORD type = 0;
    DWORD size = 0;
    if (!query_value(get(), name, type, size))
        return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0)
        return false;
    if (size == 0) {
        out.clear();
        return true;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t));
    read_value(get(), name, type, buffer.data(), size);
    // The registry does not insist on the terminating NUL: a value without one is not a text.
    const std::size_t units = size / sizeof(wchar_t);
    if (units == 0 || buffer[units - 1] != L'\0')
        return false;
    out.assign(buffer.data(), units - 1);
    return true;
}

bool reg_key::get_binary(void* buffer, DWORD size, std::wstring_view name) const {
    DWORD type = 0;
    DWORD stored_size = 0;
    if (!query_value(get(), name, type, stored_size))
        return false;
    if (type != REG_BINARY || stored_size != size)
        return false;
    read_value(get(), name, type, buffer, stored_size);
    return true;
}

bool reg_key::read_dword(std::wstring_view name, DWORD& out) const {
    DWORD type = 0;
    DWORD size = 0;
    if (!query_value(get(), name, type, size))
        return false;
    if (type != REG_DWORD)
        return false;
    if (size != sizeof(DWORD))
        throw_system_error(ERROR_INVALID_DATA);
    DWORD value = 0;
    read_value(get(), name, type, &value, size);
    out = value;
    return true;
}

std::optional<DWORD> reg_key::get_dword(std::wstring_view name) const noexcept {
    try {
        DWORD value = 0;
        if (read_dword(name, value))
            return value;
    } catch (const std::exception&) {
        // Whatever went wrong, the caller only learns that there is no value.
    }
    return std::nullopt;
}

} // namespace vd
