#include "installer/wizard/dlg_main.hpp"

#include "foundation/language/language_state.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/ui/app_context.hpp"
#include "foundation/ui/message_box.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/about_dialog.hpp"
#include "installer/wizard/callback_failure.hpp"
#include "installer/wizard/dlg_end.hpp"
#include "installer/wizard/dlg_install.hpp"
#include "installer/wizard/dlg_mode.hpp"
#include "installer/wizard/dlg_options.hpp"
#include "installer/wizard/dlg_start.hpp"
#include "installer/wizard/message_pump.hpp"

#include <fmt/xchar.h>

#include <algorithm>
#include <utility>

namespace {

constexpr wchar_t maker_key[] = L"Software\\Vandrel";
constexpr wchar_t size_value[] = L"InstallerSize";

constexpr std::array<int, 5> page_templates{132, 136, 133, 135, 137};

// The window's outer size, width then height, 8 bytes; anything else is no size.
bool load_window_size(const vd::reg_key& key, SIZE& size) {
    try {
        std::int32_t saved[2] = {};
        if (!key.get_binary(saved, sizeof saved, size_value))
            return false;
        size = {saved[0], saved[1]};
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void save_window_size(const vd::reg_key& key, SIZE size) {
    try {
        const std::int32_t saved[2] = {size.cx, size.cy};
        key.set_binary(saved, sizeof saved, size_value);
    } catch (const std::exception&) {
    }
}

// What a procedure that the system calls caught is the user's to know: a page left half filled,
// a set-up callback that failed. The box stands over the wizard, which goes on afterwards; the
// installation's log shows what it has done so far beside it.
void show_callback_failure(const std::wstring& text) {
    dlg_install::instance().flush_status();
    vd::message_box(text.c_str(), installer_settings::instance().title(true).c_str(), MB_OK | MB_ICONERROR);
}

RECT client_rect_of(HWND window, HWND parent) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace

std::uint32_t next_page(std::uint32_t current, bool advanced) noexcept {
    const auto next = current + 1;
    return next == options_page && !advanced ? install_page : next;
}

std::uint32_t previous_page(std::uint32_t current, bool advanced) noexcept {
    const auto previous = current - 1;
    return previous == options_page && !advanced ? mode_page : previous;
}

bool cancel_asks(bool installed, std::int32_t state, std::uint32_t current) noexcept {
    return !installed && state != -1 && !(state == 1 && current == start_page);
}

SIZE restored_size(SIZE minimum, const SIZE* saved) noexcept {
    if (!saved)
        return minimum;
    return {std::max(saved->cx, minimum.cx), std::max(saved->cy, minimum.cy)};
}

SIZE saved_window_size(SIZE minimum) noexcept {
    try {
        if (const auto key = vd::reg_open_key(HKEY_CURRENT_USER, maker_key)) {
            SIZE saved{};
            return restored_size(minimum, load_window_size(key, saved) ? &saved : nullptr);
        }
    } catch (const std::exception&) {
    }
    return minimum;
}

dlg_main::dlg_main()
    : pages_{&dlg_start::instance(), &dlg_mode::instance(), &dlg_options::instance(), &dlg_install::instance(),
             &dlg_end::instance()} {}

dlg_main& dlg_main::instance() {
    static dlg_main window;
    return window;
}

void dlg_main::on_init() {
    // First, so that a page whose start fails is reported as well.
    previous_reporter_ = set_failure_reporter(show_callback_failure);
    const RECT outer = vd::window_rect_in_parent(hwnd());
    min_width_ = outer.right - outer.left;
    min_height_ = outer.bottom - outer.top;
    if (const HICON icon = vd::app_context::icon())
        ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    for (std::size_t i = 0; i < pages_.size(); ++i)
        ::CreateDialogParamW(vd::resource_module(), MAKEINTRESOURCEW(page_templates[i]), hwnd(), basic_dialog::dialog_proc,
                             reinterpret_cast<LPARAM>(pages_[i]));
    dlg_start::instance().set_wizard_retext([this] { set_texts(); });
    set_main_dialog_window(hwnd());
    prepare_frame();
    set_texts();
    current_page_ = start_page;
    ::ShowWindow(pages_[start_page]->hwnd(), SW_SHOW);
    ::EnableWindow(::GetDlgItem(hwnd(), back_id), FALSE);
    if (installer_settings::instance().state == -1)
        ::EnableWindow(::GetDlgItem(hwnd(), IDOK), FALSE);
}

// The pages fill the area right of the side panel and above the separator; the window never
// gets smaller than what shows the largest page whole.
void dlg_main::prepare_frame() {
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    const int grip_width = ::GetSystemMetrics(SM_CXHSCROLL);
    const int grip_height = ::GetSystemMetrics(SM_CYHSCROLL);
    const HWND grip = ::CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"ScrollBar", L"",
                                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_GROUP | SBS_SIZEGRIP,
                                        client.right - grip_width, client.bottom - grip_height, grip_width, grip_height,
                                        hwnd(), nullptr, vd::resource_module(), nullptr);
    if (grip) {
        ::SetWindowLongW(grip, GWL_ID, size_grip_id);
        ::SetWindowPos(grip, HWND_BOTTOM, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_NOSENDCHANGING);
    }

    LONG widest = 0;
    LONG tallest = 0;
    for (const auto* page : pages_) {
        RECT rect{};
        ::GetWindowRect(page->hwnd(), &rect);
        widest = std::max(widest, rect.right - rect.left);
        tallest = std::max(tallest, rect.bottom - rect.top);
    }
    const RECT panel = client_rect_of(::GetDlgItem(hwnd(), side_panel_id), hwnd());
    const RECT separator = client_rect_of(::GetDlgItem(hwnd(), separator_id), hwnd());
    const RECT area{panel.right, 0, client.right, separator.top};
    if (widest - (client.right - panel.right) > 0)
        min_width_ += widest - (client.right - panel.right);
    if (tallest - separator.top > 0)
        min_height_ += tallest - separator.top;
    for (const auto* page : pages_)
        vd::set_window_rect(page->hwnd(), area);

    const SIZE size = saved_window_size({min_width_, min_height_});
    RECT window{};
    ::GetWindowRect(hwnd(), &window);
    const LONG left = (window.left + window.right) / 2 - size.cx / 2;
    const LONG top = (window.top + window.bottom) / 2 - size.cy / 2;
    vd::set_window_rect(hwnd(), {left, top, left + size.cx, top + size.cy});
    ::SendMessageW(hwnd(), DM_REPOSITION, 0, 0);
}

void dlg_main::on_destroy() {
    set_main_dialog_window(nullptr);
    set_failure_reporter(std::move(previous_reporter_));
    dlg_start::instance().set_wizard_retext({});
    try {
        if (const auto key = vd::reg_create_key(HKEY_CURRENT_USER, maker_key)) {
            RECT window{};
            ::GetWindowRect(hwnd(), &window);
            save_window_size(key, {window.right - window.left, window.bottom - window.top});
        }
    } catch (const std::exception&) {
    }
}

void dlg_main::on_size(std::uint32_t width, std::uint32_t height) {
    const auto item = [this](int id) { return ::GetDlgItem(hwnd(), id); };
    std::array<anchored_control, 11> controls{{
        {anchor_heighten, item(side_panel_id)},
        {anchor_bottom | anchor_widen, item(separator_id)},
        {anchor_right | anchor_bottom, item(back_id)},
        {anchor_right | anchor_bottom, item(IDOK)},
        {anchor_right | anchor_bottom, item(IDCANCEL)},
        {anchor_right | anchor_bottom, item(size_grip_id)},
    }};
    for (std::size_t i = 0; i < pages_.size(); ++i)
        controls[6 + i] = {anchor_widen | anchor_heighten, pages_[i]->hwnd()};
    layout_anchored(width, height, controls);
}

void dlg_main::on_min_max_info(MINMAXINFO* info) {
    info->ptMinTrackSize = {min_width_, min_height_};
}

void dlg_main::set_texts() {
    const auto& settings = installer_settings::instance();
    set_window_text(hwnd(), settings.title(true));
    set_about_item();
    update_buttons();
    for (auto* page : pages_) {
        // A page whose texts fail is reported and left as far as it got; the other pages and
        // the wizard around them go on.
        try {
            page->set_texts();
        } catch (...) {
            report_callback_failure();
        }
    }
}

// A new language replaces the item's text in place.
void dlg_main::set_about_item() {
    const auto& settings = installer_settings::instance();
    const auto about = fmt::format(fmt::runtime(settings.load_string(1003)), settings.title(false));
    const auto item = vd::language_state::instance().right_to_left ? L"..." + about : L"&" + about + L"...";
    const HMENU menu = ::GetSystemMenu(hwnd(), FALSE);
    if (!menu)
        return;
    if (!::ModifyMenuW(menu, about_command, MF_BYCOMMAND | MF_STRING, about_command, item.c_str())) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, about_command, item.c_str());
    }
}

