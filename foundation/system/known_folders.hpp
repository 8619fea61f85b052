// Well-known places of the file system: this program's own file, any of the shell's known
// folders, and the Documents folder and the maker's data folders, which are looked up once per
// run and kept.
#pragma once

#include <filesystem>

#include <windows.h>
#include <shtypes.h>

namespace vd {

// The maker's name, the last element of its data folders.
inline constexpr wchar_t maker_name[] = L"Vandrel";

// The full path of the running program; empty when it cannot be read, never a failure. A path
// beyond MAX_PATH comes back cut.
std::filesystem::path module_path();

// The known folder's path, neither verified nor created. Throws std::system_error with the
// shell's HRESULT.
std::filesystem::path known_folder_path(const KNOWNFOLDERID& id);

// These look the folder up on their first call and keep it; a failing first call keeps nothing
// and throws as known_folder_path does. None of them creates its folder.
std::filesystem::path documents_folder();
std::filesystem::path common_data_folder(); // ProgramData\Vandrel
std::filesystem::path user_data_folder();   // AppData\Roaming\Vandrel

} // namespace vd
