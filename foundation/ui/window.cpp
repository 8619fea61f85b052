#include "foundation/ui/window.hpp"

#include <algorithm>
#include <iterator>

namespace vd {

namespace {

LONG width_of(const RECT& rect) {
    return rect.right - rect.left;
}

LONG height_of(const RECT& rect) {
    return rect.bottom - rect.top;
}

// The monitor's rectangles; false when the system cannot tell them.
bool monitor_info(HMONITOR monitor, MONITORINFO& info) {
    info = MONITORINFO{};
    info.cbSize = sizeof info;
    return monitor && ::GetMonitorInfoW(monitor, &info);
}

} // namespace

namespace details {

BOOL CALLBACK find_captioned_root(HWND window, LPARAM data) {
    const HWND root = ::GetAncestor(window, GA_ROOTOWNER);
    if (root && (::GetWindowLongW(root, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) {
        *reinterpret_cast<HWND*>(data) = root;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK add_visible_area(HMONITOR, HDC, RECT* monitor_rect, LPARAM data) {
    auto& visible = *reinterpret_cast<visible_area*>(data);
    RECT shared;
    if (monitor_rect && ::IntersectRect(&shared, monitor_rect, &visible.rect))
        visible.area += static_cast<std::uint32_t>(width_of(shared)) * static_cast<std::uint32_t>(height_of(shared));
    return TRUE;
}

void pull_corner_onto(RECT& rect, const RECT& monitor) {
    if (::PtInRect(&monitor, POINT{rect.left, rect.top}))
        return;
    LONG dx = 0;
    if (rect.left < monitor.left)
        dx = monitor.left - rect.left;
    else if (rect.left > monitor.right)
        dx = monitor.right - rect.left;
    LONG dy = 0;
    if (rect.top < monitor.top)
        dy = monitor.top - rect.top;
    else if (rect.top > monitor.bottom)
        dy = monitor.bottom - rect.top;
    ::OffsetRect(&rect, dx, dy);
}

bool shows_enough(const RECT& rect, std::uint32_t visible, std::uint32_t percent) {
    const auto width = static_cast<std::uint32_t>(width_of(rect));
    const auto height = static_cast<std::uint32_t>(height_of(rect));
    return visible >= height * width * percent / 100;
}

void shift_into(RECT& rect, const RECT& work) {
    if (rect.right > work.right)
        ::OffsetRect(&rect, work.right - rect.right, 0);
    if (rect.left < work.left)
        ::OffsetRect(&rect, work.left - rect.left, 0);
    if (rect.bottom > work.bottom)
        ::OffsetRect(&rect, 0, work.bottom - rect.bottom);
    if (rect.top < work.top)
        ::OffsetRect(&rect, 0, work.top - rect.top);
}

UINT set_window_rect_flags(const RECT& current, const RECT& wanted) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    if (wanted.left == current.left && wanted.top == current.top)
        flags |= SWP_NOMOVE;
    // Bits copied from the old client area would show stale content once the size changes.
    if (width_of(wanted) != width_of(current))
        flags |= SWP_NOCOPYBITS;
    else
        flags |= height_of(wanted) == height_of(current) ? SWP_NOSIZE : SWP_NOCOPYBITS;
    return flags;
}

} // namespace details

HWND active_window() {
    HWND window = ::GetActiveWindow();
    if (window)
        window = ::GetAncestor(window, GA_ROOTOWNER);
    if (!window)
        ::EnumThreadWindows(::GetCurrentThreadId(), details::find_captioned_root, reinterpret_cast<LPARAM>(&window));
    return window ? ::GetLastActivePopup(window) : nullptr;
}

bool is_edit_window(HWND window) {
    wchar_t name[5] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return ::lstrcmpiW(name, L"Edit") == 0;
}

std::wstring window_text(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

RECT window_rect_in_parent(HWND window) {
    RECT rect{};
    if (!::GetWindowRect(window, &rect))
        return RECT{};
    if (::GetWindowLongW(window, GWL_STYLE) & WS_CHILD)
        ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void set_window_rect(HWND window, RECT rect) {
    const RECT wanted{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
                      std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
    const RECT current = window_rect_in_parent(window);
    ::SetWindowPos(window, nullptr, wanted.left, wanted.top, width_of(wanted), height_of(wanted),
                   details::set_window_rect_flags(current, wanted));
}

void fit_rect_to_monitors(RECT& rect, std::uint32_t percent) {
    MONITORINFO info;
    if (!monitor_info(::MonitorFromPoint(POINT{rect.left, rect.top}, MONITOR_DEFAULTTONEAREST), info))
        return;
    details::pull_corner_onto(rect, info.rcMonitor);

    details::visible_area visible{rect};
    if (!::EnumDisplayMonitors(nullptr, &rect, details::add_visible_area, reinterpret_cast<LPARAM>(&visible)))
        return;
    if (details::shows_enough(rect, visible.area, percent))
        return;

    if (!monitor_info(::MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), info))
        return;
    details::shift_into(rect, info.rcWork);
}

} // namespace vd
