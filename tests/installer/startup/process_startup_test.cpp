// The process-wide start-up: once only, never an end to the program over a locale, and no
// library by name from anywhere but the system folder.
#include "installer/startup/process_startup.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <locale>

#include <windows.h>

#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

TEST(process_startup, the_process_is_set_up_once_and_a_locale_always_found) {
    ::SetErrorMode(0);
    EXPECT_TRUE(initialize_process());
    EXPECT_EQ(::GetErrorMode() & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
              static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));

    // A second call changes nothing: the error mode the program set since stays, and so does
    // the global locale.
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    std::locale::global(std::locale::classic());
    EXPECT_TRUE(initialize_process());
    EXPECT_EQ(::GetErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(std::locale().name(), "C");

    // The user's locale may be unknown to this standard library: a locale is found all the same.
    EXPECT_TRUE(set_user_locale());
    EXPECT_FALSE(std::locale().name().empty());
    std::locale::global(std::locale::classic());
}

// Each test runs in a process of its own: the search stays restricted in this one alone.
TEST(process_startup, libraries_by_name_come_from_the_system_folder_only) {
    const testing_support::test_folder current;
    std::filesystem::copy_file(LIBRARY_MARKER_DLL, current / L"library_marker.dll");
    wchar_t previous[MAX_PATH] = {};
    ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));

    restrict_library_search();
    const vd::unique_module planted{::LoadLibraryW(L"library_marker.dll")};
    const DWORD error = ::GetLastError();
    const vd::unique_module system{::LoadLibraryW(L"version.dll")};
    ::SetCurrentDirectoryW(previous);

    EXPECT_FALSE(planted) << "taken from the current folder";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(current / L"library_marker.dll.loaded"));
    EXPECT_TRUE(system) << "error " << ::GetLastError();
}
