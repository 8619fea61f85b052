// Registry keys as the installer uses them: a key or value that does not exist is an ordinary
// result (an empty key, false, no value); every other failure is a std::system_error carrying
// the Win32 status.
//
// Names are taken as views but only their pointers reach the registry, so every view must be
// NUL-terminated at its length (literals and std::wstring contents are).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

namespace vd {

// Owns an open registry key; empty when the key it was asked for does not exist.
class reg_key {
public:
    reg_key() noexcept = default;
    explicit reg_key(HKEY key) noexcept : key_(key) {}

    explicit operator bool() const noexcept { return static_cast<bool>(key_); }

    // For registry calls this class does not wrap (saving, restoring, deleting a tree).
    HKEY get() const noexcept { return key_.get(); }

    // An empty key when the subkey does not exist.
    reg_key open_subkey(std::wstring_view subkey) const;
    // Creates the subkey, or opens it when it exists already.
    reg_key create_subkey(std::wstring_view subkey) const;

    // Writes text and its terminating NUL; a view without characters behind it (null data)
    // writes an empty value of zero bytes.
    void set_string(std::wstring_view name, std::wstring_view text) const;
    void set_binary(const void* data, DWORD size, std::wstring_view name) const;

    // REG_SZ or REG_EXPAND_SZ (returned as stored, references unexpanded). false for a missing
    // value, another type, or data that is not a NUL-terminated UTF-16 text; out is then
    // unchanged.
    bool get_string(std::wstring_view name, std::wstring& out) const;

    // REG_BINARY of exactly size bytes into buffer; false for a missing value, another type or
    // another size, with the buffer untouched.
    bool get_binary(void* buffer, DWORD size, std::wstring_view name) const;

    // REG_DWORD; false for a missing value or another type. A REG_DWORD that is not four bytes
    // long is thrown as ERROR_INVALID_DATA.
    bool read_dword(std::wstring_view name, DWORD& out) const;

    // read_dword that never throws: any failure is no value.
    std::optional<DWORD> get_dword(std::wstring_view name) const noexcept;

private:
    unique_hkey key_;
};

// Opens a subkey of parent (a key of this process or a predefined one such as
// HKEY_LOCAL_MACHINE) with the rights its security grants; an empty key when it does not exist.
reg_key reg_open_key(HKEY parent, std::wstring_view subkey);

// Creates a subkey of parent, or opens it when it exists already.
reg_key reg_create_key(HKEY parent, std::wstring_view subkey);

} // namespace vd
