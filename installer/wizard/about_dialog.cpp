#include "installer/wizard/about_dialog.hpp"

#include <string>

#include <fmt/xchar.h>

#include "foundation/language/version_info.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/basic_dialog.hpp"
#include "installer/wizard/callback_failure.hpp"

namespace {

constexpr int version_line = 1019;
constexpr int copyright_line = 1020;

void init_about(HWND dialog) {
    const installer_settings& settings = installer_settings::instance();
    const std::wstring caption = fmt::format(fmt::runtime(settings.load_string(1003)), settings.title(false));
    if (!caption.empty())
        set_window_text(dialog, caption);

    const vd::version_info own_version = vd::module_version_info();
    set_window_text(::GetDlgItem(dialog, version_line), own_version.version_text());
    set_window_text(::GetDlgItem(dialog, copyright_line), own_version.legal_copyright());
    set_window_text(::GetDlgItem(dialog, IDOK), settings.load_string(1001));

    if (const HWND parent = ::GetParent(dialog)) {
        // Both are top-level windows, so both rectangles are on the screen.
        const RECT p = vd::window_rect_in_parent(parent);
        RECT d = vd::window_rect_in_parent(dialog);
        ::OffsetRect(&d, (p.left - d.left - d.right + p.right) / 2, (p.top - d.top - d.bottom + p.bottom) / 2);
        vd::fit_rect_to_monitors(d, 50);
        vd::set_window_rect(dialog, d);
    }
}

} // namespace

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    try {
        switch (message) {
        case WM_INITDIALOG:
            init_about(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                ::EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        report_callback_failure();
        return FALSE;
    }
}
