// The base of every wizard window: one object per dialog, bound to its window from
// WM_INITDIALOG to WM_DESTROY, and one shared dialog procedure that turns the messages the
// wizard cares about into calls of the object's operations. The objects outlive their windows.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <windows.h>

// How a control follows the client area's right and bottom edges when its dialog is resized.
// No dialog combines anchor_right with anchor_widen: the right edge would move twice.
inline constexpr std::uint32_t anchor_right = 1;    // moves by the width's change
inline constexpr std::uint32_t anchor_bottom = 2;   // moves by the height's change
inline constexpr std::uint32_t anchor_widen = 4;    // right edge moves by the width's change
inline constexpr std::uint32_t anchor_heighten = 8; // bottom edge moves by the height's change

struct anchored_control {
    std::uint32_t flags;
    HWND control;
};

class basic_dialog {
public:
    virtual ~basic_dialog() = default;
    basic_dialog(const basic_dialog&) = delete;
    basic_dialog& operator=(const basic_dialog&) = delete;

    // Loads every control text in the current UI language; run again after a language change.
    virtual void set_texts() = 0;

    // Null until WM_INITDIALOG and again after WM_DESTROY.
    HWND hwnd() const noexcept { return hwnd_; }
    // The client area's size when last seen: at WM_INITDIALOG and at each anchored layout.
    std::int32_t client_width() const noexcept { return client_width_; }
    std::int32_t client_height() const noexcept { return client_height_; }

    // The DLGPROC of every wizard dialog; its creation parameter is the basic_dialog. Nothing
    // thrown by an operation leaves it: the failure is reported and the message is left to the
    // system's default handling (FALSE); a window being destroyed is unbound all the same.
    static INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

protected:
    basic_dialog() = default;

    virtual void on_init() {}
    virtual void on_destroy() {}
    // Lays out the controls for a new client size, by layout_anchored; not called for a
    // minimised window, whose controls keep the layout of its restored size.
    virtual void on_size(std::uint32_t width, std::uint32_t height) = 0;
    virtual void on_min_max_info(MINMAXINFO*) {}
    // True when handled. A command left unhandled gets the system's default handling.
    virtual bool on_command(std::uint16_t, std::uint16_t) { return false; }
    // The command arrives with its low four bits cleared, as the system asks (SC_MOVE, not the
    // 0xF012 of a keyboard move). True when handled.
    virtual bool on_syscommand(std::uint32_t) { return false; }

    // Moves and sizes the controls by their anchors for a new client size, all in one deferred
    // batch, and remembers the size. A control that is no window (null) is passed over; when
    // the system cannot keep the batch, each control is placed on its own and the result is
    // FALSE. Either way no control falls behind the remembered size. A size too small for a
    // control (it would get a negative width or height) is passed over as a whole: nothing
    // moves, and the next size is laid out from the last one taken.
    BOOL layout_anchored(std::uint32_t width, std::uint32_t height,
                         std::span<const anchored_control> controls);

private:
    static INT_PTR handle_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    std::int32_t client_width_ = 0;
    std::int32_t client_height_ = 0;
};

// SetWindowTextW with the string's characters.
BOOL set_window_text(HWND window, const std::wstring& text);
