#include "installer/payload/linked_folders.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/relative_file.hpp"
#include "foundation/system/security.hpp"

#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

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

[[noreturn]] void throw_too_long(const fs::path& file) {
    throw fs::filesystem_error("path too long to be checked below a folder users can change", file,
                               std::error_code(ERROR_FILENAME_EXCED_RANGE, std::system_category()));
}

// The last element of a path's text.
std::wstring_view last_element(std::wstring_view path) {
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder held on the way down: nobody renames it, or puts a link in its place, while it is.
// (Under Wine a program of the host's still can; what is reached from the held handle stays in
// the folder it holds all the same.)
constexpr DWORD share_but_delete = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Where the base really is, once for a walk, and the base held open: every name below it is
// looked up from that handle down, one element at a time, never by a whole path again. The
// system names the user's folders where it puts them, and that may be through a link of the
// administrator's (a profile moved to another disk): the base alone is opened by its path.
class checked_base {
public:
    explicit checked_base(const fs::path& base) : base_(without_trailing_separators(base.native())) {
        if (base_.empty())
            return;
        folder_.reset(::CreateFileW(base.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share_all, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder_)
            vd::throw_system_error();
        final_ = vd::final_path(folder_.get()).native();
    }

    // The final path that path must have: the base's, followed by the rest of path. Empty when
    // path does not lie below the base.
    std::optional<std::wstring> intended(std::wstring_view path) const {
        if (path.size() < base_.size() || !same_text(path.substr(0, base_.size()), base_) ||
            (path.size() > base_.size() && !is_separator(path[base_.size()]) && !is_separator(base_.back())))
            return std::nullopt;
        return final_ + std::wstring(path.substr(base_.size()));
    }

    // Refuses, before anything is opened or made for it, a path that does not lie below the
    // base, and one whose final path would be too long to be read back and compared: the
    // installer is not long-path-aware, and Wine reads no final path of MAX_PATH or more.
    void require_below(std::wstring_view path, const fs::path& file) const {
        const auto wanted = intended(path);
        if (!wanted)
            throw_linked(file, fs::path(path));
        if (wanted->size() >= MAX_PATH)
            throw_too_long(file);
    }

    bool empty() const noexcept { return base_.empty(); }
    HANDLE folder() const noexcept { return folder_.get(); }

    // Whether path names the base itself.
    bool is_base(std::wstring_view path) const {
        path = without_trailing_separators(path);
        return !base_.empty() && path.size() == base_.size() && same_text(path, base_);
    }

    // The base itself, opened again from its held handle with the access asked: no walk reaches
    // it, since the folder above it lies outside what is checked. A file directly in the base
    // is put back, and a previous link on the desktop put aside, through this handle.
    vd::unique_file reopen(DWORD access, const fs::path& file) const {
        vd::unique_file again(::ReOpenFile(folder_.get(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share_all, FILE_FLAG_BACKUP_SEMANTICS));
        if (!again)
            vd::throw_system_error();
        check(again.get(), base_, file);
        return again;
    }
    // The length of the base's text, where the walk below it starts.
    std::size_t length() const noexcept { return base_.size(); }

    void check(HANDLE held, std::wstring_view path, const fs::path& file) const {
        check_place(held, path, file);
        check_kind(held, path, file);
    }

    // Where it is: its final path is the one intended.
    void check_place(HANDLE held, std::wstring_view path, const fs::path& file) const {
        if (base_.empty())
            return;
        const auto wanted = intended(path);
        if (!wanted || !same_text(final_of(held, path, file), *wanted))
            throw_linked(file, fs::path(path));
    }

    // What it is: no link, and a file with one name. Whether it is a folder.
    bool check_kind(HANDLE held, std::wstring_view path, const fs::path& file) const {
        BY_HANDLE_FILE_INFORMATION information{};
        if (!::GetFileInformationByHandle(held, &information))
            vd::throw_system_error();
        const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A second name makes the file another's too: what is done to it is done to that file,
        // wherever it lies.
        if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || (!folder && information.nNumberOfLinks > 1))
            throw_linked(file, fs::path(path));
        return folder;
    }

private:
    // Wine answers ERROR_MORE_DATA, whatever the buffer, for a final path of MAX_PATH or more
    // (its "\\?\" not counted). It names a file by the path it was reached through, resolved
    // then, and answers ERROR_INVALID_HANDLE once that path leads nowhere: a folder on the way
    // was moved since, which is what the check is there to refuse.
    static std::wstring final_of(HANDLE held, std::wstring_view path, const fs::path& file) {
        try {
            return vd::final_path(held).native();
        } catch (const std::system_error& e) {
            if (e.code() == std::error_code(ERROR_MORE_DATA, std::system_category()))
                throw_too_long(file);
            if (e.code() == std::error_code(ERROR_INVALID_HANDLE, std::system_category()))
                throw_linked(file, fs::path(path));
            throw;
        }
    }

    std::wstring base_;
    std::wstring final_;
    vd::unique_file folder_;
};

// Wine opens what a link leads to even with FILE_FLAG_OPEN_REPARSE_POINT, and without a base the
// handle cannot tell: the name can. (With a base the final path tells.)
void refuse_linked_name(const wchar_t* path, const fs::path& file) {
    const DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw_linked(file, path);
}

constexpr DWORD unlinked = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// By its whole path: only where no base is to be checked.
vd::unique_file open_item(const wchar_t* path, DWORD access, DWORD share) {
    return vd::unique_file(::CreateFileW(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr, OPEN_EXISTING, unlinked, nullptr));
}

// One walk from the base down to a folder, one level at a time, each opened, or made and opened,
// by its last name in the folder above, which is held; each folder above is let go only once the
// one below it has passed its check. An opened folder's kind is checked at once, its place (its
// final path, which takes the system a while to tell) only where it counts: before anything is
// made in it, and at the end of the walk. Every folder on the way has then been opened from its
// own folder above, as no link, and the deepest one's final path is the whole way's; a folder
// made is checked whole before anything else happens.
class folder_walk {
public:
    // Hears of each folder on the way, by the handle of the folder above it, once it has passed
    // the check of its kind.
    using visit = std::function<void(HANDLE above, std::wstring_view folder)>;

    folder_walk(const checked_base& checked, const fs::path& file, bool make, const folder_made& made, const visit& visitor = {})
        : checked_(checked), file_(file), make_(make), made_(made), visitor_(visitor) {}

    // The folder held and checked; empty when make is false and a folder of it is missing.
    vd::unique_file to(const fs::path& folder) {
        std::wstring text(without_trailing_separators(folder.native()));
        if (!checked_.intended(text))
            throw_linked(file_, folder);
        const bool whole = vd::for_each_level(text, checked_.length(), [&](const wchar_t* level, std::size_t length) {
            return next(std::wstring_view(level, length));
        });
        // The deepest folder there is checked all the same: a look that makes nothing still
        // refuses a link on the way.
        place_held();
        if (!whole)
            return {};
        if (!held_) {
            HANDLE copy = nullptr;
            if (!::DuplicateHandle(::GetCurrentProcess(), checked_.folder(), ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
                vd::throw_system_error();
            held_.reset(copy);
        }
        return std::move(held_);
    }

private:
    HANDLE above() const noexcept { return held_ ? held_.get() : checked_.folder(); }

    void place_held() {
        if (!placed_)
            checked_.check_place(held_.get(), held_path_, file_);
        placed_ = true;
    }

    bool next(std::wstring_view level) {
        using vd::relative_disposition;
        const auto name = last_element(level);
        auto opened = vd::open_relative(above(), name, 0, share_but_delete, relative_disposition::existing, vd::relative_kind::any);
        if (!opened.handle && is_missing(opened.error) && make_) {
            place_held();
            opened = vd::open_relative(above(), name, DELETE, share_but_delete, relative_disposition::new_only, vd::relative_kind::folder);
            // Made by somebody else meanwhile: taken as found.
            if (!opened.handle && (opened.error == ERROR_FILE_EXISTS || opened.error == ERROR_ALREADY_EXISTS))
                opened = vd::open_relative(above(), name, 0, share_but_delete, relative_disposition::existing, vd::relative_kind::any);
        }
        if (!opened.handle) {
            if (is_missing(opened.error) && !make_)
                return false;
            vd::throw_system_error(opened.error);
        }
        bool folder = false;
        try {
            if (opened.created)
                checked_.check_place(opened.handle.get(), level, file_);
            folder = checked_.check_kind(opened.handle.get(), level, file_);
        } catch (...) {
            if (opened.created)
                dispose_held(opened.handle.get());
            throw;
        }
        if (!folder) {
            // A file where a folder of the path must be made: as the library's folder creation
            // reports it.
            if (make_)
                vd::throw_system_error(ERROR_ALREADY_EXISTS);
            return false;
        }
        if (visitor_)
            visitor_(above(), level);
        held_ = std::move(opened.handle);
        held_path_ = level;
        placed_ = opened.created;
        if (opened.created && made_)
            made_(level);
        return true;
    }

    const checked_base& checked_;
    const fs::path& file_;
    const bool make_;
    const folder_made& made_;
    const visit& visitor_;
    vd::unique_file held_;
    std::wstring_view held_path_;
    bool placed_ = true;  // the base's place is known
};

vd::unique_file walk_folders(const checked_base& checked, const fs::path& folder, const fs::path& file, bool make,
                             const folder_made& made) {
    return folder_walk(checked, file, make, made).to(folder);
}

// What stands at path, by its name in the held folder that holds it, checked whole.
vd::unique_file open_in_folder(const checked_base& checked, HANDLE folder, const fs::path& path, DWORD access, const fs::path& file) {
    auto item = vd::open_relative(folder, last_element(path.native()), access, share_all, vd::relative_disposition::existing,
                                  vd::relative_kind::any);
    if (!item.handle) {
        if (is_missing(item.error))
            return {};
        vd::throw_system_error(item.error);
    }
    checked.check(item.handle.get(), path.native(), file);
    return std::move(item.handle);
}

vd::unique_file open_checked_item(const checked_base& checked, const fs::path& path, DWORD access, const fs::path& file) {
    if (checked.empty()) {
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
    checked.require_below(path.native(), file);
    if (checked.is_base(path.native()))
        return checked.reopen(access, file);
    const vd::unique_file folder = walk_folders(checked, path.parent_path(), file, false, {});
    return folder ? open_in_folder(checked, folder.get(), path, access, file) : vd::unique_file();
}

// A read-only file refuses to be opened for writing: the attribute goes through attributes_only,
// a handle that may not write, which then opens the same file again, by no name, for writing.
// Anything else that refused (a folder in the file's place) is ERROR_ACCESS_DENIED as before.
vd::unique_file writable_again(HANDLE attributes_only, DWORD access, DWORD share, DWORD flags) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(attributes_only, FileBasicInfo, &basic, sizeof basic))
        vd::throw_system_error();
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY) || (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        vd::throw_system_error(ERROR_ACCESS_DENIED);
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(attributes_only, FileBasicInfo, &basic, sizeof basic))
        vd::throw_system_error();
    vd::unique_file file(::ReOpenFile(attributes_only, access, share, flags));
    if (!file)
        vd::throw_system_error();
    return file;
}

constexpr DWORD file_access = GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES;
constexpr DWORD file_share = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The installation folder's way: by the whole path, a link followed, nothing checked.
vd::unique_file create_unchecked_file(const fs::path& path) {
    vd::unique_file file(::CreateFileW(path.c_str(), file_access, file_share, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (file)
        return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED)
        vd::throw_system_error(error);
    const vd::unique_file attributes_only(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all, nullptr,
                                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!attributes_only)
        vd::throw_system_error(ERROR_ACCESS_DENIED);
    return writable_again(attributes_only.get(), file_access, file_share, 0);
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

vd::unique_file open_checked_in(HANDLE folder, const fs::path& base, const fs::path& path, DWORD access) {
    const checked_base checked(base);
    checked.require_below(path.native(), path);
    return open_in_folder(checked, folder, path, access, path);
}

vd::unique_file create_checked_file(HANDLE folder, const fs::path& base, const fs::path& path, bool* created) {
    if (created)
        *created = false;
    const checked_base checked(base);
    if (checked.empty())
        return create_unchecked_file(path);
    checked.require_below(path.native(), path);
    // Only a checked file may have to be deleted again, through its handle.
    constexpr DWORD access = file_access | DELETE;
    const auto name = last_element(path.native());
    auto opened = vd::open_relative(folder, name, access, file_share, vd::relative_disposition::existing_or_new, vd::relative_kind::file);
    if (!opened.handle && opened.error == ERROR_ACCESS_DENIED) {
        auto attributes_only = vd::open_relative(folder, name, FILE_WRITE_ATTRIBUTES, share_all, vd::relative_disposition::existing,
                                                 vd::relative_kind::any);
        if (!attributes_only.handle)
            vd::throw_system_error(ERROR_ACCESS_DENIED);
        checked.check(attributes_only.handle.get(), path.native(), path);
        opened.handle = writable_again(attributes_only.handle.get(), access, file_share, FILE_FLAG_OPEN_REPARSE_POINT);
    } else if (!opened.handle) {
        vd::throw_system_error(opened.error);
    }
    try {
        checked.check(opened.handle.get(), path.native(), path);
    } catch (...) {
        if (opened.created)
            dispose_held(opened.handle.get());
        throw;
    }
    if (created)
        *created = opened.created;
    return std::move(opened.handle);
}

vd::unique_file checked_folders(const fs::path& base, const fs::path& folder, const fs::path& file, bool make,
                                const folder_made& made) {
    const checked_base checked(base);
    checked.require_below(folder.native(), file);
    return walk_folders(checked, folder, file, make, made);
}

void refuse_linked(const fs::path& base, const fs::path& file) {
    open_checked(base, file, 0, file);
}

namespace {

// A failure to grant leaves the item as it was and is not reported; a refusal is.
template <class Grant>
void grant_or_refuse(Grant grant) {
    try {
        grant();
    } catch (const std::system_error& e) {
        if (is_refusal(e))
            throw;
    }
}

} // namespace

void grant_users_on_folders(const fs::path& base, const std::vector<fs::path>& folders, std::uint32_t mask, std::uint32_t inheritance) {
    if (folders.empty())
        return;
    const checked_base checked(base);
    if (checked.empty()) {
        for (const auto& folder : folders) {
            grant_or_refuse([&] {
                if (const auto handle = open_checked_item(checked, folder, READ_CONTROL | WRITE_DAC, folder))
                    vd::grant_users_access(handle.get(), mask, inheritance);
            });
        }
        return;
    }
    // One walk down to the deepest: each folder to grant is opened again from the folder above it,
    // for its security, and checked whole before it is changed.
    auto next = folders.begin();
    const folder_walk::visit grant = [&](HANDLE above, std::wstring_view level) {
        if (next == folders.end() || !same_text(level, next->native()))
            return;
        const fs::path folder = *next++;
        grant_or_refuse([&] {
            if (const auto handle = open_in_folder(checked, above, folder, READ_CONTROL | WRITE_DAC, folder))
                vd::grant_users_access(handle.get(), mask, inheritance);
        });
    };
    grant_or_refuse([&] {
        checked.require_below(folders.back().native(), folders.back());
        folder_walk(checked, folders.back(), false, {}, grant).to(folders.back());
    });
}

void grant_users_on_file(const fs::path& base, const fs::path& file, std::uint32_t mask) {
    grant_or_refuse([&] {
        if (const auto handle = open_checked(base, file, READ_CONTROL | WRITE_DAC, file))
            vd::grant_users_access(handle.get(), mask, 0);
    });
}
