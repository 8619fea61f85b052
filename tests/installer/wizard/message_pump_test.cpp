// The pump inside the installation: it dispatches (through the main window's keyboard handling)
// until a quit request, which it leaves for the loop that owns it. Template 300 is this program's.
#include "installer/wizard/message_pump.hpp"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/system/unique_any.hpp"
#include "installer/journal/uninstall_log.hpp"
#include "support/test_folder.hpp"
#include "support/test_windows.hpp"

namespace {

std::vector<int> received; // WM_APP parameters, and -1 for each IDCANCEL

INT_PTR CALLBACK recording_proc(HWND, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_APP || (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL))
        received.push_back(message == WM_APP ? static_cast<int>(wparam) : -1);
    return message == WM_INITDIALOG;
}

} // namespace

TEST(pump_messages, dispatches_until_a_quit_request_and_keeps_the_main_windows_keys) {
    const testing_support::unique_window dialog{::CreateDialogParamW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(300), nullptr, recording_proc, 0)};
    ASSERT_TRUE(dialog) << "error " << ::GetLastError();
    const HWND control = ::GetDlgItem(dialog.get(), 10);
    for (const bool main : {false, true}) {
        set_main_dialog_window(main ? dialog.get() : nullptr);
        received.clear();
        // Esc is the main window's Cancel; anywhere else it is only a key for the control.
        ::PostMessageW(control, WM_KEYDOWN, VK_ESCAPE, 0);
        ::PostMessageW(dialog.get(), WM_APP, 1, 0);
        ::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 7, 0);
        ::PostMessageW(dialog.get(), WM_APP, 2, 0);
        pump_messages();
        const std::vector<int> expected = main ? std::vector<int>{-1, 1} : std::vector<int>{1};
        EXPECT_EQ(received, expected);
        // The quit request comes again, after what the pump left queued (a WM_CHAR that
        // translating the key posted may come between).
        std::vector<std::pair<UINT, WPARAM>> left;
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_APP || message.message == WM_QUIT)
                left.emplace_back(message.message, message.wParam);
        }
        EXPECT_EQ(left, (std::vector<std::pair<UINT, WPARAM>>{{WM_APP, 2}, {WM_QUIT, 7}}));
    }
    set_main_dialog_window(nullptr);
}

// The rollback waits some seconds for a file that another program holds without letting it be
// deleted; meanwhile the wizard answers every message sent to it, as Windows asks of a window
// that is not to be shown as not responding (and ended by a user who loses what was not yet put
// back).
TEST(wait_one_second_answering_messages, the_wizard_answers_while_the_rollback_waits_for_a_held_file) {
    const testing_support::unique_window dialog{::CreateDialogParamW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(300), nullptr, recording_proc, 0)};
    ASSERT_TRUE(dialog) << "error " << ::GetLastError();
    const testing_support::test_folder folder;
    const auto installed = folder / L"installed.dll";
    uninstall_log log;
    log.add_file(installed.wstring(), 0, false);
    testing_support::write_file(installed, "the installation's");
    log.set_result(true, L"");
    vd::unique_file held(::CreateFileW(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    std::atomic<bool> done = false;
    int answered = 0, unanswered = 0;
    std::thread user([&] {
        while (!done) {
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutW(dialog.get(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result))
                ++answered;
            else if (!done)
                ++unanswered;
            ::Sleep(100);
        }
    });
    const auto left = log.rollback(wait_one_second_answering_messages);
    done = true;
    user.join();
    held.reset();
    ASSERT_EQ(left.size(), 1u) << "the held file was not waited for";
    EXPECT_EQ(unanswered, 0) << "the wizard did not answer while the rollback waited";
    EXPECT_GE(answered, 5);
}
