#include "e2e/wizard_driver.hpp"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/text/conversions.hpp"
#include "foundation/ui/window.hpp"

namespace e2e {

namespace {

constexpr auto poll = 50ms;
constexpr int side_panel = 1005;
// The text of a message box, the same id in Windows' and Wine's.
constexpr int message_text = 0xFFFF;
// A fresh prefix starts its first program slowly.
constexpr auto wizard_timeout = 90s;
constexpr auto installation_timeout = 180s;
// How long a message to the wizard may wait; the wizard lets no message through while the
// installed program registers itself.
constexpr UINT message_timeout_ms = 20000;

std::wstring class_of(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

bool is_dialog(HWND window) {
    return class_of(window) == L"#32770";
}

struct process_windows {
    DWORD process;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK collect_dialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<process_windows*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == search->process && is_dialog(window) && ::IsWindowVisible(window))
        search->dialogs.push_back(window);
    return TRUE;
}

BOOL CALLBACK add_rect(HWND control, LPARAM rects) {
    reinterpret_cast<std::vector<RECT>*>(rects)->push_back(vd::window_rect_in_parent(control));
    return TRUE;
}

std::vector<HWND> visible_dialogs_of(DWORD process) {
    process_windows search{process, {}};
    ::EnumWindows(collect_dialog, reinterpret_cast<LPARAM>(&search));
    return search.dialogs;
}

// The page holding a control that only it has; the end page is the one with a closing text
// and no language box.
bool is_page(HWND window, wizard_page which) {
    const auto has = [&](int id) { return ::GetDlgItem(window, id) != nullptr; };
    switch (which) {
    case wizard_page::start:
        return has(language_box);
    case wizard_page::mode:
        return has(advanced_choice);
    case wizard_page::options:
        return has(folder_edit);
    case wizard_page::install:
        return has(status_log);
    case wizard_page::end:
        return has(closing_text) && !has(language_box);
    }
    return false;
}

std::vector<HWND> pages_of(HWND main) {
    std::vector<HWND> pages;
    for (HWND child = ::GetWindow(main, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (is_dialog(child))
            pages.push_back(child);
    }
    return pages;
}

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, message_timeout_ms, &result))
        fail(L"the wizard did not answer message " + std::to_wstring(message) + L" in time");
    return static_cast<LRESULT>(result);
}

} // namespace

void fail(std::wstring_view text) {
    throw std::runtime_error(vd::wide_to_utf8(text));
}

std::filesystem::path windows_path(std::string_view path) {
    std::wstring text = vd::utf8_to_wide(path);
    if (text.starts_with(L'/')) {
        std::ranges::replace(text, L'/', L'\\');
        text = L"Z:" + text;
    }
    return text;
}

std::wstring text_of(HWND window) {
    if (!window)
        return {};
    const auto length = send(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, length)));
    return text;
}

bool is_enabled(HWND window) {
    return window && ::IsWindowEnabled(window);
}

bool is_checked(HWND button) {
    return send(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(poll);
    }
}

installer_process::installer_process(const std::filesystem::path& setup, no_wait_t,
                                     const std::filesystem::path& current_folder, DWORD creation_flags) {
    std::wstring command = L"\"" + setup.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, creation_flags, nullptr,
                          current_folder.empty() ? nullptr : current_folder.c_str(), &startup, &started))
        fail(L"cannot start " + setup.wstring() + L": error " + std::to_wstring(::GetLastError()));
    process_.reset(started.hProcess);
    const vd::unique_handle thread(started.hThread);
    id_ = started.dwProcessId;
}

installer_process::installer_process(const std::filesystem::path& setup, const std::filesystem::path& current_folder)
    : installer_process(setup, no_wait, current_folder) {
    // The wizard is the dialog with the side panel; the pages exist once it shows.
    const bool shown = wait_until([&] { return find_wizard() || has_ended(); }, wizard_timeout);
    if (!main_) {
        if (const HWND box = other_dialog())
            fail(L"the installer showed a box instead of its wizard: " + text_of(::GetDlgItem(box, 0xFFFF)));
        fail(shown ? L"the installer ended without showing its wizard" : L"the installer's wizard did not show");
    }
}

installer_process::~installer_process() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 10000);
    }
}

HWND installer_process::button(int id) const {
    const HWND found = ::GetDlgItem(main_, id);
    if (!found)
        fail(L"the wizard has no button " + std::to_wstring(id));
    return found;
}

HWND installer_process::page(wizard_page which) const {
    for (HWND candidate : pages_of(main_)) {
        if (is_page(candidate, which))
            return candidate;
    }
    fail(L"the wizard has no page " + std::to_wstring(static_cast<int>(which)));
}

