// Drives the real installer from another process, as a user would: it starts the program,
// finds the wizard's window and its pages by control id, and clicks, chooses and types through
// messages to those controls. Whatever does not happen in time is thrown as std::runtime_error
// with what was awaited, so that a test fails with that message instead of hanging.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>
#include <psapi.h>

#include "foundation/system/unique_any.hpp"

namespace e2e {

using namespace std::chrono_literals;

// The main window's buttons.
inline constexpr int next_button = IDOK;  // Next, and Install on the install page
inline constexpr int back_button = 3;
inline constexpr int cancel_button = IDCANCEL;  // Cancel, and Exit once installed

// Controls of the pages.
inline constexpr int hint_label = 1003;
inline constexpr int language_box = 1023;
inline constexpr int state_text = 1016;
inline constexpr int quick_choice = 1018;
inline constexpr int advanced_choice = 1019;
inline constexpr int folder_edit = 1007;
inline constexpr int start_menu_choice = 1011;
inline constexpr int desktop_choice = 1010;
inline constexpr int status_log = 1015;
inline constexpr int closing_text = 1016;

// The system-menu command of the About box.
inline constexpr WPARAM about_command = 16;

enum class wizard_page { start, mode, options, install, end };

// Asks installer_process to start the program without waiting for its wizard.
struct no_wait_t {};
inline constexpr no_wait_t no_wait{};

// A path given by the build (a Unix path under Wine's Z: drive) or already in Windows form.
std::filesystem::path windows_path(std::string_view path);

// A control's text, read through WM_GETTEXT, which the system carries across processes (an
// edit control keeps its text where GetWindowTextW of another process does not look).
std::wstring text_of(HWND window);
bool is_enabled(HWND window);
bool is_checked(HWND button);

// Polls the condition until it holds; false when it did not within the timeout.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

class installer_process {
public:
    // Starts the program and waits for its wizard; in the test's current folder unless told.
    explicit installer_process(const std::filesystem::path& setup, const std::filesystem::path& current_folder = {});
    // Starts the program and returns at once: for a run that may show a box instead of its
    // wizard, which find_wizard then looks for. With DEBUG_ONLY_THIS_PROCESS among the flags,
    // the calling thread is its debugger and must take its debug events from then on.
    installer_process(const std::filesystem::path& setup, no_wait_t, const std::filesystem::path& current_folder = {},
                      DWORD creation_flags = 0);
    // A program the test leaves running is ended.
    ~installer_process();
    installer_process(const installer_process&) = delete;
    installer_process& operator=(const installer_process&) = delete;

    HWND main_window() const noexcept { return main_; }
    HWND button(int id) const;
    HWND page(wizard_page which) const;
    HWND control(wizard_page which, int id) const;
    // The page that shows; throws when none or several do.
    wizard_page shown_page() const;

    // Clicks and returns once the wizard has handled the click.
    void click(HWND button) const;
    // Clicks without waiting: for a click that starts long work or may ask a question.
    void post_click(HWND button) const;
    // Selects the list position in a combo box (plain or ComboBoxEx32) and tells its page, as
    // the box tells it when the user picks an item.
    void choose(HWND box, int position) const;
    // Replaces an edit control's text; the edit tells its page of the change itself.
    void type(HWND edit, std::wstring_view text) const;

    // Presses Install and waits until the installation has ended: the log holds the
    // installation's own lines and Next is enabled again. What the user does meanwhile runs
    // once the installation has begun (the wizard has disabled Next).
    void install(const std::function<void()>& meanwhile = {}) const;

    // Where every control of the wizard and of its pages stands, in its parent's client area.
    std::vector<RECT> layout() const;
    // Minimises or restores the wizard as the system or another program may (the template has
    // no minimise box), and waits until it is done.
    void minimise(bool minimised) const;

    // A visible top-level dialog of the program other than the wizard (a question, the About
    // box), or null.
    HWND other_dialog() const;
    // The process's exit code once it has ended; nothing when it does not end in time.
    std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

    // Whether the wizard shows now; once it does, it is the main window.
    bool find_wizard();
    // A visible message box of the program, or null.
    HWND message_box() const;
    bool has_ended() const;
    // The process's working set now and its peak so far.
    PROCESS_MEMORY_COUNTERS memory() const;

private:
    vd::unique_handle process_;
    DWORD id_ = 0;
    HWND main_ = nullptr;
};

// A message box's text, and its answer as the user gives it: the button's command, posted.
std::wstring box_text(HWND box);
bool has_button(HWND box, int id);
void answer(HWND box, int id);

// Throws std::runtime_error with the text, UTF-8.
[[noreturn]] void fail(std::wstring_view text);

} // namespace e2e
