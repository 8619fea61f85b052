// The shared dialog procedure: what reaches a dialog's operations, what it returns, failures
// that must not leave it, and the anchored layout. Template 300 is this program's own.
#include "installer/wizard/basic_dialog.hpp"

#include <stdexcept>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/errors/error_text.hpp"
#include "foundation/ui/window.hpp"
#include "installer/wizard/callback_failure.hpp"
#include "support/test_windows.hpp"

namespace {

using testing::ElementsAre;
using testing_support::unique_window;

// Records the operations called, answers commands as told, and throws `failure` from each.
class recording_dialog final : public basic_dialog {
public:
    std::vector<std::string> calls;
    bool handles = false;
    std::exception_ptr failure;
    std::vector<anchored_control> anchors;
    BOOL layout_result = -1;

    unique_window create() {
        return unique_window{::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(300), nullptr,
                                                  dialog_proc, reinterpret_cast<LPARAM>(this))};
    }
    void set_texts() override {}

protected:
    void on_init() override { record("init"); }
    void on_destroy() override { record("destroy"); }
    void on_size(std::uint32_t width, std::uint32_t height) override {
        record(fmt::format("size {}x{}", width, height));
        layout_result = layout_anchored(width, height, anchors);
    }
    bool on_command(std::uint16_t id, std::uint16_t code) override {
        record(fmt::format("command {}/{}", id, code));
        return handles;
    }
    bool on_syscommand(std::uint32_t command) override {
        record(fmt::format("syscommand {:x}", command));
        return handles;
    }

private:
    void record(std::string call) {
        calls.push_back(std::move(call));
        if (failure)
            std::rethrow_exception(failure);
    }
};

// Collects what the procedures report instead of sending it to the debugger.
struct reported_failures {
    std::vector<std::wstring> texts;
    failure_reporter previous = set_failure_reporter([this](const std::wstring& text) { texts.push_back(text); });
    ~reported_failures() { set_failure_reporter(std::move(previous)); }
};

SIZE client_size(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    return {client.right, client.bottom};
}

} // namespace

TEST(basic_dialog, routes_messages_while_bound_to_its_window) {
    recording_dialog dialog;
    unique_window window = dialog.create();
    ASSERT_TRUE(window) << "error " << ::GetLastError();
    // WM_SETFONT came first and reached nothing.
    EXPECT_THAT(dialog.calls, ElementsAre("init"));
    EXPECT_EQ(dialog.hwnd(), window.get());
    EXPECT_EQ(dialog.client_width(), client_size(window.get()).cx);

    constexpr LONG_PTR untouched = 0x77;
    const struct {
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
        bool handles;
        INT_PTR returned;
        LONG_PTR stored;
        const char* call;
    } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0, false, FALSE, untouched, "command 2/0"},
        {WM_COMMAND, MAKEWPARAM(1007, EN_UPDATE), 0, true, TRUE, 0, "command 1007/1024"},
        {WM_SYSCOMMAND, 0xF012, 0, false, FALSE, untouched, "syscommand f010"}, // keyboard move
        {WM_SYSCOMMAND, 16, 0, true, TRUE, 0, "syscommand 10"},
        {WM_SIZE, SIZE_RESTORED, MAKELPARAM(40000, 50000), false, TRUE, 0, "size 40000x50000"},
        {WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0), false, TRUE, 0, nullptr}, // the restore lays out
        {WM_SETFONT, 0, 0, false, FALSE, untouched, nullptr},
    };
    for (const auto& c : cases) {
        dialog.calls.clear();
        dialog.handles = c.handles;
        ::SetWindowLongPtrW(window.get(), DWLP_MSGRESULT, untouched);
        EXPECT_EQ(basic_dialog::dialog_proc(window.get(), c.message, c.wparam, c.lparam), c.returned) << c.message;
        EXPECT_EQ(::GetWindowLongPtrW(window.get(), DWLP_MSGRESULT), c.stored) << c.message;
        EXPECT_EQ(dialog.calls, c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
    }

    dialog.calls.clear();
    EXPECT_EQ(basic_dialog::dialog_proc(window.get(), WM_DESTROY, 0, 0), TRUE);
    EXPECT_EQ(dialog.hwnd(), nullptr);
    // Unbound: nothing reaches the object any more, the real WM_DESTROY included.
    EXPECT_EQ(basic_dialog::dialog_proc(window.get(), WM_COMMAND, IDOK, 0), FALSE);
    window.reset();
    EXPECT_THAT(dialog.calls, ElementsAre("destroy"));
}

