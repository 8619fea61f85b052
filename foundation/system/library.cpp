#include "foundation/system/library.hpp"

#include <string>

namespace vd {

HMODULE load_library(const wchar_t* path) {
    if (HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    // Windows 7 without KB2533623 refuses the flags outright; elsewhere the library or one it
    // needs may just be missing. Either way the plain search order is the last word.
    return ::LoadLibraryExW(path, nullptr, 0);
}

HMODULE load_system_library(const wchar_t* name) {
    if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    if (::GetLastError() != ERROR_INVALID_PARAMETER)
        return nullptr;
    // Windows 7 without KB2533623 knows no search flags: the system folder is named in full,
    // and the library's own needs are looked for beside it first.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace vd
