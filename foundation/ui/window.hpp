// Small window utilities: the owner for message boxes and shell dialogs, a window's class and
// text, moving a window in its parent's coordinates, and keeping a rectangle on the screens.
#pragma once

#include <cstdint>
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

// Moves the rectangle so that at least `percent` of it shows on the monitors: a top-left corner
// off the screens goes to the nearest monitor's edge, and a rectangle that still shows too little
// goes into the work area of the monitor the system finds nearest to it. Left as far as it got
// when the system cannot tell its monitors. The callers pass 50.
void fit_rect_to_monitors(RECT& rect, std::uint32_t percent);

namespace details {

// The steps of fit_rect_to_monitors once the system has chosen the monitors.

// A top-left corner outside the monitor (right and bottom edges excluded) is moved onto the
// monitor's nearest edge, the rectangle with it.
void pull_corner_onto(RECT& rect, const RECT& monitor);

// Whether visible, the area of rect that shows on the monitors, is at least percent of rect's.
bool shows_enough(const RECT& rect, std::uint32_t visible, std::uint32_t percent);

// Moves rect into the work area: right and bottom first, so that a rectangle larger than the
// work area ends with its left and top edges (the caption) on it.
void shift_into(RECT& rect, const RECT& work);

// The flags set_window_rect passes to SetWindowPos to go from `current` to `wanted` (corners in
// order).
UINT set_window_rect_flags(const RECT& current, const RECT& wanted);

// For EnumThreadWindows: stores the first captioned root owner in *(HWND*)data.
BOOL CALLBACK find_captioned_root(HWND window, LPARAM data);

// What add_visible_area adds up: the area of rect on the monitors.
struct visible_area {
    RECT rect;
    std::uint32_t area = 0;
};

// For EnumDisplayMonitors: adds the part of the monitor that the rectangle covers to
// *(visible_area*)data.
BOOL CALLBACK add_visible_area(HMONITOR monitor, HDC dc, RECT* monitor_rect, LPARAM data);

} // namespace details

} // namespace vd
