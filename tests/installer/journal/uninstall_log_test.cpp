#include "installer/journal/uninstall_log.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/shell_link.hpp"
#include "installer/payload/folder_templates.hpp"
#include "installer/payload/linked_folders.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "foundation/streams/memstream.hpp"
#include "journal_fixture.hpp"
#include "support/extraction_recorder.hpp"
#include "support/folder_link.hpp"
#include "support/loaded_file.hpp"
#include "support/machine_restart.hpp"
#include "support/payload_support.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include <knownfolders.h>
#include <shlobj.h>
#include <psapi.h>

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::write_file;

namespace {

using journal = journal_fixture;

// What a person would see of a tree: every name, its contents and the attributes that matter.
struct node {
    std::string contents;
    DWORD attributes = 0;
    friend bool operator==(const node&, const node&) = default;
    friend void PrintTo(const node& seen, std::ostream* out) {
        *out << '"' << seen.contents << "\" attributes " << std::hex << seen.attributes;
    }
};

std::map<std::wstring, node> snapshot(const fs::path& root) {
    constexpr DWORD watched = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY;
    std::map<std::wstring, node> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        node seen;
        seen.attributes = ::GetFileAttributesW(item.path().c_str()) & watched;
        if (item.is_regular_file())
            seen.contents = read_file(item.path());
        tree[fs::relative(item.path(), root).wstring()] = seen;
    }
    return tree;
}

void set_read_only(const fs::path& file) {
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
}

std::size_t peak_working_set() {
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    return memory.PeakWorkingSetSize;
}

