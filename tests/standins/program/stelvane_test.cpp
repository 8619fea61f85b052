// The stand-in of the installed program: the registration run the installer makes records the
// command line and answers -10, a malformed one ends without a window and without -10, and a
// user's start shows what it is. Both builds carry the versions the start-up decision reads.
#include "support/started_program.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/language/version_info.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/text/conversions.hpp"

namespace fs = std::filesystem;
using testing_support::started_program;
using testing_support::test_folder;

TEST(stelvane_standin, registration_records_the_command_line_and_answers_minus_10) {
    test_folder folder;
    // A folder name beyond ASCII, as a user's install folder may have, checks the log's UTF-8.
    const fs::path program = folder / L"Stelvane 8 \u00e9\u4e2d" / L"Stelvane.exe";
    fs::create_directories(program.parent_path());
    fs::copy_file(STELVANE_PROGRAM_EXE, program);

    const struct {
        const wchar_t* arguments;
        int exit_code;
    } cases[] = {
        {L" /Register /Background", -10},
        {L" /Register /Background /update=0008000000000003", -10},
        {L" /register /BACKGROUND /UPDATE=00080000000000aB", -10},
        {L" /Register /Background /update=80003", ERROR_INVALID_PARAMETER},
        {L" /Register /Background /update=0008000000000003 /update=0008000000000003", ERROR_INVALID_PARAMETER},
        {L" /Register", ERROR_INVALID_PARAMETER},
        {L" /Register /Background /Quiet", ERROR_INVALID_PARAMETER},
    };
    std::string expected_log;
    for (const auto& c : cases) {
        started_program run(program, c.arguments);
        ASSERT_TRUE(run) << "error " << ::GetLastError();
        EXPECT_EQ(run.exit_code(), c.exit_code) << c.arguments;
        if (c.exit_code == -10)
            expected_log += vd::wide_to_utf8(run.command_line()) + "\r\n";
    }
    EXPECT_EQ(testing_support::read_file(program.parent_path() / L"Registration.log"), expected_log);
}

// Asked to, the stand-in also notes how it was started; the installer's mutex is free when it
// can take it.
TEST(stelvane_standin, registration_notes_how_it_was_started_when_asked) {
    test_folder folder;
    const fs::path program = folder / L"Stelvane.exe";
    fs::copy_file(STELVANE_PROGRAM_EXE, program);
    const auto witness = folder / L"witness.log";
    ::SetEnvironmentVariableW(L"STELVANE_STANDIN_WITNESS", witness.c_str());
    const vd::unique_handle mutex{::CreateMutexW(nullptr, TRUE, L"Global\\Stelvane8.{5ead623c-dfcd-474d-8e3c-e6978cac039e}")};
    ASSERT_TRUE(mutex);
    // Held by this test first, then let go of.
    for (int run_number = 0; run_number < 2; ++run_number) {
        started_program run(program, L" /Register /Background");
        ASSERT_TRUE(run) << "error " << ::GetLastError();
        EXPECT_EQ(run.exit_code(), -10);
        if (run_number == 0)
            ::ReleaseMutex(mutex.get());
    }
    ::SetEnvironmentVariableW(L"STELVANE_STANDIN_WITNESS", nullptr);
    const auto start = "priority 20, show -1, folder " + vd::wide_to_utf8(fs::current_path().wstring());
    EXPECT_EQ(testing_support::read_file(witness), start + ", installer mutex held\r\n" + start + ", installer mutex free\r\n");
}

TEST(stelvane_standin, a_users_start_says_which_stand_in_it_is) {
    const struct {
        const char* built;
        std::uint64_t version;
        const wchar_t* version_text;
    } builds[] = {
        {STELVANE_PROGRAM_EXE, 0x0008000100000001, L"8.01"},
        {STELVANE_PROGRAM_OLDER_EXE, 0x0008000000000003, L"8.00"},
    };
    for (const auto& build : builds) {
        test_folder folder;
        const fs::path program = folder / L"Stelvane.exe";
        fs::copy_file(build.built, program);
        const auto info = vd::file_version_info(program.wstring());
        EXPECT_EQ(info.file_version(), build.version) << build.built;
        EXPECT_EQ(info.product_version(), build.version_text) << build.built;
        EXPECT_EQ(info.string_value(L"ApplicationId"), L"Stelvane8") << build.built;

        started_program run(program, L"");
        ASSERT_TRUE(run) << "error " << ::GetLastError();
        const auto box = run.answer_box();
        ASSERT_TRUE(box) << build.built;
        EXPECT_NE(box->text.find(std::wstring(L"stand-in of Stelvane ") + build.version_text), std::wstring::npos)
            << box->text;
        EXPECT_EQ(run.exit_code(), 0);
        EXPECT_FALSE(fs::exists(folder / L"Registration.log"));
    }
}
