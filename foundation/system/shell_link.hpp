// Shortcuts to programs: the Start-menu and desktop links of an installed program.
#pragma once

#include <filesystem>
#include <string_view>

#include <windows.h>

namespace vd {

// The link file's path for a link named name in folder: the folder joined with name (the
// target's stem when name is empty) with ".lnk" added to the text, so that a name ending in a
// version such as "8.01" keeps it whole.
std::filesystem::path shortcut_path(const std::filesystem::path& folder, std::wstring_view name,
                                    const std::filesystem::path& target);

// Writes a shell link to target at shortcut_path(folder, name, target); the folder must exist.
// The link's working folder is the target's folder; nothing else is set. Usable whether or not
// the thread already uses COM. Failures throw std::system_error with the HRESULT.
std::filesystem::path create_shortcut(const std::filesystem::path& folder, std::wstring_view name,
                                      const std::filesystem::path& target);

// Writes the same link as create_shortcut into a file the caller has opened for reading and
// writing, for a link that must not be written by name: the file then holds exactly the link's
// bytes, from its start, whatever it held before. The file's position afterwards is its end.
void write_shortcut(HANDLE file, const std::filesystem::path& target);

} // namespace vd
