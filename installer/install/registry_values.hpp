// Writing the uninstall entry's values: a failure is a false result for the caller to count or
// ignore, never an exception.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

#include "foundation/system/registry.hpp"

// REG_SZ with its terminating NUL.
bool set_reg_string(vd::reg_key& key, std::wstring_view name, const std::wstring& value);
bool set_reg_string(vd::reg_key& key, std::wstring_view name, std::wstring_view value);

bool set_reg_dword(vd::reg_key& key, std::wstring_view name, const DWORD& value);
