// The folders below which an unelevated user may make or change things, and the installer,
// elevated, still writes: the user's own application data, Start menu and desktop, the public
// desktop, and the shared folders that the installer opens to every user (ProgramData\Vandrel).
// A link put there (a junction, a symbolic link, a mount point: a reparse point), or a hard link
// in place of a file, would send the installer's files, grants and moves into a folder the user
// may not change, the system folder for one. Nothing is created, written, granted, moved aside or
// deleted through one: the check runs from the user's folder down to the file, the file
// included, and a grant or a move goes through the handle that was checked. Other folders, the
// installation folder among them, may well be links.
#pragma once

#include "foundation/system/unique_any.hpp"

#include <cstdint>
#include <filesystem>

#include <windows.h>

// ERROR_REPARSE_POINT_ENCOUNTERED, the system error of the refused file ("1:0000112B" on the
// install page); MinGW's winerror.h does not have it.
inline constexpr int reparse_point_encountered = 4395;

// When a folder from first down to folder (both inclusive; both in normal form, first at or
// above folder) is a reparse point: throws std::filesystem::filesystem_error with the system
// error reparse_point_encountered, naming the file and then the outermost such folder. Folders
// not made yet are none; a folder whose attributes cannot be read throws that error.
void refuse_linked_folders(const std::filesystem::path& first, const std::filesystem::path& folder,
                           const std::filesystem::path& file);

// The same for the folders strictly below root down to folder: root is a folder the system
// names for the user (the user's Start menu, say), which may lie where the system puts it.
void refuse_links_below(const std::filesystem::path& root, const std::filesystem::path& folder,
                        const std::filesystem::path& file);

// Opens what stands at path with the access asked, without following a link, and throws as
// above when it is a reparse point, or a file with more than one name (a hard link). An empty
// holder when nothing is there; any other failure to open throws that error.
vd::unique_file open_unlinked(const std::filesystem::path& path, DWORD access);

// The file itself refused as open_unlinked refuses it; nothing there is no failure.
void refuse_linked_file(const std::filesystem::path& file);

// Grants BUILTIN\Users access to the folder, or to the file, through a handle opened by
// open_unlinked. Throws as above when it is refused; any other failure leaves it as it was and
// is not reported.
void grant_users_on_folder(const std::filesystem::path& folder, std::uint32_t mask, std::uint32_t inheritance);
void grant_users_on_file(const std::filesystem::path& file, std::uint32_t mask);

// Moves the file that handle holds (opened by open_unlinked with DELETE, GENERIC_READ and
// FILE_WRITE_ATTRIBUTES) to target, a fresh name, with the attributes it had; across volumes
// its bytes are copied through the handle and the file is deleted through it. Throws
// std::system_error, and the file stays as it was.
void move_held_file(HANDLE file, const std::filesystem::path& target);
