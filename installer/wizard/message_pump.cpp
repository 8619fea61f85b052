#include "installer/wizard/message_pump.hpp"

namespace {

HWND& main_dialog_slot() noexcept {
    static HWND window = nullptr;
    return window;
}

} // namespace

HWND main_dialog_window() noexcept {
    return main_dialog_slot();
}

void set_main_dialog_window(HWND window) noexcept {
    main_dialog_slot() = window;
}

void pump_messages() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Taking WM_QUIT out of the queue would swallow the request; the modal loop that
            // runs the wizard has to see it.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        const HWND main = main_dialog_window();
        if (main && ::IsDialogMessageW(main, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void wait_one_second_answering_messages() {
    constexpr DWORD second = 1000;
    const DWORD start = ::GetTickCount();
    for (DWORD passed = 0; passed < second; passed = ::GetTickCount() - start) {
        MSG quit{};
        // A WM_QUIT stays queued for the loop that owns it, and would wake every wait at once.
        if (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
            ::Sleep(second - passed);
            return;
        }
        ::MsgWaitForMultipleObjectsEx(0, nullptr, second - passed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        pump_messages();
    }
}
