#include "foundation/system/folder_tree.hpp"

#include "foundation/app/initialization.hpp"

#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::test_folder;

TEST(folder_tree, typed_folders_are_created_or_refused) {
    test_folder folder;
    testing_support::write_file(folder / "file", "in the way");
    const auto root = folder.path().wstring();

    const struct {
        std::wstring text;
        HRESULT result;
        const wchar_t* created;  // below the test folder, when the text makes one
    } cases[] = {
        {L"  \t" + root + L"\\Data\\New.  ", S_OK, L"Data\\New"},
        {root + L"\\Data\\New", S_OK, L"Data\\New"},  // there already
        {root + L"\\a\\b\\c\\", S_OK, L"a\\b\\c"},
        {L" \t. .. \t", E_INVALIDARG, nullptr},
        {L"", E_INVALIDARG, nullptr},
        {root + L"\\file\\sub", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), nullptr},
        {root + L"\\file", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vd::create_folder_tree(c.text.c_str()), c.result) << testing::PrintToString(c.text);
        if (c.created) {
            EXPECT_TRUE(fs::is_directory(folder / c.created)) << testing::PrintToString(c.text);
        }
    }
    EXPECT_EQ(vd::create_folder_tree(nullptr), E_INVALIDARG);

    // A relative text is created below the current folder.
    const auto current = fs::current_path();
    fs::current_path(folder.path());
    const auto result = vd::create_folder_tree(L"Sub\\Dir");
    fs::current_path(current);
    EXPECT_EQ(result, S_OK);
    EXPECT_TRUE(fs::is_directory(folder / "Sub" / "Dir"));
}

TEST(folder_tree, failures_carry_the_systems_code_and_nothing_is_made_elsewhere) {
    test_folder folder;
    const auto root = folder.path().wstring();
    wchar_t missing_drive = 0;
    const DWORD drives = ::GetLogicalDrives();
    for (wchar_t letter = L'Z'; letter > L'C' && !missing_drive; --letter) {
        if (!(drives & (1u << (letter - L'A'))))
            missing_drive = letter;
    }
    ASSERT_NE(missing_drive, 0);
    // Wine reports a drive that is not there as a missing file, Windows as a missing path.
    EXPECT_EQ(vd::create_folder_tree((std::wstring(1, missing_drive) + L":\\vdtest\\x").c_str()),
              HRESULT_FROM_WIN32(vd::details::running_on_wine() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(vd::create_folder_tree((root + L"\\a<b").c_str()), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));

    // A server and share are a root: never made, and never taken for folders on this drive.
    const std::wstring server = L"vdtest-no-server-" + folder.path().filename().wstring();
    EXPECT_TRUE(FAILED(vd::create_folder_tree((L"\\\\" + server + L"\\share\\x").c_str())));
    EXPECT_TRUE(FAILED(vd::create_folder_tree((L"//" + server + L"/share").c_str())));
    EXPECT_FALSE(fs::exists(fs::current_path().root_path() / server));

    // The library's own code stands for every standard error but "file exists".
    const auto generic = [](std::errc code) {
        return vd::details::hresult_of(fs::filesystem_error("create_directories", std::make_error_code(code)));
    };
    EXPECT_EQ(generic(std::errc::invalid_argument), vd::e_unusable_path);
    EXPECT_EQ(generic(std::errc::filename_too_long), vd::e_unusable_path);
    EXPECT_EQ(generic(std::errc::file_exists), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
}
