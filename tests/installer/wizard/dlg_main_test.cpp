// The main window's decisions: where Next and Back lead, when Cancel asks, which size it keeps;
// then the window itself, driven by its buttons' commands as other programs may send them.
#include "installer/wizard/dlg_main.hpp"

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "damaged_texts.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/dlg_end.hpp"
#include "installer/wizard/dlg_install.hpp"
#include "installer/wizard/dlg_mode.hpp"
#include "installer/wizard/dlg_options.hpp"
#include "installer/wizard/dlg_start.hpp"
#include "installer/wizard/message_pump.hpp"
#include "support/environment_scope.hpp"
#include "support/box_answerer.hpp"
#include "support/registry_override.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"
#include "support/watchdog.hpp"

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

namespace {

// The main window itself, from the built installer's templates and texts in English, shown in
// the screen's bottom-right corner, before a first installation in the quick mode. The size it
// saves goes to a HKEY_CURRENT_USER of the test's own.
class main_window : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setup_ && registry_.overridden()) << "error " << ::GetLastError();
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&classes);
        settings.state = 0;
        settings.advanced = false;
        settings.installed = false;
        create();
        ASSERT_TRUE(window_) << "error " << ::GetLastError();
    }
    void TearDown() override {
        window_.reset();
        std::tie(settings.state, settings.advanced, settings.installed) = saved_;
    }

    void create() {
        window_.reset(::CreateDialogParamW(vd::resource_module(), MAKEINTRESOURCEW(101), nullptr,
                                           basic_dialog::dialog_proc, reinterpret_cast<LPARAM>(&wizard)));
        const RECT rect = vd::window_rect_in_parent(window_.get());
        ::SetWindowPos(window_.get(), nullptr, ::GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left) - 260,
                       ::GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top) - 260, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    }
    HWND item(int id) const { return ::GetDlgItem(window_.get(), id); }
    void command(int id) const { ::SendMessageW(window_.get(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    static HWND page(std::uint32_t index) {
        const basic_dialog* pages[] = {&dlg_start::instance(), &dlg_mode::instance(), &dlg_options::instance(),
                                       &dlg_install::instance(), &dlg_end::instance()};
        return pages[index]->hwnd();
    }
    // The page shown, checked against the one the wizard counts.
    std::uint32_t shown_page() const {
        for (std::uint32_t index = 0; index < 5; ++index) {
            if (::IsWindowVisible(page(index)))
                return index == wizard.current_page() ? index : 99;
        }
        return 98;
    }

    installer_settings& settings = installer_settings::instance();
    dlg_main& wizard = dlg_main::instance();
    testing_support::registry_override registry_{HKEY_CURRENT_USER};
    vd::unique_module setup_{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    testing_support::ui_language_scope language_{1, setup_.get()};
    testing_support::unique_window window_;

private:
    std::tuple<std::int32_t, bool, bool> saved_{settings.state, settings.advanced, settings.installed};
};

} // namespace

TEST_F(main_window, clicks_sent_to_the_disabled_back_and_next_go_nowhere) {
    EXPECT_FALSE(::IsWindowEnabled(item(dlg_main::back_id)));
    command(dlg_main::back_id);
    EXPECT_EQ(shown_page(), start_page);

    command(IDOK);
    command(IDOK);
    ASSERT_EQ(shown_page(), install_page);
    settings.installed = true;
    command(IDOK);
    ASSERT_EQ(shown_page(), end_page);
    EXPECT_FALSE(::IsWindowEnabled(item(IDOK)));
    command(IDOK);
    EXPECT_EQ(shown_page(), end_page);
}

// The close box, the system menu's Close, Esc and the wizard's three buttons, whenever they come
// while the installation runs, are dropped: the wizard stays on the install page, ready for a
// new attempt. Afterwards Cancel asks, and only Yes ends the wizard.
TEST_F(main_window, requests_made_while_it_installs_are_dropped_and_cancel_asks) {
    const testing_support::watchdog bound(std::chrono::seconds(60));
    const testing_support::box_answerer boxes({IDNO, IDYES}, window_.get());
    command(IDOK);
    command(IDOK);
    ASSERT_EQ(shown_page(), install_page);
    const auto request_everything = [this] {
        ::PostMessageW(window_.get(), WM_CLOSE, 0, 0);
        ::PostMessageW(window_.get(), WM_SYSCOMMAND, SC_CLOSE, 0);
        ::PostMessageW(item(IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        for (const int id : {IDOK, IDCANCEL, static_cast<int>(dlg_main::back_id)})
            ::PostMessageW(window_.get(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    };
    for (const bool extracting : {false, true}) {
        SCOPED_TRACE(extracting ? "taken during the extraction" : "queued while a step waited");
        {
            // Without a temporary folder the installation ends at once, taking no message: like
            // the registration run, a step that waits. This program holds no payload: the
            // extraction checks it, takes the wizard's messages and fails.
            std::optional<testing_support::environment_scope> tmp, temp;
            if (!extracting) {
                tmp.emplace(L"TMP", L"C:\\vd-no-such-folder");
                temp.emplace(L"TEMP", L"C:\\vd-no-such-folder");
            }
            vd::language_state::instance().module = extracting ? ::GetModuleHandleW(nullptr) : setup_.get();
            request_everything();
            command(IDOK);
            vd::language_state::instance().module = setup_.get();
        }
        // What the wizard's own loop takes once the installation is back.
        pump_messages();
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_TRUE(::IsWindowVisible(window_.get()));
        EXPECT_EQ(shown_page(), install_page);
        EXPECT_FALSE(settings.installed);
        EXPECT_TRUE(::IsWindowEnabled(item(IDOK)) && ::IsWindowEnabled(item(IDCANCEL)));
        EXPECT_FALSE(::IsWindowEnabled(item(dlg_main::back_id)));
    }

    command(IDCANCEL);
    EXPECT_TRUE(::IsWindowVisible(window_.get())) << "No keeps the wizard";
    EXPECT_EQ(shown_page(), install_page);
    command(IDCANCEL);
    EXPECT_FALSE(::IsWindowVisible(window_.get())) << "Yes ends it";
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const auto& box : boxes.boxes)
        EXPECT_EQ(std::pair(box.caption, box.text), std::pair(settings.title(true), settings.load_string(1110)));
}

// A page whose texts cannot be made is reported once, in a box over the wizard, which shows
// its first page all the same, the other pages texted.
TEST_F(main_window, a_page_that_fails_is_reported_over_the_wizard) {
    window_.reset();
    const testing_support::damaged_texts damaged(1109, L"{0} \u2013 \u00a9 {1}");
    ASSERT_TRUE(damaged.module());
    testing_support::box_answerer boxes(IDOK);
    create();
    ASSERT_TRUE(window_);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.box->owner, window_.get());
    EXPECT_EQ(boxes.box->caption, settings.title(true));
    EXPECT_EQ(boxes.box->text, L"argument not found");
    EXPECT_EQ(shown_page(), start_page);
    EXPECT_EQ(vd::window_text(::GetDlgItem(page(end_page), 1003)), L"Click on 'Exit' to exit Installation.");
}

// The picture on the side panel stays whole whatever size the user gives the window.
TEST_F(main_window, the_side_picture_shows_at_every_size) {
    HWND picture = nullptr;
    for (HWND child = ::GetWindow(window_.get(), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            picture = child;
    }
    ASSERT_TRUE(picture);
    const auto image = reinterpret_cast<HBITMAP>(::SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP size{};
    ASSERT_TRUE(::GetObjectW(image, sizeof size, &size));
    // Read, then let go of: the picture paints from it, and a bitmap is in one DC at a time.
    std::vector<COLORREF> pixels;
    {
        const vd::unique_memory_dc original{::CreateCompatibleDC(nullptr)};
        const HGDIOBJ before = ::SelectObject(original.get(), image);
        for (int y = 0; y < size.bmHeight; ++y) {
            for (int x = 0; x < size.bmWidth; ++x)
                pixels.push_back(::GetPixel(original.get(), x, y));
        }
        ::SelectObject(original.get(), before);
    }

    for (const SIZE grow : {SIZE{0, 0}, SIZE{90, 70}, SIZE{240, 200}, SIZE{-120, -100}}) {
        const RECT outer = vd::window_rect_in_parent(window_.get());
        ::SetWindowPos(window_.get(), nullptr, outer.left - grow.cx, outer.top - grow.cy,
                       outer.right - outer.left + grow.cx, outer.bottom - outer.top + grow.cy,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        // Only what the sizing left to repaint is painted.
        ::UpdateWindow(window_.get());
        const RECT place = vd::window_rect_in_parent(picture);
        const HDC shown = ::GetDC(window_.get());
        int differing = 0;
        for (int y = 0; y < size.bmHeight; ++y) {
            for (int x = 0; x < size.bmWidth; ++x)
                differing += ::GetPixel(shown, place.left + x, place.top + y) != pixels[y * size.bmWidth + x];
        }
        ::ReleaseDC(window_.get(), shown);
        EXPECT_EQ(differing, 0) << "grown by " << grow.cx << " x " << grow.cy;
    }
}

namespace {

BOOL CALLBACK add_rect(HWND control, LPARAM rects) {
    reinterpret_cast<std::vector<RECT>*>(rects)->push_back(vd::window_rect_in_parent(control));
    return TRUE;
}

// Where every control of the window and of its pages stands, in its parent's client area.
std::vector<RECT> layout_of(HWND window) {
    std::vector<RECT> rects;
    ::EnumChildWindows(window, add_rect, reinterpret_cast<LPARAM>(&rects));
    return rects;
}

} // namespace

// The template has no minimise box, but the system and other programs minimise the window all
// the same: no control may take the minimised size, and the restored wizard is the one it was.
TEST_F(main_window, every_page_keeps_its_layout_through_a_minimise) {
    settings.advanced = true;
    for (std::uint32_t index = start_page; index <= end_page; ++index) {
        SCOPED_TRACE(index);
        if (index == end_page)
            settings.installed = true;
        if (index != start_page)
            command(IDOK);
        ASSERT_EQ(shown_page(), index);
        const std::vector<RECT> before = layout_of(window_.get());
        ::ShowWindow(window_.get(), SW_MINIMIZE);
        ASSERT_TRUE(::IsIconic(window_.get()));
        const std::vector<RECT> minimised = layout_of(window_.get());
        ::ShowWindow(window_.get(), SW_RESTORE);
        ASSERT_FALSE(::IsIconic(window_.get()));
        const std::vector<RECT> restored = layout_of(window_.get());
        ASSERT_EQ(minimised.size(), before.size());
        ASSERT_EQ(restored.size(), before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_TRUE(::EqualRect(&minimised[i], &before[i])) << "minimised, control " << i;
            EXPECT_TRUE(::EqualRect(&restored[i], &before[i])) << "restored, control " << i;
        }
    }
}
