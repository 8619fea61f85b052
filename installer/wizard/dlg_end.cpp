#include "installer/wizard/dlg_end.hpp"

#include <array>

#include <fmt/xchar.h>

#include "installer/startup/installer_settings.hpp"

dlg_end& dlg_end::instance() {
    static dlg_end page;
    return page;
}

void dlg_end::set_texts() {
    const installer_settings& settings = installer_settings::instance();
    set_window_text(::GetDlgItem(hwnd(), closing_text_id), std::wstring());
    set_window_text(::GetDlgItem(hwnd(), hint_id),
                    fmt::format(fmt::runtime(settings.load_string(1107)), settings.load_string(1004)));
}

void dlg_end::show_result() {
    set_window_text(::GetDlgItem(hwnd(), closing_text_id), installer_settings::instance().load_string(1120));
}

void dlg_end::on_size(std::uint32_t width, std::uint32_t height) {
    const std::array controls{
        anchored_control{anchor_widen | anchor_heighten, ::GetDlgItem(hwnd(), closing_text_id)},
        anchored_control{anchor_bottom | anchor_widen, ::GetDlgItem(hwnd(), hint_id)},
    };
    layout_anchored(width, height, controls);
}
