// The installation journal: every change one installation makes to the machine, in the order it
// makes them, with a backup of whatever it replaces. A failed installation is undone from it
// (rollback); a finished one is written to "Uninstall.ulog" for the uninstaller, merged with
// what the previous installation's journal said.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <windows.h>

#include "foundation/system/unique_any.hpp"
#include "installer/payload/file_check.hpp"

// What one journal entry records. 3 is never made, but an old journal may hold it.
enum class entry_kind : std::uint32_t {
    folder = 0,
    file = 1,
    start_menu_link = 2,
    desktop_link = 4,
    uninstall_key = 5,
    class_registration = 6,
    directx_update = 7,
};

class uninstall_log {
public:
    using entry_kind = ::entry_kind;

    struct entry {
        entry() = default;
        entry(entry_kind kind, std::wstring path, std::wstring backup = {}, bool done = false,
              std::int32_t payload_kind = -1)
            : kind(kind), path(std::move(path)), backup(std::move(backup)), done(done), payload_kind(payload_kind) {}

        entry_kind kind = entry_kind::folder;
        // The folder, file or link concerned; empty for the registry, the class registration
        // and the DirectX update, and for a link until its result arrives.
        std::wstring path;
        // The backup in the temporary folder (the replaced file or link, or the saved registry
        // key); empty when there is none.
        std::wstring backup;
        bool done = false;
        // The payload_kind of a written file; -1 for every other entry.
        std::int32_t payload_kind = -1;
        // Where the backup was taken from, and so where rollback puts it back, spelt as it was
        // on disk: the entry's own file, or the previous installation's link for a link, which
        // may lie elsewhere than the new one.
        std::wstring backup_of;
        // The file or key was there before this run: a shared file left in place, or the
        // product's Uninstall key as it stood (put back from its backup when it has one).
        // Rollback never deletes it.
        bool existed = false;
        // The folder users may change that path lies below, and so backup_of: nothing is done to
        // either (in the rollback too) but through a handle checked against it. Empty below none.
        std::wstring checked_below;
        // The backup is the user's file itself, kept beside path where the user can open it:
        // never deleted nor moved by the journal, and named to the user.
        bool kept_for_user = false;

        friend bool operator==(const entry&, const entry&) = default;
    };

    // Filled by read from the previous installation's journal.
    std::wstring install_path;
    std::wstring shortcut_path;
    bool desktop_shortcut = false;
    std::list<entry> previous_entries;

    // This run's entries, in the order of the actions.
    std::list<entry> entries;
    // The last of entries belongs to an action still under way and awaits set_result.
    bool pending = false;

    // The product text of the installation the previous journal recorded.
    std::wstring previous_install;

    // Makes the folder and any missing parent below the root, journalling each folder made,
    // outermost first. True when path is a folder afterwards. Below checked_below, a folder users
    // may change, each folder is made through checked handles, and a link there throws the
    // refusal of linked_folders.hpp.
    bool create_folders(const std::wstring& path, const std::wstring& checked_below = {});

    // Moves (copy false) or copies source to a fresh "vd-%%%%%.tmp" in the temporary folder and
    // returns its path, or "" when that fails. An empty source returns a fresh name that no
    // file has, touching nothing. Throws when there is no temporary folder.
    std::wstring backup_file(const std::wstring& source, bool copy);

    // Before a payload file is written to path. An existing file is moved to a backup; with
    // copy true it is a shared file that stays in place and is not overwritten, so it needs no
    // backup and rollback leaves it alone. When an existing file cannot be moved away (locked,
    // disk full) it must not be overwritten: the entry is taken back and the failure is thrown
    // as std::system_error, which fails the extraction; when the file could not get its name back
    // either, the entry stays, kept_for_user, naming where it is. So is a folder that stands at path: it
    // stays where it is. Rollback puts a replaced file back under the name it had on disk.
    // Below checked_below, a folder users may change, the folders are made, the file looked at
    // and moved aside through checked handles, and a link there is refused (thrown, as
    // linked_folders.hpp says) before anything changes.
    void add_file(const std::wstring& path, std::int32_t payload_kind, bool copy, const std::wstring& checked_below = {});

    // The folder that receives a link. Below the user's or the common Start menu or desktop it
    // is held, checked, with its base: the link is made by its name in it, through that handle.
    // Elsewhere held is empty and the link is saved by its path.
    struct link_folder {
        vd::unique_file held;
        std::wstring base;
        std::wstring path;

        // Writes the link named name (no extension) to program in the folder and returns its
        // path; below a folder users may change into a file made by its name through held and
        // checked, so that the link lands in the folder that was checked or nowhere. Throws.
        std::filesystem::path make_shortcut(std::wstring_view name, const std::wstring& program) const;
    };

