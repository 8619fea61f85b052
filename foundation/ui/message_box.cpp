#include "foundation/ui/message_box.hpp"

#include <string>

#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/library.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/app_context.hpp"

namespace vd {

namespace details {

modal_scope::modal_scope(bool skip_quiet) : quiet_(!skip_quiet && app_context::quiet_mode()) {
    const modal_owner found = app_context::owner_window();
    owner_ = found.owner;
    window_to_reenable_ = found.window_to_reenable;
    if (quiet_)
        return;
    app_context::notify_modal(false);
    // The activation returns to the owner after the box only when the owner is enabled; a
    // disabled one would leave the user in another program's window.
    if (owner_ && owner_ != window_to_reenable_)
        ::EnableWindow(owner_, TRUE);
}

modal_scope::~modal_scope() {
    if (quiet_)
        return;
    if (window_to_reenable_)
        ::EnableWindow(window_to_reenable_, TRUE);
    try {
        app_context::notify_modal(true);
    } catch (...) {
        // The box has been answered; a hook that fails now has nobody to tell.
    }
}

std::uint32_t message_box_flags(std::uint32_t flags, bool right_to_left) noexcept {
    if ((flags & MB_ICONMASK) == 0) {
        switch (flags & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            flags |= MB_ICONWARNING;
            break;
        case MB_YESNOCANCEL:
        case MB_YESNO:
            flags |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    if (right_to_left)
        flags |= MB_RTLREADING;
    // MessageBoxW has no way to name a user icon and would refuse the box.
    if ((flags & MB_ICONMASK) == MB_USERICON)
        flags &= ~MB_ICONMASK;
    return flags;
}

std::wstring resolve_caption(const string_or_id& caption) {
    std::wstring text = caption.c_str();
    if (text.empty())
        text = app_context::caption();
    return text;
}

HRESULT CALLBACK task_dialog_callback(HWND dialog, UINT notification, WPARAM wparam, LPARAM lparam,
                                      LONG_PTR data) noexcept {
    // Sent again for every page the dialog navigates to, which builds the frame anew; the
    // one-time TDN_CREATED would leave a later page without the icon.
    if (notification == TDN_DIALOG_CONSTRUCTED) {
        try {
            if (const HICON icon = app_context::icon())
                ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        } catch (...) {
            // The dialog shows without the icon.
        }
        // A dialog that cannot be cancelled comes without a system menu, and then its caption
        // shows no icon: the menu is added without its close command, so that the dialog stays
        // one that cannot be cancelled.
        const LONG style = ::GetWindowLongW(dialog, GWL_STYLE);
        if (!(style & WS_SYSMENU)) {
            ::SetWindowLongW(dialog, GWL_STYLE, style | WS_SYSMENU);
            ::RemoveMenu(::GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND);
        }
    }
    const auto* config = reinterpret_cast<const TASKDIALOGCONFIG*>(data);
    if (config && config->pfCallback)
        return config->pfCallback(dialog, notification, wparam, lparam, config->lpCallbackData);
    return S_OK;
}

} // namespace details

bool box_reads_right_to_left(HWND owner) {
    if (owner)
        return (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    return language_state::instance().right_to_left;
}

int message_box(const string_or_id& text, const string_or_id& caption, std::uint32_t flags) {
    // Only a box that merely informs may be left unshown: every other one asks for an answer.
    const details::modal_scope scope((flags & MB_TYPEMASK) != 0);
    if (scope.quiet()) {
        const std::wstring line = std::wstring(text.c_str()) + L'\n';
        ::OutputDebugStringW(line.c_str());
        return IDOK;
    }
    const std::wstring title = details::resolve_caption(caption);
    return ::MessageBoxW(scope.owner(), text.c_str(), title.c_str(),
                         details::message_box_flags(flags, box_reads_right_to_left(scope.owner())));
}

void show_error(std::uint32_t code) {
    message_box(error_text(code).c_str(), nullptr, MB_ICONWARNING);
}

HRESULT task_dialog(const TASKDIALOGCONFIG& config) {
    // Bound by name so that the program still starts where only the common controls 5 are
    // installed; decltype only names the declaration, nothing is imported.
    const unique_module common_controls{load_system_library(L"comctl32.dll")};
    if (!common_controls)
        return HRESULT_FROM_WIN32(::GetLastError());
    const FARPROC found = ::GetProcAddress(common_controls.get(), "TaskDialogIndirect");
    if (!found)
        return HRESULT_FROM_WIN32(::GetLastError());
    const auto task_dialog_indirect = reinterpret_cast<decltype(&::TaskDialogIndirect)>(reinterpret_cast<void*>(found));

    const details::modal_scope scope(true);
    TASKDIALOGCONFIG copy = config;
    std::wstring title;
    if (!copy.hwndParent)
        copy.hwndParent = scope.owner();
    if (!copy.hInstance)
        copy.hInstance = app_context::module_handle();
    if (!copy.pszWindowTitle) {
        title = app_context::caption();
        copy.pszWindowTitle = title.c_str();
    }
    copy.dwFlags |= TDF_POSITION_RELATIVE_TO_WINDOW;
    if (box_reads_right_to_left(copy.hwndParent))
        copy.dwFlags |= TDF_RTL_LAYOUT;
    copy.pfCallback = details::task_dialog_callback;
    copy.lpCallbackData = reinterpret_cast<LONG_PTR>(&config);
    return task_dialog_indirect(&copy, nullptr, nullptr, nullptr);
}

} // namespace vd
