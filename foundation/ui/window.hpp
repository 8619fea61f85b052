// Small window utilities: the owner for message boxes and shell dialogs, a window's class and
// text, moving a window in its parent's coordinates, and keeping a rectangle on the screens.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <windows.h>

namespace vd {

// This thread's active top-level window, or its last active pop-up; null when the thread has
// no captioned window.
HWND active_window();

// True for the system's edit control (and any class whose name begins with "Edit").
bool is_edit_window(HWND window);

// The window's text; empty when it has none or cannot be read.
std::wstring window_text(HWND window);

// The window's rectangle: for a child window in its parent's client coordinates, otherwise on
// the screen. A zero rectangle when it cannot be read.
RECT window_rect_in_parent(HWND window);

// Moves and sizes the window to a rectangle in the coordinates window_rect_in_parent gives,
// asking for no more repainting than the change needs.
void set_window_rect(HWND window, RECT rect);

// Moves the rectangle so that at least `percent` of it shows on the monitors, keeping it within
// one monitor's work area when it has to move. The callers pass 50.
void fit_rect_to_monitors(RECT& rect, std::uint32_t percent);

namespace details {

// One display: its whole rectangle and the part left free of task bars.
struct monitor_area {
    RECT monitor;
    RECT work;
};

// fit_rect_to_monitors on a given set of displays, the system asked for nothing.
void fit_rect_to_monitors(RECT& rect, std::uint32_t percent, std::span<const monitor_area> monitors);

// The flags set_window_rect passes to SetWindowPos to go from `current` to `wanted` (corners in
// order).
UINT set_window_rect_flags(const RECT& current, const RECT& wanted);

// For EnumThreadWindows: stores the first captioned root owner in *(HWND*)data.
BOOL CALLBACK find_captioned_root(HWND window, LPARAM data);

// For EnumDisplayMonitors: appends the monitor's areas to *(std::vector<monitor_area>*)data.
BOOL CALLBACK add_visible_area(HMONITOR monitor, HDC dc, RECT* clip, LPARAM data);

} // namespace details

} // namespace vd
