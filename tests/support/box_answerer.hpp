// Answers the message boxes of this thread, one button for each box in turn, from a timer that
// the box's own message loop runs, and keeps what each box showed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "foundation/ui/window.hpp"
#include "support/test_windows.hpp"

namespace testing_support {

struct shown_box {
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
};

class box_answerer {
public:
    // left_alone: a dialog of the test's own (a wizard, a window that owns the boxes), never
    // taken for a box.
    explicit box_answerer(std::vector<int> answers, HWND left_alone = nullptr)
        : answers_(std::move(answers)), left_alone_(left_alone), timer_(::SetTimer(nullptr, 0, 20, on_timer)) {
        active_ = this;
    }
    explicit box_answerer(int answer) : box_answerer(std::vector<int>{answer}) {}
    ~box_answerer() { active_ = nullptr; }
    box_answerer(const box_answerer&) = delete;
    box_answerer& operator=(const box_answerer&) = delete;

    // Every box answered so far, in order.
    std::vector<shown_box> boxes;
    // The first box, when there was one.
    std::optional<shown_box> box;

private:
    static BOOL CALLBACK find_box(HWND window, LPARAM data) {
        wchar_t class_name[8] = {};
        ::GetClassNameW(window, class_name, 8);
        if (std::wstring_view(class_name) != L"#32770" || !::IsWindowVisible(window) || window == active_->answered_ ||
            window == active_->left_alone_)
            return TRUE;
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }

    static void CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {
        if (!active_ || active_->boxes.size() >= active_->answers_.size())
            return;
        HWND found = nullptr;
        ::EnumThreadWindows(::GetCurrentThreadId(), find_box, reinterpret_cast<LPARAM>(&found));
        if (!found)
            return;
        // The message text is the static control 0xFFFF, on Windows as on Wine.
        active_->boxes.push_back({vd::window_text(found), vd::window_text(::GetDlgItem(found, 0xFFFF)), ::GetWindow(found, GW_OWNER)});
        if (!active_->box)
            active_->box = active_->boxes.front();
        active_->answered_ = found;
        ::PostMessageW(found, WM_COMMAND, MAKEWPARAM(active_->answers_[active_->boxes.size() - 1], BN_CLICKED), 0);
    }

    static inline thread_local box_answerer* active_ = nullptr;
    std::vector<int> answers_;
    HWND left_alone_;
    HWND answered_ = nullptr;
    unique_thread_timer timer_;
};

} // namespace testing_support
