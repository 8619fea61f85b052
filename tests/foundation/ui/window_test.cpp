#include "foundation/ui/window.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

namespace {

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string text_of(const RECT& r) {
    return fmt::format("{{{}, {}, {}, {}}}", r.left, r.top, r.right, r.bottom);
}

#define EXPECT_RECT(actual, ...)                                                                                   \
    do {                                                                                                           \
        const RECT expected_rect{__VA_ARGS__};                                                                     \
        const RECT actual_rect = (actual);                                                                         \
        EXPECT_TRUE(actual_rect == expected_rect) << text_of(actual_rect) << " != " << text_of(expected_rect);     \
    } while (false)

// A display of 1280 x 1024 with a task bar at the bottom.
const RECT display{0, 0, 1280, 1024};
const RECT work_area{0, 0, 1280, 984};

MONITORINFO primary_monitor() {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info;
}

// Windows of a thread of their own, so that no other test's windows are seen.
template <class Body>
void on_fresh_thread(Body body) {
    std::thread thread(body);
    thread.join();
}

HWND make_window(const wchar_t* class_name, DWORD style, HWND owner = nullptr, const wchar_t* text = L"") {
    return ::CreateWindowExW(0, class_name, text, style, 10, 10, 200, 100, owner, nullptr, ::GetModuleHandleW(nullptr),
                             nullptr);
}

} // namespace

TEST(window, fit_rect_steps) {
    struct move_case {
        RECT rect;
        RECT expected;
    };
    // A corner off the display goes to the display's nearest edge.
    for (const auto& [rect, expected] : std::vector<move_case>{
             {{100, 100, 500, 400}, {100, 100, 500, 400}},
             {{3000, 100, 3400, 400}, {1280, 100, 1680, 400}},
             {{-500, -400, -100, -100}, {0, 0, 400, 300}},
             {{100, 1100, 500, 1400}, {100, 1024, 500, 1324}},
         }) {
        SCOPED_TRACE(text_of(rect));
        RECT moved = rect;
        vd::details::pull_corner_onto(moved, display);
        EXPECT_RECT(moved, expected.left, expected.top, expected.right, expected.bottom);
    }

    // Into the work area, right and bottom first: a rectangle larger than the work area keeps
    // its caption on it.
    for (const auto& [rect, expected] : std::vector<move_case>{
             {{1280, 100, 1680, 400}, {880, 100, 1280, 400}},
             {{100, 900, 500, 1200}, {100, 684, 500, 984}},
             {{-300, -50, 100, 250}, {0, 0, 400, 300}},
             {{-100, -100, 1500, 1200}, {0, 0, 1600, 1300}},
         }) {
        SCOPED_TRACE(text_of(rect));
        RECT moved = rect;
        vd::details::shift_into(moved, work_area);
        EXPECT_RECT(moved, expected.left, expected.top, expected.right, expected.bottom);
    }

    const RECT square{0, 0, 100, 100};
    EXPECT_TRUE(vd::details::shows_enough(square, 5000, 50));
    EXPECT_FALSE(vd::details::shows_enough(square, 4999, 50));
    EXPECT_FALSE(vd::details::shows_enough(square, 9999, 100));
}

TEST(window, fit_rect_on_the_screens_of_this_system) {
    const RECT screen = primary_monitor().rcMonitor;
    const RECT work = primary_monitor().rcWork;
    ASSERT_GT(screen.right, 800) << text_of(screen);

    // Half of it off the right edge: enough shows.
    RECT half{screen.right - 200, 100, screen.right + 200, 400};
    vd::fit_rect_to_monitors(half, 50);
    EXPECT_RECT(half, screen.right - 200, 100, screen.right + 200, 400);

    // A quarter shows: into the work area of the monitor.
    RECT quarter{screen.right - 100, 100, screen.right + 300, 400};
    vd::fit_rect_to_monitors(quarter, 50);
    EXPECT_RECT(quarter, work.right - 400, 100, work.right, 400);

    // Wholly off the screens: brought back whole.
    RECT lost{20000, 20000, 20400, 20300};
    vd::fit_rect_to_monitors(lost, 50);
    EXPECT_NE(::MonitorFromRect(&lost, MONITOR_DEFAULTTONULL), nullptr) << text_of(lost);
    EXPECT_EQ(lost.right - lost.left, 400);
    EXPECT_EQ(lost.bottom - lost.top, 300);
}

