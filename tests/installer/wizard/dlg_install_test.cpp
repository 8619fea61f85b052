// The install page from the built installer's template and string tables: the summary of the
// options, and the log that the installation appends to below it.
#include "installer/wizard/dlg_install.hpp"

#include <string>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "support/install_page.hpp"

namespace {


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
    }
    EXPECT_EQ(log(), expected);
    // The log follows its end, not the selection at the top.
    EXPECT_GT(::SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 20);
}
