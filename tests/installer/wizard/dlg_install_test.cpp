// The install page from the built installer's template and string tables: the summary of the
// options, and the log that the installation appends to below it.
#include "installer/wizard/dlg_install.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "support/install_page.hpp"

namespace {

using entry_kind = uninstall_log::entry_kind;

// Over options of its own, put back afterwards.
class install_page : public testing_support::install_page_test {
protected:
    void TearDown() override {
        settings.install_folder = saved_folder_;
        settings.start_menu_shortcut = saved_start_menu_;
        settings.desktop_shortcut = saved_desktop_;
    }

private:
    std::wstring saved_folder_ = settings.install_folder;
    bool saved_start_menu_ = settings.start_menu_shortcut;
    bool saved_desktop_ = settings.desktop_shortcut;
};

const std::wstring rule = L"\u2500\u2500\u2500\u00a0Installation Options\u00a0" + std::wstring(29, L'\u2500');

} // namespace

TEST_F(install_page, summary_of_a_quick_and_an_advanced_installation) {
    const struct {
        const wchar_t* folder;
        bool start_menu, desktop;
        std::wstring shortcut_lines;
    } cases[] = {
        // Quick: the default folder and both shortcuts; then what the options page allows.
        {L"C:\\Program Files\\Vandrel\\Stelvane 8", true, true,
         L"Creating a Shortcut in the Start Menu.\r\nCreating a Shortcut on the Desktop.\r\n"},
        {L"D:\\Tools\\Stelvane", false, true, L"Creating a Shortcut on the Desktop.\r\n"},
        {L"D:\\Tools\\Stelvane", false, false, L""},
    };
    for (const auto& c : cases) {
        settings.install_folder = c.folder;
        settings.start_menu_shortcut = c.start_menu;
        settings.desktop_shortcut = c.desktop;
        // Back and Next again: the log of the earlier visit goes.
        page.append_status(L"left from before\r\n");
        page.show_summary();
        EXPECT_EQ(log(), L"'Stelvane 8.01' Installation.\r\n" + rule + L"\r\nInstallation Folder: \"" + c.folder +
                             L"\".\r\n" + c.shortcut_lines);
    }
}

TEST_F(install_page, status_lines_follow_the_summary_whatever_the_user_selected) {
    // Until the installation shows it, the bar is hidden; it counts in percent.
    EXPECT_FALSE(::IsWindowVisible(page.progress_bar()));
    EXPECT_EQ(::SendMessageW(page.progress_bar(), PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(vd::window_text(page.hint()), L"Click on 'Install' to start Installation.");

    page.show_summary();
    std::wstring expected = log();
    const HWND edit = ::GetDlgItem(page_.get(), dlg_install::status_log_id);
    for (int file = 0; file < 30; ++file) {
        ::SendMessageW(edit, EM_SETSEL, 0, 5); // the user selects the first words meanwhile
        const std::wstring step = L"Copying File \"C:\\Stelvane\\" + std::to_wstring(file) + L".dat\"...";
        page.append_status(step);
        page.append_status(L"OK\r\n");
        expected += step + L"OK\r\n";
        if (file % 10 == 9)
            page.flush_status();
    }
    EXPECT_EQ(log(), expected);
    // The log follows its end, not the selection at the top.
    EXPECT_GT(::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 20);
}

// What a rollback could not undo is said in words, each path on a line of its own, and the log
// shows every character of it within its width: a path with no blank to wrap at too.
TEST_F(install_page, what_a_rollback_could_not_undo_shows_whole) {
    const std::wstring deep = L"C:\\users\\Public\\Desktop\\" + std::wstring(150, L'x') + L".vscn";
    const std::vector<uninstall_log::entry> left{
        {entry_kind::file, L"C:\\users\\Public\\Desktop\\Jewellery Box.vscn",
         L"C:\\users\\Public\\Desktop\\Jewellery Box (vd-7323e).vscn"},
        {entry_kind::folder, deep},
    };
    const auto report = not_undone_report(left, settings.load_string(1133), settings.load_string(1134));
    EXPECT_EQ(report, L"Could not be put back as it was:\r\n    C:\\users\\Public\\Desktop\\Jewellery Box.vscn\r\n"
                      L"Your own file is kept as:\r\n    C:\\users\\Public\\Desktop\\Jewellery Box (vd-7323e).vscn\r\n"
                      L"Could not be put back as it was:\r\n    " +
                          deep + L"\r\n");

    ::ShowWindow(parent_.get(), SW_SHOWNOACTIVATE);
    ::ShowWindow(page_.get(), SW_SHOW);
    page.show_summary();
    page.append_status(L"Copying File \"" + deep + L"\"...Failed\r\n" + report);
    page.flush_status();
    const auto shown = log();
    ASSERT_TRUE(shown.ends_with(report)) << testing::PrintToString(shown);
    RECT area{};
    ::SendMessageW(log_window(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    for (std::size_t at = 0; at < shown.size(); ++at) {
        if (shown[at] == L'\r' || shown[at] == L'\n')
            continue;
        const auto position = ::SendMessageW(log_window(), EM_POSFROMCHAR, at, 0);
        const int x = static_cast<short>(LOWORD(position));
        ASSERT_TRUE(x >= area.left && x < area.right)
            << "character " << at << " of " << testing::PrintToString(shown) << " lies at " << x << ", beyond "
            << area.left << " to " << area.right;
    }
}

// While the files are written the wizard repaints and answers, the log catches up with the
// lines, and the wait cursor comes back after whatever a handler or a message set.
TEST_F(install_page, the_wizard_takes_its_messages_between_the_files) {
    std::istringstream payload;
    std::wstring program, uninstaller;
    std::vector<std::wstring> removal_list;
    HCURSOR wait = ::LoadCursorW(nullptr, IDC_WAIT);
    dlg_install::handler_context context{payload, program, uninstaller, removal_list, wait};
    const dlg_install::context_scope scope(page, context);
    ::ShowWindow(parent_.get(), SW_SHOWNOACTIVATE);
    ::ShowWindow(page_.get(), SW_SHOW);
    page.show_summary();
    for (const notification& n : {notification{notification::finished{}}, notification{notification::progress{1, 2}}}) {
        SCOPED_TRACE(n.index());
        ::UpdateWindow(parent_.get());
        ::InvalidateRect(log_window(), nullptr, TRUE);
        ::PostMessageW(log_window(), EM_SETSEL, 2, 4);
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        // Progress is answered between the files at most every few milliseconds, and brings the
        // log up to date at most every status_flush_ms; the extraction's end does at once.
        const std::wstring line = L"Copying File \"" + std::to_wstring(n.index()) + L"\"...";
        page.append_status(line);
        context.last_pump = ::GetTickCount() - dlg_install::progress_pump_ms;
        if (std::holds_alternative<notification::progress>(n))
            ::Sleep(dlg_install::status_flush_ms);
        page.on_notification(n);
        EXPECT_TRUE(log().ends_with(line)) << testing::PrintToString(log());
        EXPECT_FALSE(::GetUpdateRect(log_window(), nullptr, FALSE)) << "not repainted";
        DWORD start = 0, end = 0;
        ::SendMessageW(log_window(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(end, 4u) << "the posted message waits";
        EXPECT_EQ(::GetCursor(), wait);
        ::SendMessageW(log_window(), EM_SETSEL, 0, 0);
    }
}
