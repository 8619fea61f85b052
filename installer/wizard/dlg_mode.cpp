#include "installer/wizard/dlg_mode.hpp"

#include <array>
#include <string>

#include <fmt/xchar.h>

#include "installer/startup/installer_settings.hpp"

namespace {

constexpr int method_frame = 1021;
constexpr int quick_button = 1018;
constexpr int advanced_button = 1019;
constexpr int hint_line = 1003;

} // namespace

dlg_mode& dlg_mode::instance() {
    static dlg_mode page;
    return page;
}

void dlg_mode::set_texts() {
    const installer_settings& settings = installer_settings::instance();
    set_window_text(::GetDlgItem(hwnd(), method_frame), settings.load_string(1015));
    set_window_text(::GetDlgItem(hwnd(), quick_button), settings.load_string(1016));
    set_window_text(::GetDlgItem(hwnd(), advanced_button), settings.load_string(1017));
    set_window_text(::GetDlgItem(hwnd(), hint_line),
                    fmt::format(fmt::runtime(settings.load_string(1106)), settings.load_string(1006)));
}

void dlg_mode::on_init() {
    ::CheckRadioButton(hwnd(), quick_button, advanced_button,
                       installer_settings::instance().advanced ? advanced_button : quick_button);
}

void dlg_mode::on_size(std::uint32_t width, std::uint32_t height) {
    const std::array<anchored_control, 4> anchors{{
        {anchor_widen, ::GetDlgItem(hwnd(), method_frame)},
        {anchor_widen, ::GetDlgItem(hwnd(), quick_button)},
        {anchor_widen, ::GetDlgItem(hwnd(), advanced_button)},
        {anchor_bottom | anchor_widen, ::GetDlgItem(hwnd(), hint_line)},
    }};
    layout_anchored(width, height, anchors);
}

bool dlg_mode::on_command(std::uint16_t, std::uint16_t) {
    installer_settings::instance().advanced = ::IsDlgButtonChecked(hwnd(), advanced_button) != 0;
    return true;
}
