// The folders below which an unelevated user may make or change things, and the installer,
// elevated, still writes: the user's own application data, Start menu and desktop, the public
// desktop, and the shared folders that the installer opens to every user (ProgramData\Vandrel).
// A link put there (a junction, a symbolic link, a mount point: a reparse point), or a hard link
// in place of a file, would send the installer's files, grants, moves and deletions into a
// folder the user may not change, the system folder for one; and a name looked at first and
// used afterwards may lead elsewhere by the time it is used. So below such a folder (the base)
// only the base is opened by its path: every folder and file below it is reached one name at a
// time from the held handle of the folder above it, without following a link, checked through
// its own handle (its final path is the base's own followed by the rest of the path, it is no
// reparse point, a file has one name), and then acted on through that same handle. Other
// folders, the installation folder among them, may well be links.
#pragma once

#include "foundation/system/unique_any.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>
#include <vector>

#include <windows.h>

// ERROR_REPARSE_POINT_ENCOUNTERED, the system error of the refused file ("1:0000112B" on the
// install page); MinGW's winerror.h does not have it.
inline constexpr int reparse_point_encountered = 4395;

// What a refusal throws: std::filesystem::filesystem_error with the system error
// reparse_point_encountered, naming file (the file that would have gone through the link) and
// then the item that failed its check.
[[noreturn]] void throw_linked(const std::filesystem::path& file, const std::filesystem::path& item);

// Whether a failure is such a refusal, which callers that go on past other failures pass on.
bool is_refusal(const std::system_error& failure);

// Whether held holds a folder. Throws std::system_error.
bool holds_folder(HANDLE held);

// Deletes what held holds (opened with DELETE) once it is closed; false when it cannot.
bool dispose_held(HANDLE held) noexcept;

// Checks through held that it holds path: with a base, its final path is base's own followed by
// the rest of path (path lies below base, or is base); with an empty base that is not asked.
// Either way it is no reparse point, and a file has one name. Throws as above.
void check_held(HANDLE held, const std::filesystem::path& base, const std::filesystem::path& path,
                const std::filesystem::path& file);

// Opens what stands at path (a file or a folder) with the access asked, reached from the base
// down, without following a link, and checks it as check_held does. An empty holder when nothing
// is there; any other failure to open throws that system error. Others may read, write and
// delete it meanwhile. A path whose final path would reach MAX_PATH fails with
// ERROR_FILENAME_EXCED_RANGE, naming file, before anything is opened.
vd::unique_file open_checked(const std::filesystem::path& base, const std::filesystem::path& path, DWORD access,
                             const std::filesystem::path& file);

// As open_checked, by path's name in folder, the handle that checked_folders returned for path's
// folder below base.
vd::unique_file open_checked_in(HANDLE folder, const std::filesystem::path& base, const std::filesystem::path& path, DWORD access);

// Opens the file at path to be written and read back, by its name in folder (the handle that
// checked_folders returned for path's folder), making it when it is missing and never truncating
// it, and checks it as check_held does. A file made here that fails its check is deleted through
// its handle; a read-only one loses the attribute through it. Others may read and write it
// meanwhile, not move it. With an empty base (the installation folder) folder is not used: the
// file is opened by its path as it stands, a link followed, and not checked. Throws as above, or
// the system's error. created, where given, tells whether a checked file was made by this call.
vd::unique_file create_checked_file(HANDLE folder, const std::filesystem::path& base, const std::filesystem::path& path,
                                    bool* created = nullptr);

// Every folder below base down to folder, in one walk from base down over one text: each is
// opened, or made and then opened, by its name in the folder above, and checked, and the folder
// above is held (without delete sharing: nobody moves it) until the one below it is checked.
// Each folder made is reported to made, outermost first, while it is held. A folder made here
// that fails its check is removed through its handle. Returns folder's handle, or an empty
// holder when make is false and a folder of it is missing. Throws as above, or the system's error
// of a folder that could not be made.
using folder_made = std::function<void(std::wstring_view folder)>;
vd::unique_file checked_folders(const std::filesystem::path& base, const std::filesystem::path& folder,
                                const std::filesystem::path& file, bool make, const folder_made& made = {});

// Looks without making anything: the folders of file's that are there, and file itself if it
// is, must pass their checks. Throws as above.
void refuse_linked(const std::filesystem::path& base, const std::filesystem::path& file);

// Grants BUILTIN\Users access to each of folders (outermost first, each below the one before),
// or to the file, through a handle opened as open_checked opens it: the folders in one walk down
// from the base. Throws as above when one is refused; any other failure leaves it as it was and is
// not reported.
void grant_users_on_folders(const std::filesystem::path& base, const std::vector<std::filesystem::path>& folders,
                            std::uint32_t mask, std::uint32_t inheritance);
void grant_users_on_file(const std::filesystem::path& base, const std::filesystem::path& file, std::uint32_t mask);