HWND installer_process::control(wizard_page which, int id) const {
    const HWND found = ::GetDlgItem(page(which), id);
    if (!found)
        fail(L"page " + std::to_wstring(static_cast<int>(which)) + L" has no control " + std::to_wstring(id));
    return found;
}

wizard_page installer_process::shown_page() const {
    std::vector<wizard_page> shown;
    for (auto which : {wizard_page::start, wizard_page::mode, wizard_page::options, wizard_page::install, wizard_page::end}) {
        if (::IsWindowVisible(page(which)))
            shown.push_back(which);
    }
    if (shown.size() != 1)
        fail(std::to_wstring(shown.size()) + L" pages show at once");
    return shown.front();
}

void installer_process::click(HWND button) const {
    send(button, BM_CLICK, 0, 0);
}

void installer_process::post_click(HWND button) const {
    if (!::PostMessageW(button, BM_CLICK, 0, 0))
        fail(L"cannot post a click: error " + std::to_wstring(::GetLastError()));
}

void installer_process::choose(HWND box, int position) const {
    if (send(box, CB_SETCURSEL, static_cast<WPARAM>(position), 0) != position)
        fail(L"the list has no position " + std::to_wstring(position));
    send(::GetParent(box), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(box), CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

void installer_process::type(HWND edit, std::wstring_view text) const {
    const std::wstring terminated(text);
    send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(terminated.c_str()));
}

void installer_process::install(const std::function<void()>& meanwhile) const {
    const HWND next = button(next_button);
    const HWND log = control(wizard_page::install, status_log);
    // The installation opens its part of the log with this line; the summary has none.
    const std::wstring separator(45, L'\u2500');
    post_click(next);
    if (meanwhile) {
        if (!wait_until([&] { return !is_enabled(next); }, installation_timeout))
            fail(L"the installation did not begin in time");
        meanwhile();
    }
    // Next is disabled from the click to the end: once the log holds the installation's lines,
    // an enabled Next means that it has ended. In this order only: the click may be taken
    // between two readings.
    if (!wait_until([&] { return text_of(log).find(separator) != std::wstring::npos && is_enabled(next); },
                    installation_timeout))
        fail(L"the installation did not end in time; its log:\r\n" + text_of(log));
}

std::vector<RECT> installer_process::layout() const {
    std::vector<RECT> rects;
    ::EnumChildWindows(main_, add_rect, reinterpret_cast<LPARAM>(&rects));
    return rects;
}

void installer_process::minimise(bool minimised) const {
    // Asynchronous: the wizard takes it between two files, and the test does not wait on a
    // window that does not take messages while a step of the installation waits.
    ::ShowWindowAsync(main_, minimised ? SW_MINIMIZE : SW_RESTORE);
    if (!wait_until([&] { return static_cast<bool>(::IsIconic(main_)) == minimised; }, installation_timeout))
        fail(minimised ? L"the wizard was not minimised" : L"the wizard was not restored");
}

HWND installer_process::other_dialog() const {
    for (HWND dialog : visible_dialogs_of(id_)) {
        if (dialog != main_)
            return dialog;
    }
    return nullptr;
}

std::optional<int> installer_process::wait_for_exit(std::chrono::milliseconds timeout) {
    if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
}

bool installer_process::find_wizard() {
    if (main_)
        return true;
    for (HWND dialog : visible_dialogs_of(id_)) {
        if (::GetDlgItem(dialog, side_panel) && pages_of(dialog).size() == 5) {
            main_ = dialog;
            return true;
        }
    }
    return false;
}

HWND installer_process::message_box() const {
    for (HWND dialog : visible_dialogs_of(id_)) {
        if (dialog != main_ && ::GetDlgItem(dialog, message_text))
            return dialog;
    }
    return nullptr;
}

bool installer_process::has_ended() const {
    return ::WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT;
}

PROCESS_MEMORY_COUNTERS installer_process::memory() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process_.get(), &counters, sizeof counters))
        fail(L"cannot read the installer's memory: error " + std::to_wstring(::GetLastError()));
    return counters;
}

std::wstring box_text(HWND box) {
    return text_of(::GetDlgItem(box, message_text));
}

bool has_button(HWND box, int id) {
    const HWND button = ::GetDlgItem(box, id);
    return button && ::IsWindowVisible(button);
}

void answer(HWND box, int id) {
    if (!::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, id))))
        fail(L"cannot answer the box: error " + std::to_wstring(::GetLastError()));
}

} // namespace e2e
