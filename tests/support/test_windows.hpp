// Holders for the windows and thread timers that GUI tests create, so that a failing ASSERT
// leaves no window behind.
#pragma once

#include <windows.h>

#include "foundation/system/unique_any.hpp"

namespace testing_support {

struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DestroyWindow(value); }
};
using unique_window = vd::unique_any<window_traits>;

// A timer of the thread (no window): its procedure runs from whatever message loop runs,
// a modal dialog's included.
struct thread_timer_traits {
    using type = UINT_PTR;
    static type invalid() noexcept { return 0; }
    static void close(type value) noexcept { ::KillTimer(nullptr, value); }
};
using unique_thread_timer = vd::unique_any<thread_timer_traits>;

} // namespace testing_support