TEST(basic_dialog, reports_what_its_operations_throw) {
    const struct {
        UINT message;
        std::exception_ptr failure;
        std::wstring reported;
    } cases[] = {
        {WM_COMMAND, std::make_exception_ptr(std::runtime_error("no folder")), L"no folder"},
        {WM_SYSCOMMAND, std::make_exception_ptr(42), L"Unknown exception"},
        {WM_DESTROY, std::make_exception_ptr(std::system_error(ERROR_ACCESS_DENIED, std::system_category())),
         vd::error_text(ERROR_ACCESS_DENIED)},
        {WM_INITDIALOG, std::make_exception_ptr(std::runtime_error("no settings")), L"no settings"},
    };
    for (const auto& c : cases) {
        reported_failures reports;
        recording_dialog dialog;
        dialog.handles = true;
        if (c.message == WM_INITDIALOG)
            dialog.failure = c.failure;
        unique_window window = dialog.create();
        ASSERT_TRUE(window) << "a page whose start fails is still made";
        dialog.failure = c.failure;
        if (c.message != WM_INITDIALOG) {
            EXPECT_EQ(basic_dialog::dialog_proc(window.get(), c.message, 0, 0), c.message == WM_DESTROY);
        }
        EXPECT_THAT(reports.texts, ElementsAre(c.reported)) << c.message;
        // A window that goes is let go of even when its object fails.
        EXPECT_EQ(dialog.hwnd(), c.message == WM_DESTROY ? nullptr : window.get()) << c.message;
    }
}

TEST(basic_dialog, anchored_controls_follow_a_growing_and_shrinking_dialog) {
    recording_dialog dialog;
    unique_window window = dialog.create();
    ASSERT_TRUE(window) << "error " << ::GetLastError();
    // Control 10 + i takes anchor i; 5 moves the left edge once and the right edge twice.
    for (const std::uint32_t anchor : {0, 1, 2, 3, 4, 8, 12, 6, 5})
        dialog.anchors.push_back({anchor, ::GetDlgItem(window.get(), 10 + static_cast<int>(dialog.anchors.size()))});
    // A control missing from its template must not cost the others their layout.
    dialog.anchors.insert(dialog.anchors.begin() + 3, {anchor_widen, nullptr});

    for (const SIZE grow : {SIZE{90, 70}, SIZE{-110, -80}, SIZE{25, 0}}) {
        std::vector<RECT> expected;
        for (const auto& [anchor, control] : dialog.anchors) {
            RECT rect = vd::window_rect_in_parent(control);
            ::OffsetRect(&rect, anchor & anchor_right ? grow.cx : 0, anchor & anchor_bottom ? grow.cy : 0);
            rect.right += anchor & anchor_widen ? grow.cx : 0;
            rect.bottom += anchor & anchor_heighten ? grow.cy : 0;
            expected.push_back(rect);
        }
        const SIZE client = client_size(window.get());
        const RECT outer = vd::window_rect_in_parent(window.get());
        ASSERT_TRUE(::SetWindowPos(window.get(), nullptr, 0, 0, outer.right - outer.left + grow.cx,
                                   outer.bottom - outer.top + grow.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
        ASSERT_EQ(client_size(window.get()).cx, client.cx + grow.cx);
        ASSERT_EQ(client_size(window.get()).cy, client.cy + grow.cy);
        EXPECT_EQ(dialog.layout_result, TRUE);
        EXPECT_EQ(dialog.client_width(), client.cx + grow.cx);
        EXPECT_EQ(dialog.client_height(), client.cy + grow.cy);
        for (std::size_t i = 0; i < dialog.anchors.size(); ++i) {
            if (!dialog.anchors[i].control)
                continue;
            const RECT actual = vd::window_rect_in_parent(dialog.anchors[i].control);
            EXPECT_TRUE(::EqualRect(&actual, &expected[i])) << grow.cx << "x" << grow.cy << ", anchor "
                                                            << dialog.anchors[i].flags;
        }
    }

    // Sizes too small for the widened and heightened controls leave every control where it
    // stands; the size after them is laid out from the last one taken.
    const auto layout = [&] {
        std::vector<RECT> rects;
        for (const auto& anchored : dialog.anchors)
            rects.push_back(vd::window_rect_in_parent(anchored.control));
        return rects;
    };
    const std::vector<RECT> before = layout();
    const SIZE laid_out{dialog.client_width(), dialog.client_height()};
    const RECT outer = vd::window_rect_in_parent(window.get());
    const LONG width = outer.right - outer.left;
    for (const SIZE size : {SIZE{0, 0}, SIZE{width, 0}, SIZE{width, outer.bottom - outer.top}}) {
        dialog.layout_result = -1;
        ASSERT_TRUE(::SetWindowPos(window.get(), nullptr, 0, 0, size.cx, size.cy,
                                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
        EXPECT_EQ(dialog.layout_result, TRUE) << size.cx << "x" << size.cy;
        EXPECT_EQ(dialog.client_width(), laid_out.cx) << size.cx << "x" << size.cy;
        EXPECT_EQ(dialog.client_height(), laid_out.cy) << size.cx << "x" << size.cy;
        const std::vector<RECT> after = layout();
        for (std::size_t i = 0; i < after.size(); ++i)
            EXPECT_TRUE(::EqualRect(&after[i], &before[i]))
                << size.cx << "x" << size.cy << ", anchor " << dialog.anchors[i].flags;
    }
}
