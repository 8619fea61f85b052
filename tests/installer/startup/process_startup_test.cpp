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

namespace {

struct policy_request {
    int calls = 0;
    PROCESS_MITIGATION_POLICY policy{};
    SIZE_T length = 0;
    DWORD flags = 0;
    BOOL answer = TRUE;
};
policy_request* current_request = nullptr;

BOOL WINAPI recording_set_policy(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T length) {
    auto& request = *current_request;
    ++request.calls;
    request.policy = policy;
    request.length = length;
    request.flags = static_cast<const PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY*>(buffer)->Flags;
    return request.answer;
}

} // namespace

// Asked for with the enforcing flag alone; a system that refuses it, or lacks the function,
// leaves the process running as before.
TEST(process_startup, junctions_of_users_are_refused_where_the_system_can) {
    for (const BOOL answer : {TRUE, FALSE}) {
        policy_request request{.answer = answer};
        current_request = &request;
        EXPECT_EQ(request_redirection_trust(recording_set_policy), answer != FALSE);
        current_request = nullptr;
        EXPECT_EQ(request.calls, 1);
        EXPECT_EQ(request.policy, ProcessRedirectionTrustPolicy);
        EXPECT_EQ(static_cast<int>(request.policy), 16);
        EXPECT_EQ(request.length, sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY));
        EXPECT_EQ(request.flags, 1u) << "EnforceRedirectionTrust, and not the audit flag";
    }
    EXPECT_FALSE(request_redirection_trust(nullptr));
    // The system's own function: Windows before 8.1 refuses the policy, Wine takes it without
    // acting on it; neither throws.
    EXPECT_NO_THROW(request_redirection_trust());
}
