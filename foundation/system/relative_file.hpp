// Opening, and renaming into, a file or a folder by its bare name inside a folder that is held
// open: the name is looked up in the folder that handle holds, wherever that folder has been
// moved since and whatever has taken its old path. Win32 names only by a whole path, so these are
// the native calls beneath CreateFileW and SetFileInformationByHandle, with the folder as the
// name's root.
#pragma once

#include "foundation/system/unique_any.hpp"

#include <string_view>

#include <windows.h>

namespace vd {

enum class relative_disposition {
    existing,         // opens what is there
    existing_or_new,  // opens what is there, or makes it
    new_only,         // makes it; fails when something is there
};

enum class relative_kind { any, folder, file };

struct relative_open_result {
    unique_file handle;      // empty on failure
    bool created = false;    // made by this call
    DWORD error = ERROR_SUCCESS;
};

// Opens name (one element: no separator, not "." or "..", no trailing dot or blank, which the
// whole-path calls would drop and this one would keep) in the folder that folder holds, never
// following a link that stands there: a link is opened itself. The handle is synchronous, as
// CreateFileW's are, and may always read attributes. A failure is a result, with its Win32 code:
// ERROR_FILE_NOT_FOUND when nothing is there, ERROR_DIRECTORY when a file stands where a folder
// is asked for, ERROR_INVALID_NAME for a name that is no single element.
relative_open_result open_relative(HANDLE folder, std::wstring_view name, DWORD access, DWORD share,
                                   relative_disposition disposition, relative_kind kind) noexcept;

// Renames what item holds (opened with DELETE) to name, never over anything that stands there:
// name is a bare name in the folder that folder holds, or, with no folder, a whole path in the
// system's form ("\??\C:\..."). ERROR_SUCCESS or the failure's Win32 code. Wine's
// SetFileInformationByHandle makes a whole path of any name first, and then refuses the folder.
DWORD rename_relative(HANDLE item, HANDLE folder, std::wstring_view name) noexcept;

} // namespace vd
