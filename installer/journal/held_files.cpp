#include "installer/journal/held_files.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/relative_file.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/payload/linked_folders.hpp"

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

// The bytes of the held file go through the handle into copy, from its start. A write that the
// system cuts short without a failure can only be a full disk.
void copy_held_bytes(HANDLE file, HANDLE copy) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        vd::throw_system_error();
    std::vector<char> bytes(64 * 1024);
    for (DWORD read = 0;;) {
        if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
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

// Deletes the file through its handle, and frees its name first: it takes a fresh name beside
// it, which goes with it once the last program that holds it lets go. A file that cannot be
// renamed is deleted under its name all the same; one that cannot be deleted gets its name back.
bool dispose_from_its_place(HANDLE file, HANDLE folder, const fs::path& path) noexcept {
    bool renamed = false;
    try {
        renamed = rename_beside(file, folder, path, vd::random_name(L"vd-%%%%%.tmp")) == ERROR_SUCCESS;
    } catch (...) {
    }
    if (dispose_held(file))
        return true;
    if (renamed)
        rename_beside(file, folder, path, path.filename().native());
    return false;
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
        if (!dispose())
            vd::throw_system_error();
    } catch (...) {
        dispose_held(copy);
        throw;
    }
    // Zero leaves the time of the last change to the system.
    kept.ChangeTime.QuadPart = 0;
    set_attributes(copy, kept, attributes);
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

bool delete_held(HANDLE item, HANDLE folder, const fs::path& path) noexcept {
    try {
        FILE_BASIC_INFO basic{};
        const DWORD attributes = clear_read_only(item, basic);
        const bool deleted = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? dispose_held(item) : dispose_from_its_place(item, folder, path);
        if (deleted)
            return true;
        set_attributes(item, basic, attributes);
    } catch (...) {
    }
    return false;
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
                copy_and_delete_held_file(backup, copy.handle.get(), attributes, [&] { return dispose_held(backup); });
                return true;
            }
        }
    } catch (...) {
    }
    if (cleared)
        set_attributes(backup, basic, attributes);
    return false;
}