void dlg_main::update_buttons() {
    const auto& settings = installer_settings::instance();
    const auto item = [this](int id) { return ::GetDlgItem(hwnd(), id); };
    set_window_text(item(IDOK), current_page_ == install_page && !settings.installed ? settings.load_string(1007)
                                                                                      : settings.load_string(1006) + L" >");
    set_window_text(item(back_id), L"< " + settings.load_string(1005));
    set_window_text(item(IDCANCEL), settings.load_string(settings.installed ? 1004 : 1002));
}

void dlg_main::show_page(std::uint32_t index) {
    // Back on the first page and Next on the last are disabled, but any program can still send
    // their clicks: there is no page before the first or after the last to move to.
    if (index >= pages_.size())
        return;
    const auto& settings = installer_settings::instance();
    ::ShowWindow(pages_[current_page_]->hwnd(), SW_HIDE);
    current_page_ = index;
    ::ShowWindow(pages_[current_page_]->hwnd(), SW_SHOW);
    update_buttons();
    ::EnableWindow(::GetDlgItem(hwnd(), back_id), (index != start_page && !settings.installed) || index > install_page);
    ::EnableWindow(::GetDlgItem(hwnd(), IDOK), index != end_page);
    const int focus = index == end_page ? IDCANCEL : IDOK;
    ::SetFocus(::GetDlgItem(hwnd(), focus));
    ::SendMessageW(hwnd(), DM_SETDEFID, static_cast<WPARAM>(focus), 0);
}

