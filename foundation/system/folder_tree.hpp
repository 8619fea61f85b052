// Creating a folder that a user typed, with every missing folder above it, for a caller that
// shows the outcome as a code's text rather than catching an exception.
#pragma once

#include <windows.h>

namespace vd {

// The library's own code for a path it cannot use; its text is string 0xF109.
inline constexpr HRESULT e_unusable_path = static_cast<HRESULT>(0xE8B0F109);

// Trims the text (leading blanks and tabs; trailing blanks, tabs and full stops), makes it
// absolute against the current folder and creates the folders. S_OK when the folder exists
// afterwards; E_INVALIDARG for a null or blank text; a file-system failure as its HRESULT.
HRESULT create_folder_tree(const wchar_t* text);

} // namespace vd
