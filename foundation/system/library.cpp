#include "foundation/system/library.hpp"

namespace vd {

HMODULE load_library(const wchar_t* name) {
    if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        return module;
    // Windows 7 without KB2533623 refuses the flag outright; elsewhere the library may just not
    // lie in the default folders. Either way the plain search order is the last word.
    return ::LoadLibraryExW(name, nullptr, 0);
}

} // namespace vd
