// The About box run from the built installer's template and string tables over a window of the
// test, and closed the ways a user closes it: a timer acts on it while it is modal.
#include "installer/wizard/about_dialog.hpp"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/language/version_info.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/wizard/callback_failure.hpp"
#include "damaged_texts.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"

namespace {

enum class closing { ok_button, escape_key, close_box };

// What the timer saw of the open box, and how it closes it. One box at a time.
struct about_visit {
    HWND owner = nullptr;
    closing how = closing::ok_button;
    HWND box = nullptr;
    int ticks = 0;
    std::wstring caption, version, copyright, ok;
    RECT box_rect{}, owner_rect{};
} visit;

BOOL CALLBACK find_owned_box(HWND window, LPARAM) {
    if (::GetWindow(window, GW_OWNER) != visit.owner)
        return TRUE;
    visit.box = window;
    return FALSE;
}

void CALLBACK act_on_about_box(HWND, UINT, UINT_PTR, DWORD) {
    if (++visit.ticks > 100 && visit.box) {
        // The box ignored what was done: end it so that the test fails instead of waiting.
        ::EndDialog(visit.box, 99);
        return;
    }
    if (visit.box || (::EnumThreadWindows(::GetCurrentThreadId(), find_owned_box, 0), !visit.box))
        return;
    visit.caption = vd::window_text(visit.box);
    visit.version = vd::window_text(::GetDlgItem(visit.box, 1019));
    visit.copyright = vd::window_text(::GetDlgItem(visit.box, 1020));
    visit.ok = vd::window_text(::GetDlgItem(visit.box, IDOK));
    visit.box_rect = vd::window_rect_in_parent(visit.box);
    visit.owner_rect = vd::window_rect_in_parent(visit.owner);
    if (visit.how == closing::ok_button)
        ::SendMessageW(::GetDlgItem(visit.box, IDOK), BM_CLICK, 0, 0);
    else if (visit.how == closing::escape_key) // the box's own loop makes IDCANCEL of it
        ::PostMessageW(::GetDlgItem(visit.box, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
    else
        ::PostMessageW(visit.box, WM_SYSCOMMAND, SC_CLOSE, 0);
}

} // namespace

TEST(about_dialog, shows_the_program_and_closes_like_a_dialog) {
    vd::unique_module setup{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    // The box shows the block of the program it runs in; this one carries the installer's.
    ASSERT_EQ(vd::module_version_info().version_text(), L"Stelvane 8.01");
    // A captioned top-level owner, as the main window is.
    testing_support::unique_window owner{::CreateWindowExW(0, WC_DIALOG, L"", WS_POPUP | WS_CAPTION | WS_VISIBLE, 200,
                                                           150, 640, 480, nullptr, nullptr, nullptr, nullptr)};
    ASSERT_TRUE(owner) << "error " << ::GetLastError();

    const struct {
        int language;
        closing how;
        INT_PTR result;
        const wchar_t* caption;
        const wchar_t* ok;
    } cases[] = {
        {1, closing::ok_button, IDOK, L"About 'Installer'", L"OK"},
        {2, closing::escape_key, IDCANCEL, L"Über „Installationsprogramm“", L"OK"},
        {21, closing::close_box, IDCANCEL, L"حول «برنامج التثبيت»", L"موافق"},
    };
    for (const auto& c : cases) {
        testing_support::ui_language_scope scope(c.language, setup.get());
        visit = about_visit{};
        visit.owner = owner.get();
        visit.how = c.how;
        testing_support::unique_thread_timer timer{::SetTimer(nullptr, 0, 20, act_on_about_box)};
        ASSERT_TRUE(timer) << "error " << ::GetLastError();

        EXPECT_EQ(::DialogBoxParamW(setup.get(), MAKEINTRESOURCEW(100), owner.get(), about_dialog_proc, 0), c.result);
        EXPECT_EQ(visit.caption, c.caption);
        EXPECT_EQ(visit.ok, c.ok);
        EXPECT_EQ(visit.version, L"Stelvane 8.01");
        EXPECT_EQ(visit.copyright, L"\u00a9 Vandrel. All rights reserved.");
        // Centred over the owner, to the pixel that halving leaves.
        EXPECT_NEAR(visit.box_rect.left + visit.box_rect.right, visit.owner_rect.left + visit.owner_rect.right, 1);
        EXPECT_NEAR(visit.box_rect.top + visit.box_rect.bottom, visit.owner_rect.top + visit.owner_rect.bottom, 1);
    }
}

// A caption that cannot be formatted: the box tells the program's reporter, once, and still
// comes up.
TEST(about_dialog, reports_what_its_start_meets) {
    const testing_support::damaged_texts damaged(1003, L"About '{0'");
    ASSERT_TRUE(damaged.module());
    std::vector<std::wstring> reported;
    failure_reporter previous = set_failure_reporter([&](const std::wstring& text) { reported.push_back(text); });
    const testing_support::unique_window box{
        ::CreateDialogParamW(damaged.module(), MAKEINTRESOURCEW(100), nullptr, about_dialog_proc, 0)};
    set_failure_reporter(std::move(previous));
    ASSERT_TRUE(box) << "error " << ::GetLastError();
    EXPECT_EQ(reported.size(), 1u);
}
