#include "installer/payload/linked_folders.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/security.hpp"

#include <optional>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const std::error_code linked_error(reparse_point_encountered, std::system_category());

bool is_missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring_view without_trailing_separators(std::wstring_view text) {
    while (text.size() > 3 && is_separator(text.back()))
        text.remove_suffix(1);
    return text;
}

// By the file system's own rule for names: ordinal, case ignored.
bool same_text(std::wstring_view a, std::wstring_view b) {
    a = without_trailing_separators(a);
    b = without_trailing_separators(b);
    return a.size() == b.size() &&
           ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Where the base really is, once for a walk: the system names the user's folders where it puts
// them, and that may be through a link of the administrator's (a profile moved to another disk).
class checked_base {
public:
    explicit checked_base(const fs::path& base) : base_(without_trailing_separators(base.native())) {
        if (base_.empty())
            return;
        const vd::unique_file folder(::CreateFileW(base.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder)
            vd::throw_system_error();
        final_ = vd::final_path(folder.get()).native();
    }

    // The final path that path must have: the base's, followed by the rest of path. Empty when
    // path does not lie below the base.
    std::optional<std::wstring> intended(std::wstring_view path) const {
        if (path.size() < base_.size() || !same_text(path.substr(0, base_.size()), base_) ||
            (path.size() > base_.size() && !is_separator(path[base_.size()]) && !is_separator(base_.back())))
            return std::nullopt;
        return final_ + std::wstring(path.substr(base_.size()));
    }

    bool empty() const noexcept { return base_.empty(); }
    // The length of the base's text, where the walk below it starts.
    std::size_t length() const noexcept { return base_.size(); }

    void check(HANDLE held, std::wstring_view path, const fs::path& file) const {
        if (!base_.empty()) {
            const auto wanted = intended(path);
            if (!wanted || !same_text(vd::final_path(held).native(), *wanted))
                throw_linked(file, fs::path(path));
        }
        BY_HANDLE_FILE_INFORMATION information{};
        if (!::GetFileInformationByHandle(held, &information))
            vd::throw_system_error();
        // A second name makes the file another's too: what is done to it is done to that file,
        // wherever it lies.
        if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && information.nNumberOfLinks > 1))
            throw_linked(file, fs::path(path));
    }

private:
    std::wstring base_;
    std::wstring final_;
};

// Wine opens what a link leads to even with FILE_FLAG_OPEN_REPARSE_POINT, and without a base the
// handle cannot tell: the name can. (With a base the final path tells.)
void refuse_linked_name(const wchar_t* path, const fs::path& file) {
    const DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw_linked(file, path);
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder held on the way down: nobody renames it, or puts a link in its place, while it is.
constexpr DWORD share_but_delete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD unlinked = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

vd::unique_file open_item(const wchar_t* path, DWORD access, DWORD share) {
    return vd::unique_file(::CreateFileW(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr, OPEN_EXISTING, unlinked, nullptr));
}

// A file where a folder of the path must be made: as the library's folder creation reports it.
void require_folder(HANDLE held) {
    if (!holds_folder(held))
        vd::throw_system_error(ERROR_ALREADY_EXISTS);
}

// Opens, or makes and opens, the folder at level and checks it; the folder above it is held.
vd::unique_file next_folder(const checked_base& base, const wchar_t* level, const fs::path& file, bool make,
                            const folder_made& made, std::size_t length) {
    vd::unique_file folder = open_item(level, 0, share_but_delete);
    if (!folder) {
        const DWORD error = ::GetLastError();
        if (!is_missing(error))
            vd::throw_system_error(error);
        if (!make)
            return {};
        const bool made_here = ::CreateDirectoryW(level, nullptr) != FALSE;
        if (!made_here && ::GetLastError() != ERROR_ALREADY_EXISTS)
            vd::throw_system_error();
        folder = open_item(level, DELETE, share_but_delete);
        if (!folder)
            vd::throw_system_error();
        try {
            base.check(folder.get(), std::wstring_view(level, length), file);
        } catch (...) {
            if (made_here)
                dispose_held(folder.get());
            throw;
        }
        if (made_here && made)
            made(std::wstring_view(level, length));
        return folder;
    }
    base.check(folder.get(), std::wstring_view(level, length), file);
    if (make)
        require_folder(folder.get());
    return folder;
}

vd::unique_file walk_folders(const checked_base& checked, const fs::path& folder, const fs::path& file, bool make,
                             const folder_made& made) {
    // The whole folder there and checked is the usual case: one open.
    if (vd::unique_file whole = open_item(folder.c_str(), 0, share_but_delete)) {
        checked.check(whole.get(), folder.native(), file);
        if (make)
            require_folder(whole.get());
        return whole;
    }
    const DWORD error = ::GetLastError();
    if (!is_missing(error))
        vd::throw_system_error(error);
    if (!checked.intended(folder.native()))
        throw_linked(file, folder);
    // From the base down, in one text cut short at each level.
    std::wstring text = folder.native();
    vd::unique_file held;
    vd::for_each_level(text, checked.length(), [&](const wchar_t* level, std::size_t length) {
        vd::unique_file next = next_folder(checked, level, file, make, made, length);
        if (!next)
            return false;
        held = std::move(next);
        return true;
    });
    return held;
}

vd::unique_file open_checked_item(const checked_base& checked, const fs::path& path, DWORD access, const fs::path& file) {
    if (checked.empty())
        refuse_linked_name(path.c_str(), file);
    vd::unique_file item = open_item(path.c_str(), access, share_all);
    if (!item) {
        const DWORD error = ::GetLastError();
        if (is_missing(error))
            return {};
        vd::throw_system_error(error);
    }
    checked.check(item.get(), path.native(), file);
    return item;
}

// A read-only file refuses to be opened for writing: the attribute goes through a handle that
// may not write, which then opens the same file again, by no name, for writing. Anything else
// that refused (a folder in the file's place) is ERROR_ACCESS_DENIED as before.
vd::unique_file writable_again(const checked_base& checked, const fs::path& path, DWORD access, DWORD share, DWORD flags) {
    const vd::unique_file attributes_only(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all, nullptr,
                                                        OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!attributes_only)
        vd::throw_system_error(ERROR_ACCESS_DENIED);
    if (!checked.empty())
        checked.check(attributes_only.get(), path.native(), path);
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(attributes_only.get(), FileBasicInfo, &basic, sizeof basic))
        vd::throw_system_error();
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY) || (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        vd::throw_system_error(ERROR_ACCESS_DENIED);
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(attributes_only.get(), FileBasicInfo, &basic, sizeof basic))
        vd::throw_system_error();
    vd::unique_file file(::ReOpenFile(attributes_only.get(), access, share, flags));
    if (!file)
        vd::throw_system_error();
    return file;
}

} // namespace