TEST(window, set_window_rect_asks_for_the_least_repainting) {
    const RECT current{10, 10, 210, 110};
    EXPECT_EQ(vd::details::set_window_rect_flags(current, current), 0x217u);
    EXPECT_EQ(vd::details::set_window_rect_flags(current, {20, 30, 220, 130}), 0x215u);
    EXPECT_EQ(vd::details::set_window_rect_flags(current, {20, 30, 320, 130}), 0x314u);
    EXPECT_EQ(vd::details::set_window_rect_flags(current, {10, 10, 310, 110}), 0x316u);
    EXPECT_EQ(vd::details::set_window_rect_flags(current, {10, 10, 210, 150}), 0x316u);
}

TEST(window, rectangles_in_parent_coordinates) {
    on_fresh_thread([] {
        const HWND parent = make_window(L"STATIC", WS_POPUP | WS_VISIBLE);
        ASSERT_NE(parent, nullptr);
        const HWND child = make_window(L"STATIC", WS_CHILD | WS_VISIBLE, parent);
        ASSERT_NE(child, nullptr);

        // Corners given the wrong way round are put in order.
        vd::set_window_rect(parent, {300, 250, 50, 40});
        EXPECT_RECT(vd::window_rect_in_parent(parent), 50, 40, 300, 250);

        vd::set_window_rect(child, {5, 6, 105, 56});
        EXPECT_RECT(vd::window_rect_in_parent(child), 5, 6, 105, 56);
        RECT on_screen{};
        ::GetWindowRect(child, &on_screen);
        EXPECT_RECT(on_screen, 55, 46, 155, 96);

        ::DestroyWindow(parent);
        EXPECT_RECT(vd::window_rect_in_parent(parent), 0, 0, 0, 0);
    });
}

TEST(window, class_and_text) {
    on_fresh_thread([] {
        WNDCLASSW editor_class{};
        editor_class.lpfnWndProc = ::DefWindowProcW;
        editor_class.hInstance = ::GetModuleHandleW(nullptr);
        editor_class.lpszClassName = L"editor_field";
        ::RegisterClassW(&editor_class);

        const HWND edit = make_window(WC_EDITW, WS_POPUP, nullptr, L"Stelvane \u2013 Setup");
        const HWND editor = make_window(L"editor_field", WS_POPUP);
        const HWND button = make_window(WC_BUTTONW, WS_POPUP);
        const HWND untitled = make_window(WC_STATICW, WS_POPUP);

        EXPECT_TRUE(vd::is_edit_window(edit));
        EXPECT_TRUE(vd::is_edit_window(editor));
        EXPECT_FALSE(vd::is_edit_window(button));
        EXPECT_FALSE(vd::is_edit_window(nullptr));

        EXPECT_EQ(vd::window_text(edit), L"Stelvane \u2013 Setup");
        EXPECT_EQ(vd::window_text(untitled), L"");
        EXPECT_EQ(vd::window_text(nullptr), L"");

        for (HWND window : {edit, editor, button, untitled})
            ::DestroyWindow(window);
        ::UnregisterClassW(L"editor_field", ::GetModuleHandleW(nullptr));
    });
}

TEST(window, active_window_of_a_thread) {
    on_fresh_thread([] { EXPECT_EQ(vd::active_window(), nullptr); });

    on_fresh_thread([] {
        // Neither a tool window without caption nor a child counts.
        const HWND tool = make_window(L"STATIC", WS_POPUP);
        const HWND child = make_window(L"STATIC", WS_CHILD, tool);
        EXPECT_EQ(vd::active_window(), nullptr);
        ::DestroyWindow(tool);
        (void)child;
    });

    on_fresh_thread([] {
        // Nothing active yet: the captioned window is found among the thread's windows.
        const HWND main = make_window(L"STATIC", WS_OVERLAPPEDWINDOW);
        [[maybe_unused]] const HWND tool = make_window(L"STATIC", WS_POPUP, main);
        ASSERT_EQ(::GetActiveWindow(), nullptr);
        EXPECT_EQ(vd::active_window(), main);

        // A dialog open above the main window is what a message box must belong to.
        const HWND dialog = make_window(L"STATIC", WS_POPUP | WS_CAPTION | WS_VISIBLE, main);
        ::SetActiveWindow(dialog);
        if (::GetActiveWindow() != dialog)
            GTEST_SKIP() << "Wine: the window of a background thread did not become active";
        EXPECT_EQ(vd::active_window(), dialog);

        // With the activation gone, the dialog is still the main window's last active pop-up.
        ::SetActiveWindow(nullptr);
        if (::GetActiveWindow() != nullptr)
            GTEST_SKIP() << "Wine: SetActiveWindow(NULL) kept the window active";
        EXPECT_EQ(vd::active_window(), dialog);
        ::DestroyWindow(main);
    });
}
