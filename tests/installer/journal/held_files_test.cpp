#include "installer/journal/held_files.hpp"

#include "installer/payload/folder_templates.hpp"
#include "installer/payload/linked_folders.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/folder_link.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <optional>

#include <windows.h>
#include <shlobj.h>

namespace fs = std::filesystem;
using namespace testing_support;

// A backup on another volume (the host's memory file system) is put back as a copy made by its
// name in the held folder. Here a program beyond Wine's sharing rules renames that folder and
// puts a link to another folder in its place once it is held: the copy lands in the held folder
// or nowhere, and the other folder sees nothing, not even a file made and deleted again.
TEST(held_files, a_copy_put_back_across_volumes_is_made_in_the_held_folder_or_nowhere) {
    const test_folder scratch;
    const auto common = shell_folder_path(CSIDL_COMMON_APPDATA, CSIDL_APPDATA);
    const test_folder shared(common);
    const test_folder other_volume(L"Z:\\dev\\shm");
    const auto folder = shared / L"Textures";
    const fs::path moved = folder.native() + L".moved";
    const auto target = folder / L"steel.bmp";
    const auto backup = other_volume / L"vd-1a2b3.tmp";
    write_file(backup, "old steel");
    fs::create_directories(folder);
    const auto elsewhere = scratch / L"elsewhere";
    fs::create_directories(elsewhere);
    const folder_watch watch(elsewhere);

    const auto held_folder = open_checked(common, folder, FILE_TRAVERSE | FILE_ADD_FILE, target);
    ASSERT_TRUE(held_folder);
    const vd::unique_file held_backup(::CreateFileW(backup.c_str(), DELETE | GENERIC_READ | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                                    0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held_backup);
    ASSERT_TRUE(move_folder_as_user(folder, moved));
    std::optional<folder_link> link(std::in_place, folder, elsewhere);

    if (restore_held(held_backup.get(), held_folder.get(), common, target)) {
        EXPECT_EQ(read_file(moved / L"steel.bmp"), "old steel");
    } else {
        // (A copy that failed its check is deleted through its handle, which Wine does by the
        // name the handle was opened through: under Wine an empty one may stay in the held folder.)
        EXPECT_TRUE(fs::exists(backup)) << "the backup is lost";
    }
    link.reset();
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(watch.changed()) << "something was made or removed in the other folder";
}

// A copy across volumes that fails (here the backup cannot be read) leaves the backup whole: it
// goes only once its bytes are in the copy.
TEST(held_files, a_copy_put_back_across_volumes_that_fails_keeps_the_backup) {
    const test_folder folder;
    const test_folder other_volume(L"Z:\\dev\\shm");
    const auto backup = other_volume / L"vd-4c5d6.tmp";
    write_file(backup, "old steel");
    const vd::unique_file held_folder(::CreateFileW(folder.path().c_str(), FILE_TRAVERSE | FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    vd::unique_file unreadable(::CreateFileW(backup.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held_folder && unreadable);
    EXPECT_FALSE(restore_held(unreadable.get(), held_folder.get(), {}, folder / L"steel.bmp"));
    unreadable.reset();
    EXPECT_FALSE(fs::exists(folder / L"steel.bmp"));
    EXPECT_EQ(read_file(backup), "old steel");
}
