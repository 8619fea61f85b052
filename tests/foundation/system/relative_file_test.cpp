#include "foundation/system/relative_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_folder.hpp"

namespace fs = std::filesystem;

// A name that is no single element of the held folder would reach past it (its parent, the
// folder itself, a folder below) or be cut short by the whole-path calls into another name:
// each is refused, whatever the call would do with it, and nothing is opened or made. (Wine's
// native call refuses "." and ".." by itself; the check does not leave them to the file system.)
TEST(relative_file, a_name_that_is_no_single_element_is_refused) {
    using vd::relative_disposition;
    testing_support::test_folder folder;
    fs::create_directories(folder / L"a");
    const vd::unique_file held(::CreateFileW(folder.path().c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held) << ::GetLastError();
    ASSERT_TRUE(vd::open_relative(held.get(), L"a", 0, FILE_SHARE_READ, relative_disposition::existing, vd::relative_kind::folder).handle);
    for (const wchar_t* name : {L".", L"..", L"", L"a\\b", L"a/b", L"name.", L"name "}) {
        for (const auto disposition : {relative_disposition::existing, relative_disposition::existing_or_new, relative_disposition::new_only}) {
            SCOPED_TRACE(testing::Message() << fs::path(name).string() << " with disposition " << static_cast<int>(disposition));
            const auto opened = vd::open_relative(held.get(), name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, vd::relative_kind::any);
            EXPECT_FALSE(opened.handle);
            EXPECT_FALSE(opened.created);
            EXPECT_EQ(opened.error, static_cast<DWORD>(ERROR_INVALID_NAME));
        }
    }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder.path()), fs::recursive_directory_iterator()), 1);
}
