// Loading a library that ships beside the program or with its payload, with the safe search
// order where the system offers it.
#pragma once

#include <windows.h>

namespace vd {

// The library's module, searched for in the default DLL folders (the program's folder, System32
// and the folders added for the process) and, when that fails, in the standard search order.
// Null when both fail: GetLastError tells why. The caller frees the module.
HMODULE load_library(const wchar_t* name);

} // namespace vd
