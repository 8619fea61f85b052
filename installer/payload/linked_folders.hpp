// The shared folders are opened to every user, and any user may make a folder in the common
// data folder: a link there (a junction, a symbolic link, a mount point: a reparse point) would
// send the installer's files and grants into a folder the user may not change, the system
// folder for one. Nothing is created, written or granted through such a link; the file that
// would go through it fails instead. Folders outside the shared ones may well be links.
#pragma once

#include <cstdint>
#include <filesystem>

// ERROR_REPARSE_POINT_ENCOUNTERED, the system error of the refused file ("1:0000112B" on the
// install page); MinGW's winerror.h does not have it.
inline constexpr int reparse_point_encountered = 4395;

// When the shared folder, or a folder between it and the file's folder (inclusive; both in
// normal form, the shared folder at or above the other), is a reparse point: throws
// std::filesystem::filesystem_error with the system error reparse_point_encountered, naming
// the file and then the outermost such folder. Folders not made yet are none; a folder whose
// attributes cannot be read throws that error.
void refuse_linked_folders(const std::filesystem::path& shared, const std::filesystem::path& folder,
                           const std::filesystem::path& file);

// Grants BUILTIN\Users access to the folder through a handle of the folder itself, opened
// without following a reparse point. Throws as above when the folder is a reparse point; any
// other failure leaves the folder as it was and is not reported.
void grant_users_on_folder(const std::filesystem::path& folder, std::uint32_t mask, std::uint32_t inheritance);