bool is_refusal(const std::system_error& failure) {
    return failure.code() == linked_error;
}

bool holds_folder(HANDLE held) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(held, &information))
        vd::throw_system_error();
    return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool dispose_held(HANDLE held) noexcept {
    FILE_DISPOSITION_INFO gone{TRUE};
    return ::SetFileInformationByHandle(held, FileDispositionInfo, &gone, sizeof gone) != FALSE;
}

void throw_linked(const fs::path& file, const fs::path& item) {
    if (file == item || file.empty())
        throw fs::filesystem_error("reparse point below a folder users can change", item, linked_error);
    throw fs::filesystem_error("reparse point below a folder users can change", file, item, linked_error);
}

void check_held(HANDLE held, const fs::path& base, const fs::path& path, const fs::path& file) {
    checked_base(base).check(held, path.native(), file);
}

vd::unique_file open_checked(const fs::path& base, const fs::path& path, DWORD access, const fs::path& file) {
    return open_checked_item(checked_base(base), path, access, file);
}

vd::unique_file create_checked_file(const fs::path& base, const fs::path& path) {
    const checked_base checked(base);
    // Only a checked file may have to be deleted again, through its handle.
    const DWORD access = GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES | (checked.empty() ? 0 : DELETE);
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = checked.empty() ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    vd::unique_file file(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS, flags, nullptr));
    const DWORD error = ::GetLastError();
    const bool made_here = file && error != ERROR_ALREADY_EXISTS;
    if (!file && error == ERROR_ACCESS_DENIED)
        file = writable_again(checked, path, access, share, flags);
    else if (!file)
        vd::throw_system_error(error);
    if (checked.empty())
        return file;
    try {
        checked.check(file.get(), path.native(), path);
    } catch (...) {
        if (made_here)
            dispose_held(file.get());
        throw;
    }
    return file;
}

vd::unique_file checked_folders(const fs::path& base, const fs::path& folder, const fs::path& file, bool make,
                                const folder_made& made) {
    return walk_folders(checked_base(base), folder, file, make, made);
}

void refuse_linked(const fs::path& base, const fs::path& file) {
    const checked_base checked(base);
    walk_folders(checked, file.parent_path(), file, false, {});
    open_checked_item(checked, file, 0, file);
}

namespace {

void grant_through_handle(const fs::path& base, const fs::path& item, std::uint32_t mask, std::uint32_t inheritance) {
    vd::unique_file handle;
    try {
        handle = open_checked(base, item, READ_CONTROL | WRITE_DAC, item);
    } catch (const std::system_error& e) {
        if (is_refusal(e))
            throw;
        return;
    }
    if (handle)
        vd::grant_users_access(handle.get(), mask, inheritance);
}

} // namespace

void grant_users_on_folder(const fs::path& base, const fs::path& folder, std::uint32_t mask, std::uint32_t inheritance) {
    grant_through_handle(base, folder, mask, inheritance);
}

void grant_users_on_file(const fs::path& base, const fs::path& file, std::uint32_t mask) {
    grant_through_handle(base, file, mask, 0);
}