    // Before a shell link is made in folder, which is made (and journalled) when missing; the
    // previous installation's link of the same kind is moved to a backup when it is a ".lnk"
    // file in the user's or the common Start menu or desktop (anything else the previous journal
    // names is left alone). When it cannot be moved away, or the folder cannot be made or is
    // refused, the failure is thrown and the entry stays pending: the link must not be made.
    link_folder add_shortcut(bool desktop, const std::wstring& folder);

private:
    void add_checked_file(const std::wstring& path, std::int32_t payload_kind, bool copy, const std::wstring& checked_below);
    // Makes folder's missing folders below checked_below, journalled outermost first, and returns
    // folder held and checked. Throws.
    vd::unique_file make_checked_folders(const std::filesystem::path& folder, const std::wstring& checked_below);

public:
    // Before the product's Uninstall values are written; existing is the product's Uninstall
    // key as it stood (open, the caller's), or null when there was none.
    void add_registry_key(HKEY existing);

    void add_class_registration();
    void add_directx_update();

    // Completes the pending entry; a non-empty text becomes its path. Without a pending entry
    // nothing happens. A link that failed puts the previous installation's link it replaced back
    // and, when that worked, its entry goes: the previous journal's entry stands for the link.
    void set_result(bool done, std::wstring text);

    // Undoes this run's entries, last first, and empties entries. Never throws: a step that
    // fails does not stop the others. An entry below a folder users may change whose path no
    // longer passes its check is left as it stands, its backup too. A file that another program
    // holds is waited for with wait. Returns the entries that could not be (wholly) undone, path
    // naming what stays there now. A user's file that could not go back to its place is kept
    // beside it, under a fresh name "<name> (vd-%%%%%)<extension>", and named in the entry's
    // backup (kept_for_user); failing that, the backup still named is where it stays.
    std::vector<entry> rollback(retry_wait wait = wait_one_second) noexcept;

    // The installation stands: deletes the backups of what it replaced; one that another program
    // still has loaded goes at the next restart.
    void delete_backups() noexcept;

    // Puts the previous installation's entries that this run did not repeat in front of this
    // run's, in their old order, and empties previous_entries. A folder or file entry repeats
    // an old one of its kind that names the same path; an entry of another kind repeats any
    // old one of its kind.
    void merge_previous_entries();

    // Writes the journal file (UTF-16LE with a byte-order mark, CR LF), merged with the
    // previous installation's entries, read-only afterwards, and deletes every backup. True
    // when the whole file was written and closed.
    bool write(const std::wstring& journal, const std::wstring& install, const std::wstring& shortcuts);

    // Fills install_path, shortcut_path, desktop_shortcut, previous_entries and
    // previous_install from a journal file. Reading stops at the first line it cannot use (a
    // wrong version or header, a malformed entry, a NUL, a last line cut short, a line longer
    // than any the writer makes, which is passed over unheld); what came before it stays.
    // Never reports a failure.
    void read(const std::wstring& path);
};

namespace journal_details {

// Where rollback finds the product's Uninstall key: subkey under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t uninstall_root[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Puts back the registry key name under parent: restores it from a saved hive when backup is
// set, else deletes the key the installation created. True when that succeeded.
bool undo_registry_key(HKEY parent, const std::wstring& name, const std::wstring& backup);

// Removes a file or an empty folder through its handle, clearing its read-only attribute first;
// a file leaves its name at once, even while another program holds it (held_files.hpp). One
// that another program holds without letting it be deleted is tried again for a few seconds,
// waiting with wait. An empty or absent path is no failure. Below checked_below, through a
// checked handle: a path that fails its check stays (removed false). A file that could not be
// deleted and could not get its name back either is left_as, beside its place.
struct removal {
    bool removed = false;
    std::wstring left_as;
};
removal remove_path(const std::wstring& path, const std::wstring& checked_below = {}, retry_wait wait = wait_one_second);

// Writes the file at path with write, through a handle made by its name in folder and checked
// against base (create_checked_file). A file that this made goes again, through that handle, when
// its writing fails, so that what had its name before can come back. Throws.
void write_checked_file(HANDLE folder, const std::filesystem::path& base, const std::filesystem::path& path,
                        const std::function<void(HANDLE)>& write);

// Moves a backup back to its place, keeping the attributes the original had, never over what
// stands there: into the handle of its folder, below checked_below the checked one. A program
// that holds the backup (the user's file, moved with its handle) keeps it.
bool restore_backup(const std::wstring& backup, const std::wstring& target, const std::wstring& checked_below = {});

} // namespace journal_details
