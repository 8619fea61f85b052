// Loading libraries so that none is taken from a folder that someone else could write to: the
// program's own folder is wherever a download put it, and the program runs as administrator.
// System libraries come from the system folder; a library that ships with the payload is named
// by its full path.
#pragma once

#include <windows.h>

namespace vd {

// A library given by its full path; the libraries it needs by name come from its own folder and
// the system folder. Where the system refuses those search flags, the standard search order.
// Null when both fail: GetLastError tells why. The caller frees the module.
HMODULE load_library(const wchar_t* path);

// A system library by its bare name, from the system folder only. Null on failure (GetLastError
// tells why); the caller frees the module.
HMODULE load_system_library(const wchar_t* name);

// An entry point of a loaded module as the function type it has; null when it is missing.
template <class Function>
Function find_export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace vd
