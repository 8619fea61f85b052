// Creating a folder with every missing folder above it: from a path that a user typed, for a
// caller that shows the outcome as a code's text rather than catching an exception, and from a
// full path that the program made.
#pragma once

#include <filesystem>

#include <windows.h>

namespace vd {

// The library's own code for a path it cannot use; its text is string 0xF109.
inline constexpr HRESULT e_unusable_path = static_cast<HRESULT>(0xE8B0F109);

// Trims the text (leading blanks and tabs; trailing blanks, tabs and full stops), makes it
// absolute against the current folder and creates the folders. S_OK when the folder exists
// afterwards; E_INVALIDARG for a null or blank text; a file-system failure as its HRESULT.
HRESULT create_folder_tree(const wchar_t* text);

// Creates every missing folder of an absolute path, from its root down; the root (a drive, or
// a UNC server and share) is never created. Throws std::filesystem::filesystem_error with the
// system's code: that of the folder that could not be made, ERROR_ALREADY_EXISTS when a file
// is in the place of a folder, or ERROR_BAD_PATHNAME for a path that is not absolute.
void create_folders(const std::filesystem::path& folder);

namespace details {

// The HRESULT that create_folder_tree gives for a failure.
HRESULT hresult_of(const std::filesystem::filesystem_error& error);

} // namespace details

} // namespace vd
