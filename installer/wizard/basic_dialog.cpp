#include "installer/wizard/basic_dialog.hpp"

#include "foundation/ui/dialog_result.hpp"
#include "foundation/ui/window.hpp"
#include "installer/wizard/callback_failure.hpp"

namespace {

struct anchored_position {
    RECT rect;
    UINT flags;
};

anchored_position position_of(const anchored_control& anchored, int dx, int dy) {
    RECT rect = vd::window_rect_in_parent(anchored.control);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
    if (anchored.flags & (anchor_right | anchor_bottom)) {
        const int move_x = (anchored.flags & anchor_right) ? dx : 0;
        const int move_y = (anchored.flags & anchor_bottom) ? dy : 0;
        ::OffsetRect(&rect, move_x, move_y);
    } else {
        flags |= SWP_NOMOVE;
    }
    if (anchored.flags & anchor_widen)
        rect.right += dx;
    if (anchored.flags & anchor_heighten)
        rect.bottom += dy;
    if (!(anchored.flags & (anchor_widen | anchor_heighten)))
        flags |= SWP_NOSIZE;
    return {rect, flags};
}

bool has_negative_size(const anchored_position& position) {
    return position.rect.right < position.rect.left || position.rect.bottom < position.rect.top;
}

} // namespace

INT_PTR CALLBACK basic_dialog::dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        return handle_message(dialog, message, wparam, lparam);
    } catch (...) {
        report_callback_failure();
        return FALSE;
    }
}

INT_PTR basic_dialog::handle_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        if (auto* bound = reinterpret_cast<basic_dialog*>(lparam))
            bound->hwnd_ = dialog;
    }
    // Messages before WM_INITDIALOG (WM_SETFONT) and after WM_DESTROY have no object.
    auto* self = reinterpret_cast<basic_dialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self)
        return FALSE;

    switch (message) {
    case WM_INITDIALOG: {
        RECT client{};
        ::GetClientRect(dialog, &client);
        self->client_width_ = client.right - client.left;
        self->client_height_ = client.bottom - client.top;
        self->on_init();
        // TRUE: the system gives the default control the focus.
        return vd::set_dlg_msg_result(dialog, WM_INITDIALOG, 1);
    }
    case WM_DESTROY:
        // The window goes whatever on_destroy does: the object is unbound in any case, so that
        // it never holds a dead window.
        try {
            self->on_destroy();
        } catch (...) {
            report_callback_failure();
        }
        self->hwnd_ = nullptr;
        ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
        return vd::set_dlg_msg_result(dialog, WM_DESTROY, 0);
    case WM_SIZE:
        // A minimised window's client area is empty: laid out for it, the controls would
        // shrink below nothing. They keep their places for the restore, which brings back
        // the size they were laid out for.
        if (wparam != SIZE_MINIMIZED)
            self->on_size(LOWORD(lparam), HIWORD(lparam));
        return vd::set_dlg_msg_result(dialog, WM_SIZE, 0);
    case WM_GETMINMAXINFO:
        self->on_min_max_info(reinterpret_cast<MINMAXINFO*>(lparam));
        return vd::set_dlg_msg_result(dialog, WM_GETMINMAXINFO, 0);
    case WM_COMMAND:
        if (!self->on_command(LOWORD(wparam), HIWORD(wparam)))
            return FALSE;
        return vd::set_dlg_msg_result(dialog, WM_COMMAND, 0);
    case WM_SYSCOMMAND:
        // The system uses the low four bits of a system command itself.
        if (!self->on_syscommand(static_cast<std::uint32_t>(wparam & 0xFFF0)))
            return FALSE;
        return vd::set_dlg_msg_result(dialog, WM_SYSCOMMAND, 0);
    default:
        return FALSE;
    }
}

BOOL basic_dialog::layout_anchored(std::uint32_t width, std::uint32_t height,
                                   std::span<const anchored_control> controls) {
    const int dx = static_cast<int>(width) - client_width_;
    const int dy = static_cast<int>(height) - client_height_;
    // A negative size would be clipped to nothing, and the next layout would grow the control
    // from there: it would never again stand where its anchors put it.
    for (const anchored_control& anchored : controls) {
        if (::IsWindow(anchored.control) && has_negative_size(position_of(anchored, dx, dy)))
            return TRUE;
    }
    client_width_ = static_cast<std::int32_t>(width);
    client_height_ = static_cast<std::int32_t>(height);

    // A control missing from its template (null) would cost the whole batch; it is passed over.
    HDWP batch = ::BeginDeferWindowPos(static_cast<int>(controls.size()));
    for (const anchored_control& anchored : controls) {
        if (!batch)
            break;
        if (!::IsWindow(anchored.control))
            continue;
        const auto [rect, flags] = position_of(anchored, dx, dy);
        batch = ::DeferWindowPos(batch, anchored.control, nullptr, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, flags);
    }
    if (batch)
        return ::EndDeferWindowPos(batch);

    // A failed deferral frees the whole batch and nothing of it has moved yet, so each control
    // still stands where the positions are computed from.
    for (const anchored_control& anchored : controls) {
        if (!::IsWindow(anchored.control))
            continue;
        const auto [rect, flags] = position_of(anchored, dx, dy);
        ::SetWindowPos(anchored.control, nullptr, rect.left, rect.top, rect.right - rect.left,
                       rect.bottom - rect.top, flags);
    }
    return FALSE;
}

BOOL set_window_text(HWND window, const std::wstring& text) {
    return ::SetWindowTextW(window, text.c_str());
}
