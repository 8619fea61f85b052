// Shortcuts to programs: the Start-menu and desktop links of an installed program.
#pragma once

#include <filesystem>
#include <string_view>

namespace vd {

// Writes a shell link to target into folder, which must exist, and returns the link file's
// path: the folder joined with name (the target's stem when name is empty) with ".lnk" added to
// the text, so that a name ending in a version such as "8.01" keeps it whole. The link's
// working folder is the target's folder; nothing else is set. Usable whether or not the thread
// already uses COM. Failures throw std::system_error with the HRESULT.
std::filesystem::path create_shortcut(const std::filesystem::path& folder, std::wstring_view name,
                                      const std::filesystem::path& target);

} // namespace vd
