// The program's say in how the library's boxes and dialogs present themselves: their caption,
// the application icon, the module that holds their resources, and how a modal box finds its
// owner and reports that it opens and closes. Every hook left unset keeps the library's
// default; this program sets only the icon.
#pragma once

#include <functional>
#include <string>

#include <windows.h>

namespace vd {

// The window that owns a modal box, and the window to enable again once the box has closed
// (null: none).
struct modal_owner {
    HWND owner = nullptr;
    HWND window_to_reenable = nullptr;
};

// Process-wide hooks, built empty on first use and read on the UI thread.
class app_context {
public:
    using caption_hook = std::function<std::wstring()>;
    using icon_hook = std::function<HICON()>;
    using module_hook = std::function<HMODULE()>;
    using quiet_hook = std::function<bool()>;
    using owner_hook = std::function<modal_owner()>;
    using modal_hook = std::function<void(bool closed)>;

    app_context() = delete;

    // By default this program's version text, or the program file's stem when it has none.
    static std::wstring caption();
    // Null until set_icon.
    static HICON icon();
    // By default this program.
    static HMODULE module_handle();
    // Whether message boxes of the OK type are written to the debug output instead of shown;
    // false by default.
    static bool quiet_mode();
    // By default this thread's active window (active_window), nothing to re-enable.
    static modal_owner owner_window();
    // Told false when a modal box opens and true when it has closed; nobody by default.
    static void notify_modal(bool closed);

    // Each setter replaces its hook; an empty hook brings the default back.
    static void set_caption(caption_hook hook);
    static void set_icon(icon_hook hook);
    static void set_module_handle(module_hook hook);
    static void set_quiet_mode(quiet_hook hook);
    static void set_owner_window(owner_hook hook);
    static void set_modal_notification(modal_hook hook);
};

} // namespace vd
