// Path questions the installer asks of the file system: whether two names mean the same file
// or folder, and a free name in the temporary folder for a backup copy.
#pragma once

#include <filesystem>
#include <string>

namespace vd {

// True when the two paths name the same file or folder, whether they exist or not: by their
// text, then by the file system's identity, then by their absolute normal forms compared
// without regard to case. File-system errors are no failure here.
bool same_path(const std::filesystem::path& first, const std::filesystem::path& second);

// The temporary folder joined with the pattern, each '%' replaced by a random lower-case
// hexadecimal digit, drawn again while such a file exists. The pattern must hold a '%'.
// Nothing is created. Throws std::filesystem::filesystem_error when there is no temporary
// folder.
std::filesystem::path unique_temp_path(std::wstring pattern);

namespace details {

// The absolute form of a path with "." and ".." resolved by its text alone; the form that
// same_path compares when the file system cannot tell.
std::filesystem::path normal_form(const std::filesystem::path& path);

} // namespace details

} // namespace vd
