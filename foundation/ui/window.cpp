#include "foundation/ui/window.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <new>
#include <vector>

namespace vd {

namespace {

LONG width_of(const RECT& rect) {
    return rect.right - rect.left;
}

LONG height_of(const RECT& rect) {
    return rect.bottom - rect.top;
}

// How far apart two rectangles lie, squared; 0 when they touch or overlap.
long long distance_squared(const RECT& first, const RECT& second) {
    const long long dx = std::max({0L, second.left - first.right, first.left - second.right});
    const long long dy = std::max({0L, second.top - first.bottom, first.top - second.bottom});
    return dx * dx + dy * dy;
}

// The display the system's MONITOR_DEFAULTTONEAREST would choose: the one sharing the largest
// area with the rectangle, or, when none does, the closest.
const details::monitor_area& nearest_monitor(const RECT& rect, std::span<const details::monitor_area> monitors) {
    const details::monitor_area* best = &monitors.front();
    long long best_area = 0;
    long long best_distance = std::numeric_limits<long long>::max();
    for (const auto& candidate : monitors) {
        RECT shared;
        if (::IntersectRect(&shared, &candidate.monitor, &rect)) {
            const long long area = static_cast<long long>(width_of(shared)) * height_of(shared);
            if (area > best_area) {
                best_area = area;
                best = &candidate;
            }
        } else if (best_area == 0) {
            const long long distance = distance_squared(candidate.monitor, rect);
            if (distance < best_distance) {
                best_distance = distance;
                best = &candidate;
            }
        }
    }
    return *best;
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

BOOL CALLBACK add_visible_area(HMONITOR monitor, HDC, RECT*, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(monitor, &info))
        return TRUE;
    try {
        reinterpret_cast<std::vector<monitor_area>*>(data)->push_back({info.rcMonitor, info.rcWork});
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

void fit_rect_to_monitors(RECT& rect, std::uint32_t percent, std::span<const monitor_area> monitors) {
    if (monitors.empty())
        return;

    // A top-left corner off every display is first brought to the edge of the nearest one.
    const RECT corner{rect.left, rect.top, rect.left + 1, rect.top + 1};
    const RECT& home = nearest_monitor(corner, monitors).monitor;
    if (!::PtInRect(&home, POINT{rect.left, rect.top})) {
        LONG dx = 0;
        if (rect.left < home.left)
            dx = home.left - rect.left;
        else if (rect.left > home.right)
            dx = home.right - rect.left;
        LONG dy = 0;
        if (rect.top < home.top)
            dy = home.top - rect.top;
        else if (rect.top > home.bottom)
            dy = home.bottom - rect.top;
        ::OffsetRect(&rect, dx, dy);
    }

    std::uint32_t visible = 0;
    for (const auto& display : monitors) {
        RECT shared;
        if (::IntersectRect(&shared, &display.monitor, &rect))
            visible += static_cast<std::uint32_t>(width_of(shared)) * static_cast<std::uint32_t>(height_of(shared));
    }
    const auto width = static_cast<std::uint32_t>(width_of(rect));
    const auto height = static_cast<std::uint32_t>(height_of(rect));
    if (visible >= height * width * percent / 100)
        return;

    // Right and bottom first, so that a rectangle larger than the work area keeps its
    // left and top edges (the caption) on it.
    const RECT& work = nearest_monitor(rect, monitors).work;
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
    std::vector<details::monitor_area> monitors;
    if (!::EnumDisplayMonitors(nullptr, nullptr, details::add_visible_area, reinterpret_cast<LPARAM>(&monitors)))
        return;
    details::fit_rect_to_monitors(rect, percent, monitors);
}

} // namespace vd
