#include "foundation/system/known_folders.hpp"

#include <cstdlib>

#include <knownfolders.h>
#include <shlobj.h>

#include "foundation/errors/error.hpp"
#include "foundation/system/unique_any.hpp"

namespace vd {

std::filesystem::path module_path() {
    // Set by the run time for a wide entry point only. MinGW's msvcrt import library has no
    // _get_wpgmptr, so the variable is read directly.
    if (const wchar_t* program = _wpgmptr)
        return program;

    // One character more than the size given, so that a path the system cuts without a
    // terminator still ends in one.
    wchar_t buffer[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

std::filesystem::path known_folder_path(const KNOWNFOLDERID& id) {
    unique_cotaskmem_string path;
    // The shell may hand out a buffer even when it fails; the holder frees it either way.
    throw_if_failed(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put()));
    return path.get();
}

std::filesystem::path documents_folder() {
    static const std::filesystem::path folder = known_folder_path(FOLDERID_Documents);
    return folder;
}

std::filesystem::path common_data_folder() {
    static const std::filesystem::path folder = known_folder_path(FOLDERID_ProgramData) / maker_name;
    return folder;
}

std::filesystem::path user_data_folder() {
    static const std::filesystem::path folder = known_folder_path(FOLDERID_RoamingAppData) / maker_name;
    return folder;
}

} // namespace vd
