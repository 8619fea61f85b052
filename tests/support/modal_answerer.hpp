// Answers the next modal windows of this thread (message boxes or the shell's folder dialog),
// each with one of its buttons, from a timer that the window's own message loop runs, and keeps
// what each window showed. One answerer at a time per thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    HWND edit = nullptr;
};

struct modal_step {
    int button;
    std::wstring typed = {}; // when not empty, put into the visible edit box before the button
};

class modal_answerer {
public:
    explicit modal_answerer(int button) : modal_answerer(std::vector<modal_step>{{button}}) {}
    // One step for each modal window in turn, the same window again included.
    explicit modal_answerer(std::vector<modal_step> steps)
        : steps_(std::move(steps)), timer_(::SetTimer(nullptr, 0, 20, on_timer)) {
        active() = this;
    }
    ~modal_answerer() { active() = nullptr; }
    modal_answerer(const modal_answerer&) = delete;
    modal_answerer& operator=(const modal_answerer&) = delete;

    const modal_visit& visit() const noexcept { return visits_.empty() ? none_ : visits_.front(); }
    const std::vector<modal_visit>& visits() const noexcept { return visits_; }

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
            visit.edit = child;
        }
        return TRUE;
    }

    static void CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {
        modal_answerer* self = active();
        if (!self)
            return;
        if (++self->ticks_ > 250) {
            // Still open five seconds after its answer: ended, so that the test fails instead of waiting.
            if (!self->visits_.empty() && ::IsWindow(self->visits_.back().window))
                ::EndDialog(self->visits_.back().window, 0);
            return;
        }
        if (self->visits_.size() >= self->steps_.size())
            return;
        modal_visit visit;
        ::EnumThreadWindows(::GetCurrentThreadId(), find_modal, reinterpret_cast<LPARAM>(&visit.window));
        if (!visit.window)
            return;
        visit.owner = ::GetWindow(visit.window, GW_OWNER);
        // A message box's text is the static control 0xFFFF, on Windows as on Wine.
        visit.text = vd::window_text(::GetDlgItem(visit.window, 0xFFFF));
        ::EnumChildWindows(visit.window, read_child, reinterpret_cast<LPARAM>(&visit));
        const modal_step step = self->steps_[self->visits_.size()];
        self->visits_.push_back(visit);
        self->ticks_ = 0;
        if (!step.typed.empty())
            ::SetWindowTextW(visit.edit, step.typed.c_str());
        // A box that the click opens is answered from the box's own loop before the click returns.
        ::SendMessageW(::GetDlgItem(visit.window, step.button), BM_CLICK, 0, 0);
    }

    std::vector<modal_step> steps_;
    int ticks_ = 0;
    std::vector<modal_visit> visits_;
    static inline const modal_visit none_{};
    unique_thread_timer timer_;
};

} // namespace testing_support
