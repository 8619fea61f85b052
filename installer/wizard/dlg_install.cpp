#include "installer/wizard/dlg_install.hpp"

#include <algorithm>
#include <array>

#include <commctrl.h>
#include <fmt/xchar.h>

#include "installer/startup/installer_settings.hpp"
#include "installer/startup/installer_texts.hpp"

namespace {

// Each line ends in CR LF; the shortcut lines only for the shortcuts chosen.
std::wstring installation_summary(const installer_settings& settings) {
    std::wstring summary = fmt::format(fmt::runtime(settings.load_string(1100)), product_name(false));
    summary += L"\r\n";
    summary += L"\u2500\u2500\u2500\u00a0";
    summary += settings.load_string(1122);
    summary += L'\u00a0';
    summary.append(29, L'\u2500');
    summary += L"\r\n";
    summary += fmt::format(fmt::runtime(settings.load_string(1123)), settings.install_folder);
    summary += L"\r\n";
    if (settings.start_menu_shortcut)
        summary += settings.load_string(1124) + L"\r\n";
    if (settings.desktop_shortcut)
        summary += settings.load_string(1125) + L"\r\n";
    return summary;
}

} // namespace

dlg_install& dlg_install::instance() {
    static dlg_install page;
    return page;
}

void dlg_install::on_init() {
    // A new log starts empty; what was gathered for a window that went goes with it.
    pending_status_.clear();
    status_tail_.clear();
    ::SendMessageW(progress_bar(), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::ShowWindow(progress_bar(), SW_HIDE);
}

void dlg_install::set_texts() {
    const installer_settings& settings = installer_settings::instance();
    set_window_text(hint(), fmt::format(fmt::runtime(settings.load_string(1108)), settings.load_string(1007)));
}

void dlg_install::on_size(std::uint32_t width, std::uint32_t height) {
    const std::array controls{
        anchored_control{anchor_widen | anchor_heighten, ::GetDlgItem(hwnd(), status_log_id)},
        anchored_control{anchor_bottom | anchor_widen, progress_bar()},
        anchored_control{anchor_bottom | anchor_widen, hint()},
    };
    layout_anchored(width, height, controls);
}

void dlg_install::show_summary() {
    const auto summary = installation_summary(installer_settings::instance());
    pending_status_.clear();
    status_tail_ = summary.substr(summary.size() - std::min<std::size_t>(summary.size(), 2));
    set_window_text(::GetDlgItem(hwnd(), status_log_id), summary);
}

void dlg_install::append_status(const std::wstring& text) {
    pending_status_ += text;
    status_tail_.append(text, text.size() - std::min<std::size_t>(text.size(), 2));
    if (status_tail_.size() > 2)
        status_tail_.erase(0, status_tail_.size() - 2);
}

void dlg_install::flush_status() noexcept {
    status_flushed_at_ = ::GetTickCount();
    if (pending_status_.empty())
        return;
    const HWND log = ::GetDlgItem(hwnd(), status_log_id);
    // The caret goes to the end first, so that a selection the user made is not replaced.
    ::SendMessageW(log, EM_SETSEL, 0x7FFFFFFF, -1);
    ::SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pending_status_.c_str()));
    ::SendMessageW(log, EM_LINESCROLL, 0, 1);
    pending_status_.clear();
}
