#include "foundation/ui/message_box.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/app_context.hpp"
#include "foundation/ui/window.hpp"
#include "support/box_answerer.hpp"

namespace {

using testing_support::box_answerer;
using testing_support::unique_window;

unique_window make_window(DWORD ex_style = 0) {
    return unique_window{::CreateWindowExW(ex_style, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                                           nullptr, nullptr, nullptr, nullptr)};
}

// Boxes run on a thread of their own, so that only the case's windows can own them.
void on_fresh_thread(const std::function<void()>& body) {
    std::thread(body).join();
}

// Every hook and the UI language are put back as they were.
class message_display : public testing::Test {
protected:
    void TearDown() override {
        vd::set_ui_language(saved_language_);
        vd::app_context::set_caption({});
        vd::app_context::set_icon({});
        vd::app_context::set_quiet_mode({});
        vd::app_context::set_owner_window({});
        vd::app_context::set_modal_notification({});
    }

private:
    std::uint32_t saved_language_ = vd::language_state::instance().language;
};

TEST_F(message_display, boxes_show_their_text_and_caption) {
    struct box_case {
        std::function<int()> show;
        const wchar_t* caption_hook;
        std::wstring text;
        std::wstring caption;
    };
    // This test program has no version block: its caption is its file name without extension.
    const box_case cases[] = {
        {[] { return vd::message_box(L"Plain", nullptr); }, nullptr, L"Plain", L"foundation_tests"},
        {[] { return vd::message_box(L"Empty", L""); }, nullptr, L"Empty", L"foundation_tests"},
        {[] { return vd::message_box(L"Own", L"Stelvane Setup"); }, nullptr, L"Own", L"Stelvane Setup"},
        {[] { return vd::message_box(0x1237, 0x1234); }, nullptr, L"Grüße €", L"entry 4 of block 0x124"},
        {[] { return vd::message_box(nullptr, nullptr); }, L"Stelvane 8.01", L"", L"Stelvane 8.01"},
        // An entry that does not exist is an empty caption as well.
        {[] { return vd::message_box(L"Missing", 0x1238); }, L"Stelvane 8.01", L"Missing", L"Stelvane 8.01"},
        {[] { return vd::show_error(170), IDOK; }, nullptr, vd::error_text(170), L"foundation_tests"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        vd::app_context::set_caption(row.caption_hook ? [hook = row.caption_hook] { return std::wstring(hook); }
                                                      : vd::app_context::caption_hook{});
        on_fresh_thread([&] {
            box_answerer answerer(IDOK);
            EXPECT_EQ(row.show(), IDOK);
            ASSERT_TRUE(answerer.box);
            EXPECT_EQ(answerer.box->text, row.text);
            EXPECT_EQ(answerer.box->caption, row.caption);
            EXPECT_EQ(answerer.box->owner, nullptr);
        });
    }
}

TEST_F(message_display, owner_answer_and_modal_state) {
    on_fresh_thread([] {
        const unique_window main = make_window();
        box_answerer first(IDNO);
        EXPECT_EQ(vd::message_box(L"Replace the file?", nullptr, MB_YESNO), IDNO);
        ASSERT_TRUE(first.box);
        EXPECT_EQ(first.box->owner, main.get());

        // The owner hook names a window to enable once the box has closed; the modal-state hook
        // hears of the box opening and closing.
        const unique_window frame = make_window();
        ::EnableWindow(frame.get(), FALSE);
        vd::app_context::set_owner_window([&] { return vd::modal_owner{main.get(), frame.get()}; });
        std::vector<bool> modal_states;
        vd::app_context::set_modal_notification([&](bool closed) { modal_states.push_back(closed); });
        box_answerer second(IDRETRY);
        EXPECT_EQ(vd::message_box(L"Disk full", nullptr, MB_RETRYCANCEL), IDRETRY);
        ASSERT_TRUE(second.box);
        EXPECT_EQ(second.box->owner, main.get());
        EXPECT_TRUE(::IsWindowEnabled(frame.get()));
        EXPECT_EQ(modal_states, (std::vector<bool>{false, true}));
    });
}

TEST_F(message_display, quiet_mode_keeps_only_ok_boxes_off_the_screen) {
    int asked = 0;
    vd::app_context::set_quiet_mode([&] { return ++asked, true; });
    std::vector<bool> modal_states;
    vd::app_context::set_modal_notification([&](bool closed) { modal_states.push_back(closed); });
    on_fresh_thread([&] {
        box_answerer unanswered(IDCANCEL);
        EXPECT_EQ(vd::message_box(L"Written to the debug output", nullptr, MB_OK | MB_ICONERROR), IDOK);
        EXPECT_FALSE(unanswered.box);
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(modal_states.empty());

        // A question needs an answer: the quiet-mode hook is not even asked.
        box_answerer answerer(IDYES);
        EXPECT_EQ(vd::message_box(L"Continue?", nullptr, MB_YESNO), IDYES);
        EXPECT_TRUE(answerer.box);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(modal_states, (std::vector<bool>{false, true}));
    });
}

TEST_F(message_display, default_icons_and_reading_order) {
    const std::pair<std::uint32_t, std::uint32_t> flags[] = {
        {MB_OKCANCEL, MB_OKCANCEL | MB_ICONWARNING},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, MB_YESNOCANCEL | MB_DEFBUTTON2 | MB_ICONQUESTION},
        {MB_ABORTRETRYIGNORE, MB_ABORTRETRYIGNORE},
        {MB_CANCELTRYCONTINUE, MB_CANCELTRYCONTINUE},
        {MB_RETRYCANCEL | MB_ICONWARNING, MB_RETRYCANCEL | MB_ICONWARNING},
        {MB_OK | MB_ICONINFORMATION, MB_OK | MB_ICONINFORMATION},
        {MB_YESNO | MB_ICONERROR, MB_YESNO | MB_ICONERROR},
        {MB_OK | MB_USERICON | MB_TOPMOST, MB_OK | MB_TOPMOST},
    };
    for (const auto& [given, passed] : flags) {
        EXPECT_EQ(vd::details::message_box_flags(given, false), passed) << std::hex << given;
        EXPECT_EQ(vd::details::message_box_flags(given, true), passed | MB_RTLREADING) << std::hex << given;
    }

    // Without an owner the UI language decides; an owner's layout decides whatever the language.
    on_fresh_thread([] {
        const unique_window left_to_right = make_window();
        const unique_window right_to_left = make_window(WS_EX_LAYOUTRTL);
        for (const std::uint32_t language : {vd::ui_language_french, vd::ui_language_english, vd::ui_language_arabic,
                                             vd::ui_language_hebrew}) {
            vd::set_ui_language(language);
            const bool rtl_language = language == vd::ui_language_arabic || language == vd::ui_language_hebrew;
            EXPECT_EQ(vd::box_reads_right_to_left(nullptr), rtl_language) << language;
            EXPECT_FALSE(vd::box_reads_right_to_left(left_to_right.get())) << language;
            EXPECT_TRUE(vd::box_reads_right_to_left(right_to_left.get())) << language;
        }
    });
}

// What a task dialog showed to its caller's callback, which closes it as soon as it exists.
struct dialog_record {
    bool constructed = false;
    WPARAM clicked = 0;
    std::wstring caption;
    HICON small_icon = nullptr;
    HWND owner = nullptr;
    bool right_to_left = false;
};

HRESULT CALLBACK record_and_close(HWND dialog, UINT notification, WPARAM wparam, LPARAM, LONG_PTR data) {
    auto& record = *reinterpret_cast<dialog_record*>(data);
    record.constructed |= notification == TDN_DIALOG_CONSTRUCTED;
    if (notification == TDN_BUTTON_CLICKED)
        record.clicked = wparam;
    if (notification == TDN_CREATED) {
        record.caption = vd::window_text(dialog);
        record.small_icon = reinterpret_cast<HICON>(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
        record.owner = ::GetWindow(dialog, GW_OWNER);
        record.right_to_left = (::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
        ::PostMessageW(dialog, TDM_CLICK_BUTTON, IDOK, 0);
    }
    // S_FALSE would keep the dialog open after a click; elsewhere it shows that the answer is
    // passed back.
    return notification == TDN_BUTTON_CLICKED ? S_OK : S_FALSE;
}

TEST_F(message_display, task_dialogs_closed_from_their_callback) {
    const HICON icon = ::LoadIconW(nullptr, IDI_INFORMATION);
    struct dialog_case {
        std::uint32_t language;
        const wchar_t* title;
        HICON icon;
        std::optional<DWORD> owner_ex_style;
        std::wstring caption;
        bool right_to_left;
    };
    const dialog_case cases[] = {
        {vd::ui_language_french, nullptr, nullptr, std::nullopt, L"foundation_tests", false},
        {vd::ui_language_arabic, L"Stelvane Setup", icon, std::nullopt, L"Stelvane Setup", true},
        {vd::ui_language_hebrew, nullptr, icon, 0, L"foundation_tests", false},
        {vd::ui_language_french, nullptr, icon, WS_EX_LAYOUTRTL, L"foundation_tests", true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.language);
        vd::set_ui_language(row.language);
        vd::app_context::set_icon([icon = row.icon] { return icon; });
        on_fresh_thread([&] {
            const unique_window owner = row.owner_ex_style ? make_window(*row.owner_ex_style) : unique_window{};
            dialog_record record;
            TASKDIALOGCONFIG config{};
            config.cbSize = sizeof config;
            config.pszWindowTitle = row.title;
            config.pszContent = L"Stelvane 8.01 is installed.";
            config.pfCallback = record_and_close;
            config.lpCallbackData = reinterpret_cast<LONG_PTR>(&record);

            EXPECT_EQ(vd::task_dialog(config), S_OK);
            EXPECT_TRUE(record.constructed);
            EXPECT_EQ(record.clicked, static_cast<WPARAM>(IDOK));
            EXPECT_EQ(record.caption, row.caption);
            EXPECT_EQ(record.small_icon, row.icon);
            EXPECT_EQ(record.owner, owner.get());
            EXPECT_EQ(record.right_to_left, row.right_to_left);
        });
    }
}

// Windows gives a dialog that cannot be cancelled no system menu (Wine always gives one): played
// on a window of the test's own.
TEST_F(message_display, task_dialog_without_system_menu_gets_one_without_close) {
    const HICON icon = ::LoadIconW(nullptr, IDI_WARNING);
    vd::app_context::set_icon([icon] { return icon; });
    on_fresh_thread([icon] {
        const unique_window dialog{::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CAPTION, 0, 0, 200, 100,
                                                     nullptr, nullptr, nullptr, nullptr)};
        dialog_record record;
        TASKDIALOGCONFIG config{};
        config.pfCallback = record_and_close;
        config.lpCallbackData = reinterpret_cast<LONG_PTR>(&record);
        const auto notify = [&](UINT notification) {
            return vd::details::task_dialog_callback(dialog.get(), notification, 0, 0, reinterpret_cast<LONG_PTR>(&config));
        };

        EXPECT_EQ(notify(TDN_DIALOG_CONSTRUCTED), S_FALSE);
        EXPECT_TRUE(record.constructed);
        EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(dialog.get(), WM_GETICON, ICON_SMALL, 0)), icon);
        EXPECT_TRUE(::GetWindowLongW(dialog.get(), GWL_STYLE) & WS_SYSMENU);
        EXPECT_EQ(::GetMenuState(::GetSystemMenu(dialog.get(), FALSE), SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
        config.pfCallback = nullptr;
        EXPECT_EQ(notify(TDN_TIMER), S_OK);
    });
}

} // namespace
