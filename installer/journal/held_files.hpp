// Acting on a file or a folder through the handle that was opened and checked for it (see
// installer/payload/linked_folders.hpp), never again by its name: moving a replaced file or a
// previous link aside, deleting what the installation made, and putting a backup back into its
// folder, all of it on the way in and in the rollback alike.
//
// Other programs hold files open: indexers, scanners, sync clients and viewers, mostly sharing
// reading, writing and deletion. Such a file moves, and is deleted, while they hold it; but its
// deletion only waits for the last of them to let go, and until then its name stays taken. So a
// file that goes from its place first takes a fresh name (aside_pattern), and its own name is free
// at once for what comes there: in the installer's own temporary folder when that is on the
// file's volume, so that the file's folder can go at once too, else beside it in its own folder. A
// file that cannot be deleted (another program has it loaded) gets back the name it had on disk.
//
// Programs see a file's bytes through the file system's filters: a file that Windows compressed
// (compact /exe), a deduplicated one or a cloud placeholder is a reparse point whose bytes its
// filter provides. Only a reparse point whose tag is a name surrogate (a symbolic link, a
// junction, a mount point) is a link; any other file is copied through a handle on which its
// filter works.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

#include <windows.h>

// The name of a file put aside, each '%' a random lower-case hexadecimal digit: a backup in the
// temporary folder, or a file that goes while another program holds it.
inline constexpr wchar_t aside_pattern[] = L"vd-%%%%%.tmp";

// Whether name has the form of aside_pattern.
bool is_aside_name(std::wstring_view name) noexcept;

// The failure of a file that could neither leave its place nor get its name back: it stays in its
// folder under the name left_as.
class file_left_aside : public std::system_error {
public:
    file_left_aside(std::error_code code, std::filesystem::path left_as)
        : std::system_error(code, "file left aside"), left_as_(std::move(left_as)) {}
    const std::filesystem::path& left_as() const noexcept { return left_as_; }

private:
    std::filesystem::path left_as_;
};

// Moves the file that file holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES) to
// target, a fresh name, with the attributes it had; a link moves as the link. Across volumes its
// bytes, as its filter provides them, are copied into a new file at target, which is flushed, and
// the file then leaves its place (path, in the folder that folder holds, or by path's own folder
// when folder is null) and is deleted through its handle. A link cannot go to another volume:
// ERROR_NOT_SAME_DEVICE. Throws std::system_error, and the file stays as it was, under the name it
// had on disk; file_left_aside when that name could not be given back.
void move_held_file(HANDLE file, const std::filesystem::path& target, HANDLE folder, const std::filesystem::path& path);

// Deletes what item holds (opened with DELETE and FILE_WRITE_ATTRIBUTES), read-only or not; a
// folder only when it is empty. A file leaves its place first, as above; one that cannot be
// deleted and is left in the installer's temporary folder goes at the next restart. False when it
// stays, with the attributes it had: under its name, or, where left_as is given, under the name it
// took beside its place, which left_as then holds (else it is cleared).
bool delete_held(HANDLE item, HANDLE folder, const std::filesystem::path& path,
                 std::filesystem::path* left_as = nullptr) noexcept;

// Has the system delete path at the next restart, as Windows' own installer does with a file in
// use. Only for a path below the installer's own temporary folder or one that only administrators
// may change: at that time the path is taken as it stands, and a link put on it would steer it.
bool delete_at_restart(const std::filesystem::path& path) noexcept;

// Moves the backup that backup holds (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES,
// sharing all three, so that a program that had the user's file open keeps it) into the folder
// that folder holds, checked to be target's folder, under target's name, never over anything
// that stands there: a rename relative to the folder's handle, or, across volumes, a copy into a
// file made there, checked against base (nothing asked with an empty base) and flushed, and the
// backup deleted through its handle. A link moves only as itself, on one volume. False when the
// backup stays where it was, whole.
bool restore_held(HANDLE backup, HANDLE folder, const std::filesystem::path& base,
                  const std::filesystem::path& target) noexcept;
