// Acting on a file or a folder through the handle that was opened and checked for it (see
// installer/payload/linked_folders.hpp), never again by its name: moving a replaced file or a
// previous link aside, deleting what the installation made, and putting a backup back into its
// folder, all of it on the way in and in the rollback alike.
#pragma once

#include <filesystem>

#include <windows.h>

// Moves the file that file holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES) to
// target, a fresh name, with the attributes it had; across volumes its bytes are copied through
// the handle and the file is deleted through it. Throws std::system_error, and the file stays as
// it was.
void move_held_file(HANDLE file, const std::filesystem::path& target);

// Deletes what item holds (opened with DELETE and FILE_WRITE_ATTRIBUTES), read-only or not; a
// folder only when it is empty. False when it stays, with the attributes it had.
bool delete_held(HANDLE item) noexcept;

// Moves the backup that backup holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES)
// into the folder that folder holds, checked to be target's folder, under target's name, never
// over anything that stands there: a rename relative to the folder's handle, or, across volumes,
// a copy into a file made there and checked against base, and the backup deleted through its
// handle. False when the backup stays where it was.
bool restore_held(HANDLE backup, HANDLE folder, const std::filesystem::path& base,
                  const std::filesystem::path& target) noexcept;
