#include "foundation/system/path.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>

#include "support/test_folder.hpp"

namespace fs = std::filesystem;

namespace {

std::wstring upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return text;
}

// same_path's answer, and the same answer from the paths' keys, alone and in a set.
void expect_same(const fs::path& first, const fs::path& second, bool same) {
    EXPECT_EQ(vd::same_path(first, second), same) << first.string() << " | " << second.string();
    const vd::path_key a(first);
    const vd::path_key b(second);
    EXPECT_EQ(a == b, same) << "keys of " << first.string() << " | " << second.string();
    vd::path_set set;
    set.insert(a);
    EXPECT_EQ(set.contains(b), same) << "set of " << first.string() << " | " << second.string();
}

} // namespace

TEST(path, same_path_by_text_and_by_normal_form) {
    // Nothing here exists: the file system cannot answer.
    expect_same(L"D:\\Data\\x", L"D:/Data//x", true);
    expect_same(L"D:\\DATA\\X", L"d:\\data\\x", true);
    expect_same(L"D:\\\u00c4rger\\\u00d6L", L"d:\\\u00e4rger\\\u00f6l", true);
    expect_same(L"D:\\a\\b\\", L"D:\\a\\b", true);
    expect_same(L"D:\\a\\.\\b\\..\\c", L"D:\\a\\c", true);
    expect_same(L"\\\\server\\share\\Folder", L"\\\\SERVER\\share\\folder\\.", true);
    expect_same(L"vdtest-missing\\x", fs::current_path() / L"VDTEST-MISSING" / L"X", true);

    expect_same(L"D:\\a\\b", L"D:\\a\\c", false);
    expect_same(L"D:\\a", L"D:\\a\\b", false);
    expect_same(L"D:\\a\\b", L"E:\\a\\b", false);
    expect_same(L"D:\\ab", L"D:\\a\\b", false);
    expect_same(L"D:\\\u00e4", L"D:\\a", false);
}

TEST(path, same_path_of_existing_files) {
    testing_support::test_folder folder;
    const auto first = folder / L"Uninstall.ulog";
    const auto second = folder / L"Sub" / L"Other.ulog";
    testing_support::write_file(first, "1");
    testing_support::write_file(second, "2");

    expect_same(first, fs::path(upper(first.native())), true);
    expect_same(first, folder / L"Sub" / L".." / L"Uninstall.ulog", true);
    expect_same(first, second, false);
    // One existing, one missing: the names decide.
    expect_same(first, folder / L"Missing.ulog", false);
    // The C runtime does not find a folder named with a trailing separator; it is the same folder.
    expect_same(folder / L"Sub", fs::path(upper((folder / L"sub").native()) + L"\\"), true);
    EXPECT_TRUE(vd::path_key(first).identity());
    EXPECT_FALSE(vd::path_key(folder / L"Missing.ulog").identity());

    // A set matches an existing file by its identity, and a missing one by its name.
    vd::path_set set;
    set.insert(vd::path_key(first));
    set.insert(vd::path_key(folder / L"Missing.ulog"));
    EXPECT_TRUE(set.contains(vd::path_key(folder / L"Sub" / L".." / L"UNINSTALL.ULOG")));
    EXPECT_TRUE(set.contains(vd::path_key(folder / L"missing.ulog")));
    EXPECT_FALSE(set.contains(vd::path_key(second)));
}

TEST(path, normal_form_resolves_dots_by_text) {
    EXPECT_EQ(vd::details::normal_form(L"D:/a//b/./c/../d/").native(), L"D:\\a\\b\\d");
    EXPECT_EQ(vd::details::normal_form(L"D:\\").native(), L"D:\\");
    EXPECT_EQ(vd::details::normal_form(L"x\\..\\y"), fs::current_path() / L"y");
}

TEST(path, unique_temp_path_draws_lower_case_hex_digits) {
    const fs::path temp = fs::temp_directory_path();
    std::set<std::wstring> names;
    for (int i = 0; i < 20; ++i) {
        const fs::path made = vd::unique_temp_path(L"vd-%%%%%.tmp");
        EXPECT_EQ(made.parent_path(), (temp / L"x").parent_path());
        const std::wstring name = made.filename().native();
        ASSERT_EQ(name.size(), 12u);
        EXPECT_EQ(name.substr(0, 3), L"vd-");
        EXPECT_EQ(name.substr(8), L".tmp");
        EXPECT_TRUE(std::all_of(name.begin() + 3, name.begin() + 8,
                                [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }))
            << std::string(name.begin(), name.end());
        EXPECT_FALSE(fs::exists(made));
        names.insert(name);
    }
    // Twenty draws of 2^20 names: a repeat would mean the engine is not moving on.
    EXPECT_GT(names.size(), 15u);
}

TEST(path, unique_temp_path_passes_over_names_that_exist) {
    testing_support::test_folder folder;
    // An absolute pattern replaces the temporary folder, so that the test can fill its own: every
    // name but one is taken.
    const std::wstring pattern = (folder / L"vd-%.tmp").native();
    const std::wstring digits = L"0123456789abcdef";
    for (const wchar_t digit : digits) {
        if (digit != L'b')
            testing_support::write_file(folder / (std::wstring(L"vd-") + digit + L".tmp"), "");
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(vd::unique_temp_path(pattern), folder / L"vd-b.tmp");
    EXPECT_FALSE(fs::exists(folder / L"vd-b.tmp")) << "nothing is created";
}
