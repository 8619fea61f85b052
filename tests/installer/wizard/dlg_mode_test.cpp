// The mode page run from the installer's template: the radio buttons decide the installation
// method in the settings, whatever command reaches the page.
#include "installer/wizard/dlg_mode.hpp"

#include "foundation/ui/window.hpp"
#include "page_fixture.hpp"

namespace {

constexpr int quick = 1018;
constexpr int advanced = 1019;

using dlg_mode_test = wizard_page_test;

} // namespace

TEST_F(dlg_mode_test, the_radio_buttons_decide_the_installation_method) {
    for (const bool advanced_at_start : {false, true}) {
        SCOPED_TRACE(advanced_at_start ? "advanced at start" : "quick at start");
        settings.advanced = advanced_at_start;
        const auto page = create_page(136, dlg_mode::instance());
        ASSERT_TRUE(page) << "error " << ::GetLastError();
        dlg_mode::instance().set_texts();
        EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), 1021)), L"Installation Method");
        EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), quick)), L"Quick Installation (Recommended)");
        EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), advanced)), L"Advanced Installation");
        EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), 1003)), L"Click on 'Next' to continue.");
        EXPECT_EQ(is_checked(page.get(), advanced), advanced_at_start);
        EXPECT_EQ(is_checked(page.get(), quick), !advanced_at_start);

        click(page.get(), advanced);
        EXPECT_TRUE(settings.advanced);
        click(page.get(), quick);
        EXPECT_FALSE(settings.advanced);
        EXPECT_TRUE(is_checked(page.get(), quick));

        // A choice made without a notification of its own is read at the page's next command,
        // whichever control sends it.
        ::CheckRadioButton(page.get(), quick, advanced, advanced);
        ::SendMessageW(page.get(), WM_COMMAND, MAKEWPARAM(1021, BN_CLICKED), 0);
        EXPECT_TRUE(settings.advanced);
    }
}
