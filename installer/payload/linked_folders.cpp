#include "installer/payload/linked_folders.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/security.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::error_code linked_error(reparse_point_encountered, std::system_category());

// The file that would have gone through the link comes first: the install page names it.
[[noreturn]] void throw_linked(const fs::path& file, const fs::path& link) {
    throw fs::filesystem_error("reparse point below a folder users can change", file, link, linked_error);
}

[[noreturn]] void throw_linked(const fs::path& link) {
    throw fs::filesystem_error("reparse point below a folder users can change", link, linked_error);
}

bool is_missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The attributes of the item itself: GetFileAttributesW does not follow a reparse point at the
// end of the path. Empty when nothing is there.
std::optional<DWORD> own_attributes(const fs::path& item) {
    const DWORD attributes = ::GetFileAttributesW(item.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return attributes;
    const DWORD error = ::GetLastError();
    if (is_missing(error))
        return std::nullopt;
    vd::throw_system_error(error);
}

// Every folder from folder up to the shortest one whose text is at least shortest long,
// outermost first, as far as they exist.
void refuse_folder_chain(const fs::path& folder, const fs::path& file, std::size_t shortest) {
    if (folder.native().size() < shortest)
        return;
    std::vector<fs::path> chain{folder};
    while (chain.back().has_relative_path()) {
        auto parent = chain.back().parent_path();
        if (parent.native().size() < shortest || parent == chain.back())
            break;
        chain.push_back(std::move(parent));
    }
    for (auto current = chain.rbegin(); current != chain.rend(); ++current) {
        const auto attributes = own_attributes(*current);
        if (!attributes)
            return;
        if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            throw_linked(file, *current);
    }
}

} // namespace

void refuse_linked_folders(const fs::path& first, const fs::path& folder, const fs::path& file) {
    refuse_folder_chain(folder, file, first.native().size());
}

void refuse_links_below(const fs::path& root, const fs::path& folder, const fs::path& file) {
    refuse_folder_chain(folder, file, root.native().size() + 1);
}

vd::unique_file open_unlinked(const fs::path& path, DWORD access) {
    // Wine opens what a link leads to even with FILE_FLAG_OPEN_REPARSE_POINT, and then the
    // handle cannot tell; the name can.
    const auto attributes = own_attributes(path);
    if (!attributes)
        return {};
    if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw_linked(path);
    vd::unique_file handle(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        const DWORD error = ::GetLastError();
        if (is_missing(error))
            return {};
        vd::throw_system_error(error);
    }
    // Asked of the handle that the caller acts through: a link swapped in after the name was
    // looked at is caught here. A second name makes the file another's too: what the grant
    // or the move does to it, it does to that file wherever it lies.
    BY_HANDLE_FILE_INFORMATION held{};
    if (!::GetFileInformationByHandle(handle.get(), &held))
        vd::throw_system_error();
    if ((held.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (!(held.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && held.nNumberOfLinks > 1))
        throw_linked(path);
    return handle;
}

void refuse_linked_file(const fs::path& file) {
    open_unlinked(file, 0);
}

namespace {

void grant_through_handle(const fs::path& item, std::uint32_t mask, std::uint32_t inheritance) {
    vd::unique_file handle;
    try {
        handle = open_unlinked(item, READ_CONTROL | WRITE_DAC);
    } catch (const fs::filesystem_error&) {
        throw;
    } catch (const std::system_error&) {
        return;
    }
    if (handle)
        vd::grant_users_access(handle.get(), mask, inheritance);
}

} // namespace

void grant_users_on_folder(const fs::path& folder, std::uint32_t mask, std::uint32_t inheritance) {
    grant_through_handle(folder, mask, inheritance);
}

void grant_users_on_file(const fs::path& file, std::uint32_t mask) {
    grant_through_handle(file, mask, 0);
}

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

// The name in the form that the system passes on as it stands: SetFileInformationByHandle
// hands a rename's name to the file system, which takes no relative or DOS-only form.
std::wstring system_form(const fs::path& path) {
    const auto& text = path.native();
    return text.starts_with(L"\\\\?\\") ? L"\\??\\" + text.substr(4) : L"\\??\\" + text;
}

bool rename_held_file(HANDLE file, const fs::path& target) {
    const std::wstring name = system_form(target);
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

// Another volume: the bytes go through the handle into a new file, then the held file is
// deleted through it. What was copied goes again when that fails.
void copy_and_delete_held_file(HANDLE file, const fs::path& target) {
    vd::unique_file copy(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy)
        vd::throw_system_error();
    const auto discard = [&](DWORD error) {
        copy.reset();
        ::DeleteFileW(target.c_str());
        vd::throw_system_error(error);
    };
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        discard(::GetLastError());
    std::vector<char> bytes(64 * 1024);
    for (DWORD read = 0;;) {
        if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            discard(::GetLastError());
        if (read == 0)
            break;
        DWORD written = 0;
        if (!::WriteFile(copy.get(), bytes.data(), read, &written, nullptr) || written != read)
            discard(::GetLastError());
    }
    FILE_DISPOSITION_INFO gone{TRUE};
    if (!::SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone))
        discard(::GetLastError());
}

} // namespace

void move_held_file(HANDLE file, const fs::path& target) {
    const FILE_BASIC_INFO basic = basic_info(file);
    const DWORD attributes = basic.FileAttributes;
    // A read-only file refuses to be deleted, and so to leave another volume; the backup
    // carries the attribute again.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !set_attributes(file, basic, attributes & ~FILE_ATTRIBUTE_READONLY))
        vd::throw_system_error();
    try {
        if (!rename_held_file(file, target)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_NOT_SAME_DEVICE)
                vd::throw_system_error(error);
            copy_and_delete_held_file(file, target);
            ::SetFileAttributesW(target.c_str(), attributes);
            return;
        }
    } catch (...) {
        set_attributes(file, basic, attributes);
        throw;
    }
    set_attributes(file, basic, attributes);
}
