// The main window's decisions: where Next and Back lead, when Cancel asks, which size it keeps.
#include "installer/wizard/dlg_main.hpp"

#include <gtest/gtest.h>

TEST(dlg_main, navigation_cancel_and_size_decisions) {
    // A quick installation passes the options page both ways; an advanced one shows it.
    const struct {
        std::uint32_t from;
        bool advanced;
        std::uint32_t next, back;
    } moves[] = {
        {mode_page, false, install_page, start_page},
        {mode_page, true, options_page, start_page},
        {install_page, false, end_page, mode_page},
        {install_page, true, end_page, options_page},
        {end_page, false, 5, install_page},
    };
    for (const auto& m : moves) {
        EXPECT_EQ(next_page(m.from, m.advanced), m.next) << m.from << " " << m.advanced;
        EXPECT_EQ(previous_page(m.from, m.advanced), m.back) << m.from << " " << m.advanced;
    }

    const struct {
        bool installed;
        std::int32_t state;
        std::uint32_t page;
        bool asks;
    } cancels[] = {
        {false, 0, start_page, true},   {false, 1, start_page, false}, {false, 1, mode_page, true},
        {false, -1, mode_page, false},  {true, 0, install_page, false}, {false, 2, install_page, true},
    };
    for (const auto& c : cancels)
        EXPECT_EQ(cancel_asks(c.installed, c.state, c.page), c.asks) << c.installed << " " << c.state << " " << c.page;

    const SIZE minimum{400, 300};
    const SIZE smaller_wide{350, 500};
    const SIZE larger{800, 600};
    EXPECT_EQ(restored_size(minimum, nullptr).cx, 400);
    EXPECT_EQ(restored_size(minimum, &smaller_wide).cx, 400);
    EXPECT_EQ(restored_size(minimum, &smaller_wide).cy, 500);
    EXPECT_EQ(restored_size(minimum, &larger).cx, 800);
}