// A file handle that lets nobody else in, as a running program or a scanner holds one.
vd::unique_file lock(const fs::path& file) {
    return vd::unique_file(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST_F(journal, rollback_restores_the_tree_as_it_was) {
    write_file(root_ / L"app.exe", "old program");
    set_read_only(root_ / L"app.exe");
    write_file(root_ / L"README.TXT", "old readme");
    ASSERT_TRUE(::SetFileAttributesW((root_ / L"README.TXT").c_str(), FILE_ATTRIBUTE_HIDDEN));
    write_file(root_ / L"shared.dat", "the user's data");
    const testing_support::test_folder old_menu(vd::known_folder_path(FOLDERID_StartMenu));
    write_file(old_menu / L"Stelvane.lnk", "old link");
    // A previous desktop link lies directly in the desktop folder.
    const auto desktop = vd::known_folder_path(FOLDERID_Desktop);
    const auto old_desktop_link = desktop / (old_menu.path().filename().wstring() + L".lnk");
    write_file(old_desktop_link, "old desktop link");
    struct cleanup {
        const fs::path& link;
        ~cleanup() { ::DeleteFileW(link.c_str()); }
    } remove_later{old_desktop_link};
    const auto before = snapshot(root_);

    uninstall_log log;
    log.previous_entries.push_back({entry_kind::start_menu_link, (old_menu / L"Stelvane.lnk").wstring()});
    log.previous_entries.push_back({entry_kind::desktop_link, old_desktop_link.wstring()});

    // A program replaced and made read-only afterwards, as the installation does.
    log.add_file((root_ / L"app.exe").wstring(), 1, false);
    EXPECT_FALSE(fs::exists(root_ / L"app.exe"));
    write_file(root_ / L"app.exe", "new program");
    log.set_result(true, L"");
    set_read_only(root_ / L"app.exe");

    // A new file two folders down: the folders come first, outermost first.
    log.add_file((root_ / L"data" / L"maps" / L"map.bin").wstring(), 0, false);
    write_file(root_ / L"data" / L"maps" / L"map.bin", "map");
    log.set_result(true, L"");

    // A shared file kept in place: no backup, never touched.
    log.add_file((root_ / L"shared.dat").wstring(), 3, true);
    log.set_result(true, L"");

    // A replaced file whose writing failed half way; the payload spells its name otherwise.
    log.add_file((root_ / L"readme.txt").wstring(), 0, false);
    write_file(root_ / L"readme.txt", "half");
    log.set_result(false, L"");

    // Links made in place of the previous ones, which were moved away: one from another folder,
    // one directly on the desktop, in its place.
    log.add_shortcut(false, (root_ / L"menu").wstring());
    write_file(root_ / L"menu" / L"Stelvane 8.01.lnk", "new link");
    log.set_result(true, (root_ / L"menu" / L"Stelvane 8.01.lnk").wstring());
    log.add_shortcut(true, desktop.wstring());
    EXPECT_FALSE(fs::exists(old_desktop_link));
    write_file(old_desktop_link, "new desktop link");
    log.set_result(true, old_desktop_link.wstring());

    std::vector<entry_kind> kinds;
    for (const auto& item : log.entries)
        kinds.push_back(item.kind);
    EXPECT_EQ(kinds, (std::vector{entry_kind::file, entry_kind::folder, entry_kind::folder, entry_kind::file,
                                  entry_kind::file, entry_kind::file, entry_kind::folder, entry_kind::start_menu_link,
                                  entry_kind::desktop_link}));
    auto folder = std::next(log.entries.begin());
    EXPECT_EQ(fs::path(folder->path), root_ / L"data");
    EXPECT_EQ(fs::path(std::next(folder)->path), root_ / L"data" / L"maps");
    EXPECT_EQ(backups().size(), 4u);

    EXPECT_TRUE(log.rollback().empty());
    EXPECT_TRUE(log.entries.empty());
    EXPECT_EQ(snapshot(root_), before);
    EXPECT_EQ(read_file(old_menu / L"Stelvane.lnk"), "old link");
    EXPECT_EQ(read_file(old_desktop_link), "old desktop link");
    EXPECT_TRUE(backups().empty());
}

TEST_F(journal, a_file_that_cannot_be_put_aside_is_not_overwritten) {
    write_file(root_ / L"locked.dll", "in use");
    write_file(root_ / L"shared.dat", "in use too");
    uninstall_log log;
    {
        const auto held = lock(root_ / L"locked.dll");
        const auto also_held = lock(root_ / L"shared.dat");
        ASSERT_TRUE(held && also_held);

        EXPECT_THROW(log.add_file((root_ / L"locked.dll").wstring(), 0, false), std::system_error);
        EXPECT_TRUE(log.entries.empty());
        EXPECT_FALSE(log.pending);
        // The extraction reports the failure on the entry it thinks is pending: nothing.
        log.set_result(false, L"");
        EXPECT_TRUE(log.entries.empty());

        // A shared file that stays in place needs no backup, so its lock fails nothing.
        EXPECT_NO_THROW(log.add_file((root_ / L"shared.dat").wstring(), 3, true));
        log.set_result(true, L"");
    }
    EXPECT_TRUE(log.rollback().empty());
    EXPECT_EQ(read_file(root_ / L"locked.dll"), "in use");
    EXPECT_EQ(read_file(root_ / L"shared.dat"), "in use too");
    EXPECT_TRUE(backups().empty());

    // Nor is a previous installation's link: the new link's entry waits to be marked failed.
    const testing_support::test_folder menu(vd::known_folder_path(FOLDERID_StartMenu));
    write_file(menu / L"Stelvane 8.01.lnk", "old link");
    log.previous_entries = {{entry_kind::start_menu_link, (menu / L"Stelvane 8.01.lnk").wstring(), L"", true}};
    {
        const auto held = lock(menu / L"Stelvane 8.01.lnk");
        EXPECT_THROW(log.add_shortcut(false, (root_ / L"menu").wstring()), std::system_error);
    }
    ASSERT_TRUE(log.pending);
    log.set_result(false, L"");
    EXPECT_FALSE(log.entries.back().done);
    EXPECT_TRUE(log.entries.back().backup.empty());
    log.rollback();
    EXPECT_EQ(read_file(menu / L"Stelvane 8.01.lnk"), "old link");

    // A link that cannot be made once the previous one is put aside (a folder stands at its
    // name): the previous link comes back, and the journal names it as the previous one did.
    log.previous_entries = {{entry_kind::start_menu_link, (menu / L"Stelvane 8.01.lnk").wstring(), L"", true}};
    const auto target = log.add_shortcut(false, (menu / L"new").wstring());
    EXPECT_FALSE(fs::exists(menu / L"Stelvane 8.01.lnk"));
    fs::create_directories(menu / L"new" / L"Stelvane 8.01.lnk");
    EXPECT_THROW(target.make_shortcut(L"Stelvane 8.01", (root_ / L"Stelvane.exe").wstring()), std::exception);
    log.set_result(false, L"");
    EXPECT_EQ(read_file(menu / L"Stelvane 8.01.lnk"), "old link");
    EXPECT_TRUE(backups().empty());
    ASSERT_TRUE(log.write((root_ / L"Uninstall.ulog").wstring(), root_.wstring(), (menu / L"new").wstring()));
    uninstall_log next;
    next.read((root_ / L"Uninstall.ulog").wstring());
    const auto link = std::ranges::find(next.previous_entries, entry_kind::start_menu_link, &uninstall_log::entry::kind);
    ASSERT_NE(link, next.previous_entries.end());
    EXPECT_EQ(fs::path(link->path), menu / L"Stelvane 8.01.lnk");
    EXPECT_TRUE(link->done);

    // A link whose writing fails once its file is made, at the previous link's own name (a full
    // disk, the shell's failure): what it made goes, and the previous link comes back.
    uninstall_log again;
    again.previous_entries = {{entry_kind::start_menu_link, (menu / L"Stelvane 8.01.lnk").wstring(), L"", true}};
    const auto same_folder = again.add_shortcut(false, menu.path().wstring());
    ASSERT_TRUE(same_folder.held);
    EXPECT_THROW(journal_details::write_checked_file(same_folder.held.get(), same_folder.base, menu / L"Stelvane 8.01.lnk",
                                                     [](HANDLE file) {
                                                         DWORD written = 0;
                                                         ::WriteFile(file, "half a link", 11, &written, nullptr);
                                                         vd::throw_system_error(ERROR_DISK_FULL);
                                                     }),
                 std::system_error);
    again.set_result(false, L"");
    EXPECT_EQ(read_file(menu / L"Stelvane 8.01.lnk"), "old link");
    EXPECT_TRUE(again.entries.empty());
    EXPECT_TRUE(backups().empty());
}

// Another program has the user's file loaded (mapped): with the temporary folder on another
// volume it is copied into the backup, but then cannot leave its place. The record fails, and the
// file keeps the name it has on disk, which the record spells otherwise, its bytes and its time,
// with nothing beside it and no backup; in the installation folder and directly in a folder users
// can change alike.
TEST_F(journal, a_loaded_file_that_cannot_go_to_another_volume_keeps_its_name) {
    const testing_support::test_folder other_volume(L"Z:\\dev\\shm");
    const testing_support::environment_scope tmp(L"TMP", other_volume.path().c_str());
    const auto desktop = vd::known_folder_path(FOLDERID_PublicDesktop);
    const std::wstring name = L"My note " + world_.path().filename().wstring() + L".txt";
    const std::vector<fs::path> on_the_desktop{desktop / name};
    const testing_support::removed_at_end remove_later{on_the_desktop};
    const FILETIME written{0x65432100, 0x01D00000};
    for (const auto& [folder, base] : {std::pair{root_, fs::path()}, {desktop, desktop}}) {
        SCOPED_TRACE(folder.string());
        const auto file = folder / name;
        write_file(file, "the user's own");
        {
            const vd::unique_file held(::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held && ::SetFileTime(held.get(), nullptr, nullptr, &written));
        }
        uninstall_log log;
        {
            const testing_support::loaded_file loaded(file);
            ASSERT_TRUE(loaded);
            std::wstring spelt_otherwise = name;
            std::ranges::transform(spelt_otherwise, spelt_otherwise.begin(), ::towupper);
            EXPECT_THROW(log.add_file((folder / spelt_otherwise).wstring(), 0, false, base.wstring()), std::system_error);
        }
        EXPECT_FALSE(log.pending);
        EXPECT_TRUE(log.rollback().empty());
        std::vector<std::wstring> names;
        for (const auto& item : fs::directory_iterator(folder)) {
            const auto found = item.path().filename().wstring();
            if (found == name || (found.starts_with(L"vd-") && found.ends_with(L".tmp")) || _wcsicmp(found.c_str(), name.c_str()) == 0)
                names.push_back(found);
        }
        EXPECT_EQ(names, std::vector<std::wstring>{name});
        EXPECT_EQ(read_file(file), "the user's own");
        WIN32_FILE_ATTRIBUTE_DATA kept{};
        ASSERT_TRUE(::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &kept));
        EXPECT_EQ(::CompareFileTime(&kept.ftLastWriteTime, &written), 0) << "modification time";
        EXPECT_TRUE(fs::is_empty(other_volume.path())) << "a backup stayed on the other volume";
    }
}

TEST_F(journal, rollback_goes_on_past_what_it_cannot_undo) {
    write_file(root_ / L"first.txt", "first");
    write_file(root_ / L"second.txt", "second");
    uninstall_log log;
    log.add_file((root_ / L"first.txt").wstring(), 0, false);
    write_file(root_ / L"first.txt", "new first");
    log.set_result(true, L"");
    log.add_file((root_ / L"new" / L"file.txt").wstring(), 0, false);
    write_file(root_ / L"new" / L"file.txt", "new");
    log.set_result(true, L"");
    log.add_file((root_ / L"second.txt").wstring(), 0, false);
    write_file(root_ / L"second.txt", "new second");
    log.set_result(true, L"");
    // Something the installation did not write has appeared in its folder.
    write_file(root_ / L"new" / L"theirs.txt", "not ours");

    // A program holds the first installed file for a moment, letting nobody in: the rollback
    // waits for it. Another holds the second for longer than the rollback waits.
    std::vector<uninstall_log::entry> left;
    {
        const auto held = lock(root_ / L"second.txt");
        auto held_a_moment = lock(root_ / L"first.txt");
        ASSERT_TRUE(held && held_a_moment);
        std::jthread let_go([&] {
            ::Sleep(1500);
            held_a_moment.reset();
        });
        left = log.rollback();
    }
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].kind, entry_kind::file);
    EXPECT_EQ(fs::path(left[0].path), root_ / L"second.txt");
    // The user's file stays beside its place, where the user can take it back.
    const fs::path kept = left[0].backup;
    EXPECT_TRUE(left[0].kept_for_user);
    EXPECT_EQ(kept.parent_path(), root_);
    EXPECT_TRUE(kept.filename().wstring().starts_with(L"second (vd-") && kept.extension() == L".txt") << kept.string();
    EXPECT_EQ(read_file(kept), "second");
    EXPECT_EQ(read_file(root_ / L"second.txt"), "new second");
    EXPECT_TRUE(backups().empty());
    EXPECT_EQ(left[1].kind, entry_kind::folder);
    EXPECT_EQ(fs::path(left[1].path), root_ / L"new");

    EXPECT_EQ(read_file(root_ / L"first.txt"), "first");
    EXPECT_EQ(read_file(root_ / L"new" / L"theirs.txt"), "not ours");
    EXPECT_FALSE(fs::exists(root_ / L"new" / L"file.txt"));
    EXPECT_TRUE(log.entries.empty());
}

