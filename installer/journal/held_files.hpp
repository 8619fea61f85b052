// Acting on a file or a folder through the handle that was opened and checked for it (see
// installer/payload/linked_folders.hpp), never again by its name: moving a replaced file or a
// previous link aside, deleting what the installation made, and putting a backup back into its
// folder, all of it on the way in and in the rollback alike.
//
// Other programs hold files open: indexers, scanners, sync clients and viewers, mostly sharing
// reading, writing and deletion. Such a file moves, and is deleted, while they hold it; but its
// deletion only waits for the last of them to let go, and until then its name stays taken. So a
// file that goes from its place first takes a fresh name beside it, in its own folder, and its
// own name is free at once for what comes there.
#pragma once

#include <filesystem>

#include <windows.h>

// Moves the file that file holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES) to
// target, a fresh name, with the attributes it had. Across volumes its bytes are copied through
// the handle into a new file at target, which is flushed, and the file then leaves its place
// (path, in the folder that folder holds, or by path's own folder when folder is null) and is
// deleted through its handle. Throws std::system_error, and the file stays as it was.
void move_held_file(HANDLE file, const std::filesystem::path& target, HANDLE folder, const std::filesystem::path& path);

// Deletes what item holds (opened with DELETE and FILE_WRITE_ATTRIBUTES), read-only or not; a
// folder only when it is empty. A file leaves its place first, as above. False when it stays,
// under its name, with the attributes it had.
bool delete_held(HANDLE item, HANDLE folder, const std::filesystem::path& path) noexcept;

// Moves the backup that backup holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES,
// sharing all three, so that a program that had the user's file open keeps it) into the folder
// that folder holds, checked to be target's folder, under target's name, never over anything
// that stands there: a rename relative to the folder's handle, or, across volumes, a copy into a
// file made there, checked against base (nothing asked with an empty base) and flushed, and the
// backup deleted through its handle. False when the backup stays where it was, whole.
bool restore_held(HANDLE backup, HANDLE folder, const std::filesystem::path& base,
                  const std::filesystem::path& target) noexcept;
