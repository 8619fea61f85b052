#include "installer/journal/uninstall_log.hpp"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <optional>
#include <map>
#include <set>
#include <filesystem>
#include <system_error>

#include "foundation/app/identity.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/security.hpp"
#include "foundation/system/shell_link.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/journal/held_files.hpp"
#include "installer/payload/file_check.hpp"
#include "installer/payload/linked_folders.hpp"

#include <knownfolders.h>

namespace fs = std::filesystem;

namespace {

// Holds a privilege of the process token switched on for one step, and off again afterwards
// whatever its state was before: the installer never needs it outside these steps.
class privilege_guard {
public:
    explicit privilege_guard(const wchar_t* name) : name_(name) { vd::enable_privilege(name_, true); }
    ~privilege_guard() { vd::enable_privilege(name_, false); }
    privilege_guard(const privilege_guard&) = delete;
    privilege_guard& operator=(const privilege_guard&) = delete;

private:
    const wchar_t* name_;
};

bool exists_now(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What stands at path itself (a link is opened, not followed), a file or a folder, letting
// others go on reading, writing and deleting it. Outside the folders users may change, where a
// path may be taken as it stands.
vd::unique_file open_by_path(const std::wstring& path, DWORD access) {
    return vd::unique_file(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share_all, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool is_existing_folder(const std::wstring& path) {
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The path of a file as it is spelt on disk: the path that found it may differ in case
// ("readme.txt" for "README.TXT"), and a file put back must keep the name it had. The path
// itself when the name cannot be read.
std::wstring name_on_disk(const std::wstring& path) {
    const fs::path file(path);
    // FindFirstFileW would take these for wildcards and answer with another file's name.
    if (file.filename().wstring().find_first_of(L"*?<>\"") != std::wstring::npos)
        return path;
    WIN32_FIND_DATAW found{};
    const vd::unique_find search(::FindFirstFileW(path.c_str(), &found));
    if (!search)
        return path;
    return (file.parent_path() / found.cFileName).wstring();
}

// The user's or the common Start menu or desktop that path lies below, as path spells it;
// empty when it lies below none of them. The installer makes its links there, and puts a
// previous installation's link there aside.
std::optional<fs::path> shell_folder_above(const std::wstring& path) {
    // An absolute path in its normal form has no ".." left to climb out of the folder.
    const fs::path item = fs::path(path).lexically_normal();
    if (!item.is_absolute())
        return std::nullopt;
    for (const KNOWNFOLDERID* id : {&FOLDERID_StartMenu, &FOLDERID_CommonStartMenu, &FOLDERID_Desktop, &FOLDERID_PublicDesktop}) {
        fs::path root;
        try {
            root = vd::known_folder_path(*id);
        } catch (const std::system_error&) {
            continue;
        }
        // By the text alone: asked of the file system, a folder of the user's that links to the
        // root would count as the root, and the check below it would pass over that link.
        for (auto folder = item; folder.has_relative_path(); folder = folder.parent_path()) {
            if (vd::same_path_text(folder, root))
                return folder;
        }
    }
    return std::nullopt;
}

// "C:\a\b\" and "C:\a\b" are one folder and must be journalled once.
fs::path folder_form(fs::path folder) {
    if (!folder.has_filename() && folder.has_relative_path())
        folder = folder.parent_path();
    return folder;
}

// The folder users may change that a journalled path lies below. A link's is the shell folder
// it lies in; a file's and a folder's, the one the extraction named for it.
std::wstring checked_base_of(const uninstall_log::entry& item, const std::wstring& path) {
    if (item.kind != entry_kind::start_menu_link && item.kind != entry_kind::desktop_link)
        return item.checked_below;
    const auto root = shell_folder_above(path);
    return root ? root->wstring() : std::wstring();
}

// The path of the file that item holds, its name spelt as it is on disk: a file put back keeps
// the name it had.
std::wstring spelt_on_disk(const std::wstring& path, HANDLE item) {
    return (fs::path(path).parent_path() / vd::final_path(item).filename()).wstring();
}

// A previous installation's link, opened for its move aside, when it may be put aside: a
// ".lnk" file below the user's or the common Start menu or desktop, reached through no link
// below that folder, no link itself and with no other name. The previous journal may come from
// a folder that anybody can write to (beside the installer, in the download folder), and what
// is put aside is deleted once the installation stands, with administrator rights: nothing
// else it names is touched. Empty when the link is to be left where it is; a link that cannot
// be opened throws that failure.
struct held_link {
    vd::unique_file folder;
    vd::unique_file link;
};
held_link open_previous_link(const std::wstring& path) {
    const fs::path link = fs::path(path).lexically_normal();
    if (_wcsicmp(link.extension().c_str(), L".lnk") != 0)
        return {};
    const auto root = shell_folder_above(path);
    if (!root)
        return {};
    try {
        held_link held;
        held.folder = checked_folders(*root, link.parent_path(), link, false);
        if (held.folder)
            held.link = open_checked_in(held.folder.get(), *root, link, DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES);
        if (!held.link || holds_folder(held.link.get()))
            return {};
        return held;
    } catch (const std::system_error& e) {
        if (is_refusal(e))
            return {};
        throw;
    }
}

// A copy that failed part-way (a full disk where the backups go) may leave its beginning at
// the backup's name, which was drawn free for this backup alone; it goes. A name that another
// program took meanwhile is left to it.
DWORD discard_partial_backup(const std::wstring& backup, DWORD error) {
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        ::SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(backup.c_str());
    }
    return error;
}

// Moves (or copies) source to the backup name; the backup carries the attributes source had.
// ERROR_SUCCESS, or the failure's Win32 code.
DWORD make_backup(const std::wstring& source, const std::wstring& backup, bool copy) {
    if (copy) {
        if (::CopyFileW(source.c_str(), backup.c_str(), TRUE))
            return ERROR_SUCCESS;
        return discard_partial_backup(backup, ::GetLastError());
    }
    const auto file = open_by_path(source, DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES);
    if (!file)
        return ::GetLastError();
    try {
        move_held_file(file.get(), backup, nullptr, source);
    } catch (const file_left_aside&) {
        throw;
    } catch (const std::system_error& e) {
        return e.code().category() == std::system_category() ? static_cast<DWORD>(e.code().value()) : ERROR_GEN_FAILURE;
    }
    return ERROR_SUCCESS;
}

bool is_folder(const fs::path& path) {
    std::error_code ec;
    return fs::status(path, ec).type() == fs::file_type::directory;
}

// The user's file that could not go back to its place stays with the user: beside it, under a
// fresh name that keeps its extension, made through its folder's handle like every other write
// there, where no cleanup of temporary files removes it. False when it stays where it is.
bool keep_beside(uninstall_log::entry& item, const fs::path& original, const std::wstring& checked_below) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        fs::path kept = original;
        kept.replace_filename(original.stem().native() + vd::random_name(L" (vd-%%%%%)") + original.extension().native());
        if (journal_details::restore_backup(item.backup, kept.wstring(), checked_below)) {
            item.backup = kept.wstring();
            item.kept_for_user = true;
            return true;
        }
        // A name that was free is taken by chance; any other failure stays.
        if (exists_now(item.backup) && !exists_now(kept.wstring()))
            return false;
    }
    return false;
}

// A folder of the installation that only files waiting for the programs that hold them keep from
// going (put aside beside their place) goes at the next restart, when they have
// gone. Only in the installation folder: a path users can change is never handed to the restart.
bool remove_at_restart_when_only_aside_files(const uninstall_log::entry& item) {
    if (!item.checked_below.empty())
        return false;
    std::error_code ec;
    for (fs::directory_iterator entry(item.path, ec), end; !ec && entry != end; entry.increment(ec)) {
        if (!is_aside_name(entry->path().filename().native()))
            return false;
    }
    return !ec && delete_at_restart(item.path);
}

// Undoes one entry; false when something of it stays done.
bool undo(uninstall_log::entry& item, retry_wait wait) {
    using journal_details::remove_path;
    using journal_details::restore_backup;
    switch (item.kind) {
    case entry_kind::folder:
        return remove_path(item.path, item.checked_below, wait).removed || remove_at_restart_when_only_aside_files(item);
    case entry_kind::class_registration:
        return true;
    case entry_kind::uninstall_key: {
        // The key was there and could not be saved: deleting it would lose it, restoring is
        // impossible, so it stays as the installation left it.
        if (item.existed && item.backup.empty())
            return false;
        const auto root = vd::reg_open_key(HKEY_LOCAL_MACHINE, journal_details::uninstall_root);
        if (!root)
            return item.backup.empty();
        if (!journal_details::undo_registry_key(root.get(), vd::product_display_name(vd::product_code), item.backup))
            return false;
        item.backup.clear();
        return true;
    }
    default: {
        // The user's file that is named where it lies is not the journal's to move.
        if (item.kept_for_user)
            return false;
        // A shared file left in place was never written by this run.
        if (item.existed)
            return true;
        const std::wstring original = item.backup_of.empty() ? item.path : item.backup_of;
        const auto checked = checked_base_of(item, original);
        const auto removal = remove_path(item.path, checked_base_of(item, item.path), wait);
        // What could not go stays under the name it has now; the user's file, when its own name
        // is still taken, goes beside it.
        if (!removal.left_as.empty())
            item.path = removal.left_as;
        if (item.backup.empty())
            return removal.removed;
        if (!restore_backup(item.backup, original, checked)) {
            keep_beside(item, original, checked);
            return false;
        }
        item.backup.clear();
        return removal.removed;
    }
    }
}

// A file that could neither be put aside nor get its name back (another program has it loaded,
// and its name was taken meanwhile) is the user's: the entry names where it is, for the user.
void keep_left_aside(uninstall_log::entry& added, const file_left_aside& left) {
    added.backup = left.left_as().wstring();
    added.existed = true;
    added.kept_for_user = true;
}

} // namespace

vd::unique_file uninstall_log::make_checked_folders(const fs::path& folder, const std::wstring& checked_below) {
    return checked_folders(checked_below, folder, folder, true, [&](std::wstring_view made) {
        entries.push_back({entry_kind::folder, std::wstring(made), L"", true, -1});
        entries.back().checked_below = checked_below;
    });
}

bool uninstall_log::create_folders(const std::wstring& path, const std::wstring& checked_below) {
    const fs::path folder = folder_form(path);
    if (!checked_below.empty()) {
        try {
            make_checked_folders(folder, checked_below);
            return true;
        } catch (const std::system_error& e) {
            if (is_refusal(e))
                throw;
            return false;
        }
    }
    if (exists_now(folder.native()))
        return is_folder(folder);
    // From the outermost folder down, in one text cut short at each level: a payload may name
    // thousands of levels, and a copy of the path per level would cost memory and time with
    // the square of its length. A drive or share root is never made; the folders below it are.
    std::wstring text = folder.native();
    bool made_one = false;
    return vd::for_each_level(text, folder.root_path().native().size(), [&](const wchar_t* level, std::size_t length) {
        // Below a folder this call made, nothing can be there yet.
        bool ready = !made_one && is_existing_folder(level);
        if (!ready && ::CreateDirectoryW(level, nullptr)) {
            entries.push_back({entry_kind::folder, std::wstring(level, length), L"", true, -1});
            ready = made_one = true;
        } else if (!ready) {
            ready = ::GetLastError() == ERROR_ALREADY_EXISTS && is_existing_folder(level);
        }
        return ready;
    });
}

std::wstring uninstall_log::backup_file(const std::wstring& source, bool copy) {
    std::wstring name = vd::unique_temp_path(aside_pattern).wstring();
    if (source.empty())
        return name;
    try {
        return make_backup(source, name, copy) == ERROR_SUCCESS ? name : std::wstring();
    } catch (const file_left_aside&) {
        return {};
    }
}

void uninstall_log::add_file(const std::wstring& path, std::int32_t payload_kind, bool copy, const std::wstring& checked_below) {
    if (!checked_below.empty()) {
        add_checked_file(path, payload_kind, copy, checked_below);
        return;
    }
    pending = true;
    create_folders(fs::path(path).parent_path().wstring());
    // A folder where the file goes is not a file to replace: put aside, it would take the
    // user's files in it away with it. The file fails, and the folder stays as it is.
    if (is_existing_folder(path)) {
        pending = false;
        vd::throw_system_error(ERROR_ALREADY_EXISTS);
    }
    entries.push_back({entry_kind::file, path, L"", false, payload_kind});
    if (!exists_now(path))
        return;
    auto& added = entries.back();
    if (copy) {
        added.existed = true;
        return;
    }
    // An existing file that cannot be put aside must not be overwritten: the entry goes, so
    // that neither the failure of this file nor a rollback touches what is there.
    DWORD error = ERROR_SUCCESS;
    try {
        added.backup_of = name_on_disk(path);
        added.backup = vd::unique_temp_path(aside_pattern).wstring();
        error = make_backup(path, added.backup, false);
    } catch (const file_left_aside& left) {
        keep_left_aside(added, left);
        pending = false;
        throw;
    } catch (...) {
        entries.pop_back();
        pending = false;
        throw;
    }
    if (error != ERROR_SUCCESS) {
        entries.pop_back();
        pending = false;
        vd::throw_system_error(error);
    }
}

// Below a folder users may change, looked at and moved aside through one checked handle; a
// refusal, like any failure, leaves nothing pending.
void uninstall_log::add_checked_file(const std::wstring& path, std::int32_t payload_kind, bool copy,
                                     const std::wstring& checked_below) {
    pending = true;
    vd::unique_file folder;
    vd::unique_file existing;
    try {
        folder = make_checked_folders(fs::path(path).parent_path(), checked_below);
        existing = open_checked_in(folder.get(), checked_below, path, copy ? 0 : DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES);
        if (existing && holds_folder(existing.get()))
            vd::throw_system_error(ERROR_ALREADY_EXISTS);
    } catch (...) {
        pending = false;
        throw;
    }
    entries.push_back({entry_kind::file, path, L"", false, payload_kind});
    auto& added = entries.back();
    added.checked_below = checked_below;
    if (!existing)
        return;
    if (copy) {
        added.existed = true;
        return;
    }
    try {
        const auto original = spelt_on_disk(path, existing.get());
        const auto backup = vd::unique_temp_path(aside_pattern).wstring();
        move_held_file(existing.get(), backup, folder.get(), path);
        added.backup = backup;
        added.backup_of = original;
    } catch (const file_left_aside& left) {
        keep_left_aside(added, left);
        pending = false;
        throw;
    } catch (...) {
        entries.pop_back();
        pending = false;
        throw;
    }
}

uninstall_log::link_folder uninstall_log::add_shortcut(bool desktop, const std::wstring& folder) {
    pending = true;
    // Below the user's Start menu or desktop, the link's folder is made and held through no
    // link: a failure there fails the link, once its entry stands to take that result.
    link_folder target;
    std::exception_ptr refused;
    const auto root = shell_folder_above(folder);
    try {
        if (root) {
            const fs::path normal = folder_form(fs::path(folder).lexically_normal());
            target.path = normal.wstring();
            target.base = root->wstring();
            target.held = make_checked_folders(normal, target.base);
        } else {
            target.path = folder;
            create_folders(folder);
        }
    } catch (const std::exception&) {
        refused = std::current_exception();
    }
    const auto kind = desktop ? entry_kind::desktop_link : entry_kind::start_menu_link;
    entries.push_back({kind, L"", L"", false, -1});
    if (refused)
        std::rethrow_exception(refused);
    const auto previous = std::ranges::find(previous_entries, kind, &entry::kind);
    if (previous == previous_entries.end())
        return target;
    const auto held = open_previous_link(previous->path);
    if (!held.link)
        return target;
    // A previous link that cannot be put aside is not overwritten: this link fails instead,
    // and its entry waits for that result. It moves through the handle that was checked.
    auto& added = entries.back();
    const auto original = spelt_on_disk(previous->path, held.link.get());
    const auto backup = vd::unique_temp_path(aside_pattern).wstring();
    try {
        move_held_file(held.link.get(), backup, held.folder.get(), original);
    } catch (const file_left_aside& left) {
        keep_left_aside(added, left);
        added.path = original;
        throw;
    }
    added.backup = backup;
    added.backup_of = original;
    return target;
}

// A link whose writing fails (a full disk, the shell's failure) leaves nothing that it made: the
// previous installation's link, put aside under that name, can then come back.
fs::path uninstall_log::link_folder::make_shortcut(std::wstring_view name, const std::wstring& program) const {
    auto link = vd::shortcut_path(path, name, program);
    if (!held) {
        const bool was_there = exists_now(link.native());
        try {
            return vd::create_shortcut(path, name, program);
        } catch (...) {
            if (!was_there)
                journal_details::remove_path(link.native());
            throw;
        }
    }
    journal_details::write_checked_file(held.get(), base, link, [&](HANDLE file) { vd::write_shortcut(file, program); });
    return link;
}

void uninstall_log::add_registry_key(HKEY existing) {
    pending = true;
    entries.push_back({entry_kind::uninstall_key, L"", L"", false, -1});
    if (!existing)
        return;
    auto& added = entries.back();
    added.existed = true;
    added.backup = backup_file(L"", false);
    if (added.backup.empty())
        return;
    privilege_guard backup_privilege(L"SeBackupPrivilege");
    if (::RegSaveKeyW(existing, added.backup.c_str(), nullptr) != ERROR_SUCCESS) {
        std::error_code ec;
        fs::remove(added.backup, ec);
        added.backup.clear();
    }
}

void uninstall_log::add_class_registration() {
    pending = true;
    entries.push_back({entry_kind::class_registration, L"", L"", false, -1});
}

void uninstall_log::add_directx_update() {
    pending = true;
    entries.push_back({entry_kind::directx_update, L"", L"", false, -1});
}

void uninstall_log::set_result(bool done, std::wstring text) {
    if (!pending)
        return;
    pending = false;
    if (entries.empty())
        return;
    auto& last = entries.back();
    // A link that could not be made leaves the previous installation's link where it was: put
    // back, the previous journal's entry for it stands, as true as before.
    const bool link = last.kind == entry_kind::start_menu_link || last.kind == entry_kind::desktop_link;
    if (!done && link && !last.backup.empty() && undo(last, wait_one_second)) {
        entries.pop_back();
        return;
    }
    last.done = done;
    if (!text.empty())
        last.path = std::move(text);
}

void uninstall_log::merge_previous_entries() {
    // Each path's key is made once: one look-up on disk per entry, where comparing the old
    // entries with the new ones pair by pair would ask the disk for every pair.
    const auto compared_by_path = [](entry_kind kind) { return kind == entry_kind::folder || kind == entry_kind::file; };
    std::map<entry_kind, vd::path_set> paths;
    std::set<entry_kind> kinds;
    for (const auto& item : entries) {
        if (compared_by_path(item.kind))
            paths[item.kind].insert(vd::path_key(item.path));
        else
            kinds.insert(item.kind);
    }
    // The old entries are taken last first, each put in front: a later old entry that an earlier
    // one repeats is already among the entries when the earlier one is looked at.
    for (auto old = previous_entries.rbegin(); old != previous_entries.rend(); ++old) {
        if (compared_by_path(old->kind)) {
            const vd::path_key key(old->path);
            auto& seen = paths[old->kind];
            if (seen.contains(key))
                continue;
            seen.insert(key);
        } else if (!kinds.insert(old->kind).second) {
            continue;
        }
        entries.push_front(*old);
    }
    previous_entries.clear();
}

void uninstall_log::delete_backups() noexcept {
    for (auto& item : entries) {
        if (item.backup.empty() || item.kept_for_user)
            continue;
        // The backups lie in the installer's own folder, which only administrators may change:
        // one that another program still has loaded may wait there for the restart.
        if (!journal_details::remove_path(item.backup).removed)
            delete_at_restart(item.backup);
        item.backup.clear();
    }
}

std::vector<uninstall_log::entry> uninstall_log::rollback(retry_wait wait) noexcept {
    std::vector<entry> not_undone;
    bool can_report = true;
    try {
        not_undone.reserve(entries.size());
    } catch (...) {
        can_report = false;
    }
    for (auto item = entries.rbegin(); item != entries.rend(); ++item) {
        bool undone = false;
        try {
            undone = undo(*item, wait);
        } catch (...) {
            undone = false;
        }
        if (!undone && can_report)
            not_undone.push_back(std::move(*item));
    }
    entries.clear();
    return not_undone;
}

namespace journal_details {

void write_checked_file(HANDLE folder, const fs::path& base, const fs::path& path, const std::function<void(HANDLE)>& write) {
    bool created = false;
    const auto file = create_checked_file(folder, base, path, &created);
    try {
        write(file.get());
    } catch (...) {
        if (created)
            dispose_held(file.get());
        throw;
    }
}

bool undo_registry_key(HKEY parent, const std::wstring& name, const std::wstring& backup) {
    privilege_guard restore_privilege(L"SeRestorePrivilege");
    if (backup.empty()) {
        const LSTATUS status = ::RegDeleteTreeW(parent, name.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    try {
        const auto key = vd::reg_create_key(parent, name);
        if (::RegRestoreKeyW(key.get(), backup.c_str(), 0) != ERROR_SUCCESS)
            return false;
    } catch (const std::exception&) {
        return false;
    }
    // The hive has served; left behind it would only litter the temporary folder.
    std::error_code ec;
    fs::remove(backup, ec);
    return true;
}

removal remove_path(const std::wstring& path, const std::wstring& checked_below, retry_wait wait) {
    if (path.empty())
        return {true, {}};
    try {
        const fs::path item_path(path);
        fs::path left_as;
        const bool removed = retry_while_shared(
            [&] {
                if (checked_below.empty()) {
                    const auto item = open_by_path(path, DELETE | FILE_WRITE_ATTRIBUTES);
                    if (!item) {
                        const DWORD error = ::GetLastError();
                        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                            return true;
                        vd::throw_system_error(error);
                    }
                    return delete_held(item.get(), nullptr, item_path, &left_as);
                }
                // Nothing is there when its folder is not.
                const auto folder = checked_folders(checked_below, item_path.parent_path(), item_path, false);
                const auto item =
                    folder ? open_checked_in(folder.get(), checked_below, item_path, DELETE | FILE_WRITE_ATTRIBUTES) : vd::unique_file();
                return !item || delete_held(item.get(), folder.get(), item_path, &left_as);
            },
            wait);
        return {removed, left_as.wstring()};
    } catch (const std::exception&) {
        return {false, {}};
    }
}

bool restore_backup(const std::wstring& backup, const std::wstring& target, const std::wstring& checked_below) {
    if (target.empty())
        return false;
    try {
        const fs::path original(target);
        // Below a folder users may change, the folder checked; elsewhere, the folder as its path
        // leads.
        const auto folder = checked_below.empty()
                                ? vd::unique_file(::CreateFileW(original.parent_path().c_str(), FILE_TRAVERSE | FILE_ADD_FILE | SYNCHRONIZE, share_all,
                                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr))
                                : open_checked(checked_below, original.parent_path(), FILE_TRAVERSE | FILE_ADD_FILE, original);
        // The backup lies in the installer's own folder, which only administrators may change.
        // A program that had the user's file open still has it, in the backup's place.
        // A link that was put aside on one volume comes back as the link.
        const vd::unique_file held(::CreateFileW(backup.c_str(), DELETE | GENERIC_READ | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share_all,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return folder && held && restore_held(held.get(), folder.get(), checked_below, original);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace journal_details