// A user's files that records replace in the folders users can change, directly in each of them
// and one folder below, and in the installation folder, and an extraction that fails at the last
// file: each file comes back (through the folder's checked handle where users may change it)
// with its bytes, its attributes and its times, as a move within one volume keeps them, and
// nothing of it stays in the temporary folder; the same with the temporary folder on another
// volume (the host's memory file system), where the backups are copies made through handles.
// And the same while another program, sharing everything as indexers and scanners do, holds the
// files the installation wrote, or the user's own files from before it: nothing of the files
// that went stays in their folders once it lets go.
TEST_F(journal, a_replaced_file_comes_back_whole_from_a_failed_extraction) {
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const testing_support::test_folder shared(common);
    const testing_support::test_folder other_volume(L"Z:\\dev\\shm");
    const std::wstring name = L"My own note " + world_.path().filename().wstring() + L".txt";
    const std::pair<std::wstring, fs::path> bases[] = {
        {L"<CommonDesktop>", shell_folder_path(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY)},
        {L"<Desktop>", shell_folder_path(CSIDL_DESKTOPDIRECTORY)},
        {L"<CommonData>", common},
        {L"<UserData>", shell_folder_path(CSIDL_APPDATA)},
        {L"<CommonData>\\" + shared.path().filename().wstring() + L"\\Textures", shared / L"Textures"},
        {L"<InstallPath>", root_},
    };
    std::vector<payload_item> items;
    std::vector<fs::path> files;
    for (const auto& [folder_template, folder] : bases) {
        items.push_back({L"C:\\" + name, folder_template, payload_kind::ordinary, std::string("the installation's")});
        files.push_back(folder / name);
    }
    const testing_support::removed_at_end remove_later{files};
    auto inflated = testing_support::inflated_payload(items);
    inflated.back() ^= 1;  // the last file fails its check
    const auto stored = compress_payload(inflated);

    const auto hold = [](const fs::path& file) {
        constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        return vd::unique_file(::CreateFileW(file.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    const auto left_in_folder = [&](const fs::path& file) {
        std::vector<fs::path> found;
        for (const auto& item : fs::directory_iterator(file.parent_path())) {
            const auto item_name = item.path().filename().wstring();
            if (item_name.starts_with(L"vd-") && item_name.ends_with(L".tmp"))
                found.push_back(item.path());
        }
        return found;
    };
    enum class holder { none, installed_files, users_files };
    const FILETIME made{0x12345600, 0x01C80000}, written{0x65432100, 0x01D00000};
    WIN32_FILE_ATTRIBUTE_DATA before{};
    for (const auto& [across_volumes, held] : {std::pair{false, holder::none}, {true, holder::none}, {false, holder::installed_files},
                                             {true, holder::installed_files}, {false, holder::users_files}, {true, holder::users_files}}) {
        SCOPED_TRACE(across_volumes ? "the temporary folder on another volume" : "the temporary folder on the same volume");
        SCOPED_TRACE(held == holder::none              ? "no other program"
                     : held == holder::installed_files ? "another program holds the installed files"
                                                       : "another program holds the user's files");
        std::optional<testing_support::environment_scope> tmp;
        if (across_volumes)
            tmp.emplace(L"TMP", other_volume.path().c_str());
        for (const auto& file : files) {
            write_file(file, "the user's own");
            const vd::unique_file held(::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held && ::SetFileTime(held.get(), &made, nullptr, &written));
            ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        }
        ASSERT_TRUE(::GetFileAttributesExW(files.front().c_str(), GetFileExInfoStandard, &before));
        std::vector<vd::unique_file> holders;
        if (held == holder::users_files) {
            for (const auto& file : files)
                holders.push_back(hold(file));
        }

        uninstall_log log;
        vd::imemstream stream(stored.data(), stored.size());
        std::size_t replaced = 0;
        fs::path current;
        const bool extracted = extract_payload(stream, root_.wstring(), L"", L"", [&](notification message) {
            if (const auto* begins = std::get_if<notification::file_begins>(&message)) {
                log.add_file(begins->file->target, 0, false, begins->file->checked_below);
                replaced += !fs::exists(begins->file->target);
                current = begins->file->target;
                return notification::result::proceed;
            }
            const bool file_ends = std::holds_alternative<notification::file_done>(message) || std::holds_alternative<notification::error>(message);
            if (held == holder::installed_files && file_ends)
                holders.push_back(hold(current));
            if (std::holds_alternative<notification::file_done>(message))
                log.set_result(true, L"");
            else if (std::holds_alternative<notification::error>(message))
                log.set_result(false, L"");
            return notification::result::proceed;
        });
        ASSERT_FALSE(extracted);
        ASSERT_EQ(replaced, files.size());
        if (held != holder::none) {
            ASSERT_EQ(holders.size(), files.size());
            ASSERT_TRUE(std::ranges::all_of(holders, [](const vd::unique_file& h) { return bool(h); }));
        }
        const auto left = log.rollback();
        EXPECT_TRUE(left.empty()) << "not undone: " << fs::path(left.front().path).string();
        holders.clear();

        for (const auto& file : files) {
            SCOPED_TRACE(file.string());
            EXPECT_EQ(read_file(file), "the user's own");
            WIN32_FILE_ATTRIBUTE_DATA put_back{};
            ASSERT_TRUE(::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &put_back));
            EXPECT_EQ(put_back.dwFileAttributes, before.dwFileAttributes);
            EXPECT_EQ(::CompareFileTime(&put_back.ftLastWriteTime, &written), 0) << "modification time";
            if (::CompareFileTime(&before.ftCreationTime, &made) == 0) {
                EXPECT_EQ(::CompareFileTime(&put_back.ftCreationTime, &made), 0) << "creation time";
            }
        }
        EXPECT_TRUE(backups().empty());
        EXPECT_TRUE(fs::is_empty(other_volume.path())) << "a backup stayed on the other volume";
        for (const auto& file : files)
            EXPECT_TRUE(left_in_folder(file).empty()) << "left beside " << file.string();
    }
    if (::CompareFileTime(&before.ftCreationTime, &made) != 0)
        GTEST_SKIP() << "Wine: a file's creation time cannot be set, so a copy cannot be given the original's";
}

// What other programs keep goes at the next restart, and nothing of it stays after that. The
// run's own file in a folder the run made, held by a program that shares everything (an
// indexer) while a rollback deletes it, with the temporary folder on another volume: the file
// waits beside its place for the holder, and the folder, which only it keeps, is no failure of
// the rollback. And the user's library that a program has loaded, replaced by an installation
// that stands: its backup cannot be deleted meanwhile.
TEST_F(journal, what_other_programs_keep_goes_at_the_next_restart) {
    const testing_support::restart_list_cleanup forget_ours(world_.path());
    const auto ours = [&] {
        std::vector<fs::path> found;
        for (const auto& path : testing_support::deleted_at_restart()) {
            if (path.native().starts_with((world_ / L"").native()))
                found.push_back(path);
        }
        return found;
    };
    const testing_support::test_folder other_volume(L"Z:\\dev\\shm");
    const auto folder = root_ / L"Index";
    {
        const testing_support::environment_scope tmp(L"TMP", other_volume.path().c_str());
        uninstall_log log;
        log.add_file((folder / L"scene.idx").wstring(), 0, false);
        write_file(folder / L"scene.idx", "the run's own");
        log.set_result(true, L"");
        const vd::unique_file indexer(::CreateFileW((folder / L"scene.idx").c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(indexer);
        const auto left = log.rollback();
        EXPECT_TRUE(left.empty()) << "not undone: " << fs::path(left.front().path).string();
        EXPECT_FALSE(fs::exists(folder / L"scene.idx"));
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "the file did not go with its holder";
    EXPECT_TRUE(fs::is_empty(other_volume.path()));
    EXPECT_EQ(ours(), std::vector{folder});

    const auto library = root_ / L"Languages" / L"Stelvane.de.dll";
    fs::create_directories(library.parent_path());
    fs::copy_file(LIBRARY_MARKER_DLL, library);
    vd::unique_module loaded(::LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(loaded) << ::GetLastError();
    uninstall_log log;
    log.add_file(library.wstring(), 0, false);
    const fs::path backup = log.entries.back().backup;
    write_file(library, "the new library");
    log.set_result(true, L"");
    log.delete_backups();
    EXPECT_TRUE(fs::exists(backup)) << "a loaded library was deleted";
    EXPECT_EQ(ours(), (std::vector{folder, backup}));
    loaded.reset();

    ASSERT_EQ(testing_support::restart_machine(), 0);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_TRUE(backups().empty());
    EXPECT_EQ(ours(), std::vector<fs::path>{});
    EXPECT_EQ(read_file(library), "the new library");
}

// A few bytes of payload may name thousands of folders, each below the one before: journalling
// them must cost memory linear in the path, not in its square (a 32-bit process has 2 GiB).
// Under Wine each file call walks every folder of its path, which bounds the depth tried here.
TEST_F(journal, deep_folders_are_journalled_outermost_first_in_bounded_memory) {
    constexpr int depth = 600;
    std::wstring folder_template = L"<InstallPath>";
    for (int i = 0; i < depth; ++i)
        folder_template += L"\\a";
    const auto stored = testing_support::stored_payload({{L"C:\\deep.dat", folder_template, payload_kind::ordinary, std::string("x")}});
    vd::imemstream stream(stored.data(), stored.size());
    uninstall_log log;
    testing_support::watchdog watch(std::chrono::seconds(120));
    watch.step("extracting a file 600 folders down through the journal");
    const auto peak_before = peak_working_set();
    const bool extracted = extract_payload(stream, root_.wstring(), L"", L"", [&log](notification message) {
        if (const auto* begins = std::get_if<notification::file_begins>(&message))
            log.add_file(begins->file->target, 0, false);
        else if (std::holds_alternative<notification::file_done>(message))
            log.set_result(true, L"");
        return notification::result::proceed;
    });
    // The folders' texts alone, each a copy of the path so far, take 0.7 MiB.
    EXPECT_LT(peak_working_set() - peak_before, 6u << 20);
    ASSERT_TRUE(extracted);

    ASSERT_EQ(log.entries.size(), depth + 1u);
    fs::path expected = root_;
    for (auto item = log.entries.begin(); item != std::prev(log.entries.end()); ++item) {
        expected /= L"a";
        ASSERT_EQ(item->kind, entry_kind::folder);
        ASSERT_EQ(fs::path(item->path), expected);
    }
    EXPECT_EQ(fs::path(log.entries.back().path), expected / L"deep.dat");
    // Again: every folder is there now and nothing more is journalled.
    EXPECT_TRUE(log.create_folders(expected.wstring()));
    EXPECT_EQ(log.entries.size(), depth + 1u);

    // Innermost first, or no folder would be empty when its turn came.
    EXPECT_TRUE(log.rollback().empty());
    EXPECT_TRUE(fs::is_empty(root_));
}

// Below the shared data folder users may change anything: here a user exchanges the folder that
// the installation writes into for a link to a folder users may not change, once its first
// file was written, or once its next file was journalled and before it is opened. The file
// fails, and neither the installation nor its rollback deletes, replaces or adds anything behind
// the link; what the rollback could not put back through it stays in the temporary folder.
TEST_F(journal, a_folder_exchanged_for_a_link_is_neither_written_nor_rolled_back_through) {
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const std::wstring top = world_.path().filename().wstring();
    const auto textures = common / top / L"Textures";
    struct cleanup {
        fs::path folder;
        ~cleanup() { std::error_code ignored; fs::remove_all(folder, ignored); }
    } remove_later{common / top};
    // Stands for a folder that users may not change, the system folder for one.
    const auto elsewhere = world_ / L"elsewhere";
    write_file(elsewhere / L"checker.bmp", "theirs");
    write_file(elsewhere / L"steel.bmp", "theirs too");
    write_file(elsewhere / L"birch.bmp", "their birch");
    const auto kept = snapshot(elsewhere);

    const auto stored = testing_support::stored_payload({
        {L"C:\\checker.bmp", L"<CommonData>\\" + top + L"\\Textures", payload_kind::ordinary, std::string("new checker")},
        {L"C:\\steel.bmp", L"<CommonData>\\" + top + L"\\Textures", payload_kind::ordinary, std::string("new steel")},
    });
    for (const std::size_t moment : {testing_support::file_done_event, testing_support::file_begins_event}) {
        SCOPED_TRACE(moment == testing_support::file_done_event ? "after the first file" : "between the check and the open");
        fs::remove_all(common / top);
        write_file(textures / L"checker.bmp", "old checker");
        write_file(textures / L"birch.bmp", "the user's birch");
        std::optional<testing_support::folder_link> link;
        uninstall_log log;
        vd::imemstream stream(stored.data(), stored.size());
        const bool extracted = extract_payload(stream, root_.wstring(), L"", L"", [&](notification message) {
            if (const auto* begins = std::get_if<notification::file_begins>(&message)) {
                log.add_file(begins->file->target, 0, false, begins->file->checked_below);
                if (moment == testing_support::file_begins_event && begins->file->file_name() == L"steel.bmp") {
                    fs::rename(textures, common / top / L"Textures.user");
                    link.emplace(textures, elsewhere);
                }
            } else if (std::holds_alternative<notification::file_done>(message)) {
                log.set_result(true, L"");
                if (moment == testing_support::file_done_event && !link) {
                    fs::rename(textures, common / top / L"Textures.user");
                    link.emplace(textures, elsewhere);
                }
            } else if (const auto* error = std::get_if<notification::error>(&message)) {
                EXPECT_EQ(error->code, std::error_code(reparse_point_encountered, std::system_category()));
                EXPECT_EQ(fs::path(error->text), textures / L"steel.bmp");
                log.set_result(false, L"");
            }
            return notification::result::proceed;
        });
        EXPECT_FALSE(extracted);
        const auto left = log.rollback();
        EXPECT_EQ(snapshot(elsewhere), kept) << "the installation or its rollback went through the link";
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(fs::path(left.back().path), textures / L"checker.bmp");
        EXPECT_EQ(read_file(left.back().backup), "old checker") << "the replaced file is kept where the rollback left it";
        EXPECT_EQ(read_file(common / top / L"Textures.user" / L"birch.bmp"), "the user's birch");
        // Nor is a backup put back through it by a name that the other folder does not have.
        EXPECT_FALSE(journal_details::restore_backup(left.back().backup, (textures / L"granite.bmp").wstring(), common.wstring()));
        EXPECT_EQ(read_file(left.back().backup), "old checker");
        EXPECT_EQ(snapshot(elsewhere), kept) << "a backup was put back through the link";
    }
}

// Below the user's Start menu the link is written into a file made by its name in the folder
// that was checked, held meanwhile: the same bytes the shell saves by a path, and, with that
// folder renamed by a program beyond Wine's sharing rules and a link put in its place between
// the check and the link, in the held folder or nowhere.
TEST_F(journal, a_link_lands_in_the_folder_that_was_checked_or_nowhere) {
    const testing_support::test_folder menu(vd::known_folder_path(FOLDERID_StartMenu));
    const auto folder = menu / L"Vandrel";
    const fs::path moved = folder.native() + L".moved";
    const auto elsewhere = world_ / L"elsewhere";
    // A link records the times of the folders above its program, which other tests change in the
    // temporary folder: the program lies where nothing else changes.
    const testing_support::test_folder program_folder(L"C:\\");
    const auto program = program_folder / L"Stelvane.exe";
    write_file(program, "program");
    fs::create_directories(elsewhere);
    const testing_support::folder_watch watch(elsewhere);
    const auto saved_by_path = vd::create_shortcut(world_.path(), L"Stelvane 8.01", program);
    for (const bool exchanged : {false, true}) {
        SCOPED_TRACE(exchanged ? "the folder exchanged for a link" : "the folder as it was checked");
        uninstall_log log;
        const auto target = log.add_shortcut(false, folder.wstring());
        ASSERT_TRUE(target.held);
        std::optional<testing_support::folder_link> link;
        // Windows refuses to move the held folder: then there is nothing to exchange.
        if (exchanged && testing_support::move_folder_as_user(folder, moved))
            link.emplace(folder, elsewhere);
        try {
            const auto made = target.make_shortcut(L"Stelvane 8.01", program.wstring());
            log.set_result(true, made.wstring());
            EXPECT_EQ(read_file((link ? moved : folder) / L"Stelvane 8.01.lnk"), read_file(saved_by_path));
        } catch (const fs::filesystem_error& e) {
            EXPECT_TRUE(exchanged && is_refusal(e)) << e.what();
        }
        link.reset();
        EXPECT_FALSE(watch.changed()) << "something was made in the other folder";
        EXPECT_TRUE(fs::is_empty(elsewhere));
    }
}

// A key of the test's own under HKEY_CURRENT_USER stands for the product's Uninstall key.
class journal_registry : public journal {
protected:
    void SetUp() override {
        journal::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        parent_path_ = L"Software\\Vandrel Tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                       std::wstring(info->name(), info->name() + std::strlen(info->name()));
        parent_ = vd::reg_create_key(HKEY_CURRENT_USER, parent_path_);
        ASSERT_TRUE(parent_);
        const auto product = parent_.create_subkey(name_);
        product.set_string(L"DisplayName", L"Stelvane 8.00");
        product.create_subkey(L"Details").set_string(L"Note", L"kept");
    }

    void TearDown() override {
        parent_ = vd::reg_key();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, parent_path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vandrel Tests");
        journal::TearDown();
    }

    std::wstring display_name() const {
        std::wstring text;
        const auto product = parent_.open_subkey(name_);
        if (product)
            product.get_string(L"DisplayName", text);
        return text;
    }

    std::wstring parent_path_;
    std::wstring name_ = L"Stelvane 8";
    vd::reg_key parent_;
};

TEST_F(journal_registry, an_existing_key_is_saved_and_restored) {
    uninstall_log log;
    {
        const auto product = parent_.open_subkey(name_);
        log.add_registry_key(product.get());
    }
    log.set_result(true, L"");
    const auto& saved = log.entries.back();
    EXPECT_EQ(saved.kind, entry_kind::uninstall_key);
    EXPECT_TRUE(saved.existed);
    ASSERT_FALSE(saved.backup.empty());
    EXPECT_GT(fs::file_size(saved.backup), 0u);
    EXPECT_EQ(fs::path(saved.backup).parent_path(), temp_);

    parent_.open_subkey(name_).set_string(L"DisplayName", L"Stelvane 8.01");
    if (vd::details::running_on_wine())
        GTEST_SKIP() << "Wine: RegRestoreKeyW is a stub that restores nothing";
    EXPECT_TRUE(journal_details::undo_registry_key(parent_.get(), name_, saved.backup));
    EXPECT_EQ(display_name(), L"Stelvane 8.00");
    EXPECT_TRUE(parent_.open_subkey(name_ + L"\\Details"));
    EXPECT_TRUE(backups().empty());
}

TEST_F(journal_registry, a_created_key_is_deleted_and_an_unsaved_one_left_alone) {
    uninstall_log log;
    log.add_registry_key(nullptr);
    log.set_result(true, L"");
    EXPECT_TRUE(log.entries.back().backup.empty());
    EXPECT_FALSE(log.entries.back().existed);
    EXPECT_TRUE(journal_details::undo_registry_key(parent_.get(), name_, L""));
    EXPECT_FALSE(parent_.open_subkey(name_));
    EXPECT_TRUE(journal_details::undo_registry_key(parent_.get(), name_, L""));  // already gone

    // A key that was there but could not be saved is reported by the rollback, never deleted.
    log.entries.clear();
    log.add_registry_key(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)));  // no such key
    log.set_result(true, L"");
    EXPECT_TRUE(log.entries.back().existed);
    EXPECT_TRUE(log.entries.back().backup.empty());
    EXPECT_TRUE(backups().empty());
    const auto left = log.rollback();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, entry_kind::uninstall_key);
}

} // namespace
