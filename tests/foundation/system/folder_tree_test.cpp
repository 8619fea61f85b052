#include "foundation/system/folder_tree.hpp"

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
        if (c.created)
            EXPECT_TRUE(fs::is_directory(folder / c.created)) << testing::PrintToString(c.text);
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
