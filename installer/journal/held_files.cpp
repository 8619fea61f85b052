#include "installer/journal/held_files.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/relative_file.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/payload/linked_folders.hpp"

#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

FILE_BASIC_INFO basic_info(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        vd::throw_system_error();
    return basic;
}

bool set_attributes(HANDLE file, FILE_BASIC_INFO basic, DWORD attributes) noexcept {
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// Read-only files refuse to be deleted, and so to leave another volume: the attribute goes for
// the step and comes back when the step fails. The attributes the file had.
DWORD clear_read_only(HANDLE file, FILE_BASIC_INFO& basic) {
    basic = basic_info(file);
    const DWORD attributes = basic.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !set_attributes(file, basic, attributes & ~FILE_ATTRIBUTE_READONLY))
        vd::throw_system_error();
    return attributes;
}

// The name as the file system takes it: a rename's name is handed on as it stands, and no file
// system takes a relative or DOS-only form.
std::wstring system_form(const fs::path& path) {
    const auto& text = path.native();
    return text.starts_with(L"\\\\?\\") ? L"\\??\\" + text.substr(4) : L"\\??\\" + text;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes a whole copy may take: those a program can set, less "offline", which a
// placeholder has and a copy of its bytes has not.
constexpr DWORD copied_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The file's bytes as its programs read them: the same file opened again without
// FILE_FLAG_OPEN_REPARSE_POINT. Through a handle opened with it, a filter's reparse point (a file
// compressed by Windows, deduplicated, a cloud placeholder) gives its raw stream, zeros or nothing,
// and the copy would put that back in place of the user's file. A name surrogate opened again
// would lead to its target instead: a link has no bytes of its own to copy.
vd::unique_file open_content(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
        vd::throw_system_error();
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag))
        vd::throw_system_error(ERROR_NOT_SAME_DEVICE);
    vd::unique_file content(::ReOpenFile(file, GENERIC_READ, share_all, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!content)
        vd::throw_system_error();
    return content;
}

