// Putting a message in front of the user: message boxes, the text of an error code, and task
// dialogs. Each is owned by this thread's active window (or what the application hooks say),
// carries the application caption unless given one, and reads right to left where its owner
// or, without one, the UI language does.
#pragma once

#include <cstdint>

#include <windows.h>
#include <commctrl.h>

#include "foundation/language/resource_text.hpp"

namespace vd {

// MessageBoxW with the library's rules; returns the button pressed, 0 when the box could not be
// shown. Text and caption are texts or string-table ids; a missing or empty caption becomes the
// application caption. A box without an icon gets the one its buttons suggest: a warning for
// OK and OK/Cancel, a question for Yes/No and Yes/No/Cancel. In quiet mode a box of the OK
// type goes to the debug output instead and answers IDOK.
int message_box(const string_or_id& text, const string_or_id& caption = {}, std::uint32_t flags = MB_OK);

// The error code's text (error_text) in a warning box with the application caption.
void show_error(std::uint32_t code);

// TaskDialogIndirect on a copy of config, filled with the owner, the program's module and the
// application caption where config leaves them null, and given the application icon. The
// caller learns the answer through its own callback. Fails with ERROR_PROC_NOT_FOUND where the
// common controls are older than version 6.
HRESULT task_dialog(const TASKDIALOGCONFIG& config);

// Whether a box owned by owner is written right to left: as the owner is laid out, or, without
// an owner, as the current UI language is written.
bool box_reads_right_to_left(HWND owner);

namespace details {

// Lives as long as one box: finds its owner, asks the quiet-mode hook unless skip_quiet, and
// reports the modal state to the application hooks.
class modal_scope {
public:
    explicit modal_scope(bool skip_quiet);
    ~modal_scope();
    modal_scope(const modal_scope&) = delete;
    modal_scope& operator=(const modal_scope&) = delete;

    HWND owner() const noexcept { return owner_; }
    bool quiet() const noexcept { return quiet_; }

private:
    HWND window_to_reenable_ = nullptr;
    HWND owner_ = nullptr;
    bool quiet_ = false;
};

// The MB_ flags message_box hands to MessageBoxW for the flags it was given.
std::uint32_t message_box_flags(std::uint32_t flags, bool right_to_left) noexcept;

// A caption as shown: a string-table id loaded, a null or empty one the application caption.
std::wstring resolve_caption(const string_or_id& caption);

// Gives the dialog the application icon, then passes every notification on to the callback of
// the TASKDIALOGCONFIG that data points to.
HRESULT CALLBACK task_dialog_callback(HWND dialog, UINT notification, WPARAM wparam, LPARAM lparam,
                                      LONG_PTR data) noexcept;

} // namespace details

} // namespace vd
