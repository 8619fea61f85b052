// Answers the next modal window of this thread (a message box or the shell's folder dialog)
// with one of its buttons, from a timer that the window's own message loop runs, and keeps what
// the window showed. One answerer at a time per thread.
#pragma once

#include <optional>
#include <string>

#include <windows.h>
#include <commctrl.h>

#include "foundation/ui/window.hpp"
#include "support/test_windows.hpp"

namespace testing_support {

struct modal_visit {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring text;                     // a message box's text
    std::optional<std::wstring> edit_text; // a folder dialog's visible edit box
    std::wstring tree_selection;           // the name of the item selected in its folder tree
};

class modal_answerer {
public:
    explicit modal_answerer(int button) : button_(button), timer_(::SetTimer(nullptr, 0, 20, on_timer)) {
        active() = this;
    }
    ~modal_answerer() { active() = nullptr; }
    modal_answerer(const modal_answerer&) = delete;
    modal_answerer& operator=(const modal_answerer&) = delete;

    const modal_visit& visit() const noexcept { return visit_; }

private:
    static modal_answerer*& active() {
        static thread_local modal_answerer* answerer = nullptr;
        return answerer;
    }

    static std::wstring class_of(HWND window) {
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        return name;
    }

    static BOOL CALLBACK find_modal(HWND window, LPARAM data) {
        if (class_of(window) != L"#32770" || !::IsWindowVisible(window) || !::IsWindowEnabled(window))
            return TRUE;
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }

    static BOOL CALLBACK read_child(HWND child, LPARAM data) {
        auto& visit = *reinterpret_cast<modal_visit*>(data);
        if (class_of(child) == WC_TREEVIEWW) {
            wchar_t text[MAX_PATH] = {};
            TVITEMW item{};
            item.mask = TVIF_TEXT;
            item.hItem = TreeView_GetSelection(child);
            item.pszText = text;
            item.cchTextMax = MAX_PATH;
            if (item.hItem && TreeView_GetItem(child, &item))
                visit.tree_selection = text;
        } else if (vd::is_edit_window(child) && ::IsWindowVisible(child) && !visit.edit_text) {
            visit.edit_text = vd::window_text(child);
        }
        return TRUE;
    }

    static void CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {
        modal_answerer* self = active();
        if (!self)
            return;
        modal_visit& visit = self->visit_;
        if (++self->ticks_ > 250) {
            // Not closed in five seconds: ended, so that the test fails instead of waiting.
            if (::IsWindow(visit.window))
                ::EndDialog(visit.window, 0);
            return;
        }
        if (visit.window)
            return;
        ::EnumThreadWindows(::GetCurrentThreadId(), find_modal, reinterpret_cast<LPARAM>(&visit.window));
        if (!visit.window)
            return;
        visit.owner = ::GetWindow(visit.window, GW_OWNER);
        // A message box's text is the static control 0xFFFF, on Windows as on Wine.
        visit.text = vd::window_text(::GetDlgItem(visit.window, 0xFFFF));
        ::EnumChildWindows(visit.window, read_child, reinterpret_cast<LPARAM>(&visit));
        ::SendMessageW(::GetDlgItem(visit.window, self->button_), BM_CLICK, 0, 0);
    }

    int button_;
    int ticks_ = 0;
    modal_visit visit_;
    unique_thread_timer timer_;
};

} // namespace testing_support