bool dlg_main::on_command(std::uint16_t id, std::uint16_t) {
    auto& settings = installer_settings::instance();
    if (id != IDOK && id != IDCANCEL && id != back_id)
        return false;
    if (installing_)
        return true;
    if (id == IDOK) {
        if (current_page_ == install_page && !settings.installed) {
            install();
        } else {
            const auto next = next_page(current_page_, settings.advanced);
            if (next == install_page)
                dlg_install::instance().show_summary();
            show_page(next);
        }
    } else if (id == back_id) {
        show_page(previous_page(current_page_, settings.advanced));
    } else {
        if (cancel_asks(settings.installed, settings.state, current_page_) &&
            vd::message_box(settings.load_string(1110).c_str(), settings.title(true).c_str(),
                            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDNO)
            return true;
        ::EndDialog(hwnd(), settings.installed ? 1 : 2);
    }
    return true;
}

void dlg_main::install() {
    auto& settings = installer_settings::instance();
    const auto item = [this](int id) { return ::GetDlgItem(hwnd(), id); };
    ::EnableWindow(item(back_id), FALSE);
    ::EnableWindow(item(IDOK), FALSE);
    ::EnableWindow(item(IDCANCEL), FALSE);
    installing_ = true;
    try {
        settings.installed = dlg_install::instance().do_installation();
    } catch (const std::exception&) {
        settings.installed = false;
    }
    // A step that waits without taking messages (the registration run) leaves the requests
    // made meanwhile in the queue: a close box, Esc or Alt+F4 belongs to the installation and
    // is dropped here with the wizard's commands, not handled as soon as the wizard is back.
    pump_messages();
    installing_ = false;
    ::EnableWindow(item(IDCANCEL), TRUE);
    ::EnableWindow(item(IDOK), TRUE);
    ::SetFocus(item(IDOK));
    ::SendMessageW(hwnd(), DM_SETDEFID, IDOK, 0);
    update_buttons();
    dlg_end::instance().show_result();
}

bool dlg_main::on_syscommand(std::uint32_t command) {
    if (command != about_command)
        return false;
    ::DialogBoxParamW(vd::resource_module(), MAKEINTRESOURCEW(100), hwnd(), about_dialog_proc, 0);
    return true;
}