// The bytes of the held file go, as its filter provides them, into copy. A write that the system
// cuts short without a failure can only be a full disk.
void copy_held_bytes(HANDLE file, HANDLE copy) {
    const auto content = open_content(file);
    std::vector<char> bytes(64 * 1024);
    for (DWORD read = 0;;) {
        if (!::ReadFile(content.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            vd::throw_system_error();
        if (read == 0)
            return;
        DWORD written = 0;
        if (!::WriteFile(copy, bytes.data(), read, &written, nullptr))
            vd::throw_system_error();
        if (written != read)
            vd::throw_system_error(ERROR_DISK_FULL);
    }
}

// Renames what item holds to name beside path: in the folder that folder holds, or by path's
// folder when there is none.
DWORD rename_beside(HANDLE item, HANDLE folder, const fs::path& path, const std::wstring& name) noexcept {
    try {
        if (folder)
            return vd::rename_relative(item, folder, name);
        return vd::rename_relative(item, nullptr, system_form(path.parent_path() / name));
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

// Where a file that goes waits for the last program that holds it: a fresh name in the installer's
// own temporary folder, which only administrators may open, when that is on the file's volume
// (nothing of it then keeps its folder from going), else a fresh name beside it.
struct aside_name {
    fs::path path;
    bool in_temporary_folder = false;
};
std::optional<aside_name> put_aside(HANDLE file, HANDLE folder, const fs::path& path) noexcept {
    try {
        auto in_temporary = vd::unique_temp_path(aside_pattern);
        if (vd::rename_relative(file, nullptr, system_form(in_temporary)) == ERROR_SUCCESS)
            return aside_name{std::move(in_temporary), true};
        const auto name = vd::random_name(aside_pattern);
        if (rename_beside(file, folder, path, name) == ERROR_SUCCESS)
            return aside_name{path.parent_path() / name, false};
    } catch (...) {
    }
    return std::nullopt;
}

// What became of a file that was to go.
struct disposal {
    bool gone = false;
    DWORD error = ERROR_SUCCESS;  // why it stays
    fs::path left_as;             // where it stays, when not under its own name

    static disposal went() { return {true, ERROR_SUCCESS, {}}; }
    static disposal stayed(DWORD error, fs::path left_as = {}) { return {false, error, std::move(left_as)}; }
};

// Deletes the file through its handle, and frees its name first: it goes aside, and goes from
// there once the last program that holds it lets go. A file that cannot be put aside is deleted
// under its name all the same; one that cannot be deleted (another program has it loaded) gets
// back the name it had on disk, which may be spelt otherwise than path.
disposal dispose_from_its_place(HANDLE file, HANDLE folder, const fs::path& path) noexcept {
    std::wstring own_name;
    try {
        own_name = vd::final_path(file).filename().native();
    } catch (...) {
        own_name = path.filename().native();
    }
    const auto aside = put_aside(file, folder, path);
    if (dispose_held(file))
        return disposal::went();
    const DWORD error = ::GetLastError();
    if (!aside || rename_beside(file, folder, path, own_name) == ERROR_SUCCESS)
        return disposal::stayed(error);
    // Its own name was taken meanwhile. In the installer's own folder it waits for the restart;
    // beside its place it stays, and is named.
    if (aside->in_temporary_folder && delete_at_restart(aside->path))
        return disposal::went();
    return disposal::stayed(error, aside->path);
}

// Another volume: the bytes go into the new file copy, made at its name just now and flushed
// to disk, and only then does the held file go (dispose). What was copied goes again, through
// its own handle, when that fails. The copy keeps the file's attributes and times, as a move on
// one volume does.
template <class Dispose>
void copy_and_delete_held_file(HANDLE file, HANDLE copy, DWORD attributes, Dispose dispose) {
    FILE_BASIC_INFO kept{};
    try {
        kept = basic_info(file);
        copy_held_bytes(file, copy);
        if (!::FlushFileBuffers(copy))
            vd::throw_system_error();
        const disposal result = dispose();
        if (!result.gone && !result.left_as.empty())
            throw file_left_aside(std::error_code(static_cast<int>(result.error), std::system_category()), result.left_as);
        if (!result.gone)
            vd::throw_system_error(result.error);
    } catch (...) {
        dispose_held(copy);
        throw;
    }
    // Zero leaves the time of the last change to the system.
    kept.ChangeTime.QuadPart = 0;
    set_attributes(copy, kept, attributes & copied_attributes);
}

} // namespace

void move_held_file(HANDLE file, const fs::path& target, HANDLE folder, const fs::path& path) {
    FILE_BASIC_INFO basic{};
    const DWORD attributes = clear_read_only(file, basic);
    try {
        const DWORD error = vd::rename_relative(file, nullptr, system_form(target));
        if (error == ERROR_NOT_SAME_DEVICE) {
            // The backup's folder is the installer's own: its name is no one else's to change.
            const vd::unique_file copy(::CreateFileW(target.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                     0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!copy)
                vd::throw_system_error();
            copy_and_delete_held_file(file, copy.get(), attributes, [&] { return dispose_from_its_place(file, folder, path); });
            return;
        }
        if (error != ERROR_SUCCESS)
            vd::throw_system_error(error);
    } catch (...) {
        set_attributes(file, basic, attributes);
        throw;
    }
    set_attributes(file, basic, attributes);
}

bool delete_held(HANDLE item, HANDLE folder, const fs::path& path, fs::path* left_as) noexcept {
    if (left_as)
        left_as->clear();
    try {
        FILE_BASIC_INFO basic{};
        const DWORD attributes = clear_read_only(item, basic);
        const disposal result = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? (dispose_held(item) ? disposal::went() : disposal::stayed(::GetLastError()))
                                                                        : dispose_from_its_place(item, folder, path);
        if (result.gone)
            return true;
        set_attributes(item, basic, attributes);
        if (left_as)
            *left_as = result.left_as;
    } catch (...) {
    }
    return false;
}

bool is_aside_name(std::wstring_view name) noexcept {
    const std::wstring_view pattern = aside_pattern;
    if (name.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const bool matches = pattern[i] == L'%' ? (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') : c == pattern[i];
        if (!matches)
            return false;
    }
    return true;
}

bool delete_at_restart(const fs::path& path) noexcept {
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool restore_held(HANDLE backup, HANDLE folder, const fs::path& base, const fs::path& target) noexcept {
    FILE_BASIC_INFO basic{};
    DWORD attributes = 0;
    bool cleared = false;
    try {
        attributes = clear_read_only(backup, basic);
        cleared = true;
        const DWORD error = vd::rename_relative(backup, folder, target.filename().native());
        if (error == ERROR_SUCCESS) {
            set_attributes(backup, basic, attributes);
            return true;
        }
        if (error == ERROR_NOT_SAME_DEVICE) {
            auto copy = vd::open_relative(folder, target.filename().native(), GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES, 0,
                                          vd::relative_disposition::new_only, vd::relative_kind::file);
            if (copy.handle) {
                try {
                    check_held(copy.handle.get(), base, target, target);
                } catch (...) {
                    dispose_held(copy.handle.get());
                    throw;
                }
                copy_and_delete_held_file(backup, copy.handle.get(), attributes, [&] {
                    return dispose_held(backup) ? disposal::went() : disposal::stayed(::GetLastError());
                });
                return true;
            }
        }
    } catch (...) {
    }
    if (cleared)
        set_attributes(backup, basic, attributes);
    return false;
}
