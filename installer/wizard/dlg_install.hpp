// Page 3 of the wizard (template 135): the summary of the chosen options, which becomes the
// running log of the installation below it, the extraction's progress bar and a one-line hint.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <windows.h>

#include "installer/journal/uninstall_log.hpp"
#include "installer/payload/notification.hpp"
#include "installer/payload/payload_file.hpp"
#include "installer/wizard/basic_dialog.hpp"

// What a failed installation's rollback could not undo, for the log in the wizard's words: per
// entry not_put_back, then its path, and where a copy of the user's file was kept, kept_as and
// the copy's path. Each path has an indented line of its own, so that a user finds it whole
// however the log wraps, and can copy it from there.
std::wstring not_undone_report(const std::vector<uninstall_log::entry>& left, std::wstring_view not_put_back,
                               std::wstring_view kept_as);

class dlg_install final : public basic_dialog {
public:
    static dlg_install& instance();

    static constexpr int status_log_id = 1015;
    static constexpr int progress_bar_id = 1014;
    static constexpr int hint_id = 1003;
    static constexpr DWORD progress_pump_ms = 20;
    static constexpr DWORD status_flush_ms = 250;

    void set_texts() override;

    // Puts the summary of the current options in place of the log's whole text.
    void show_summary();

    // Appends text to the log. No line end is added: a step's text and its status word come in
    // two calls. The texts are gathered, and reach the control with flush_status: each insertion
    // costs the edit control more as its text grows, and a file's line would be two of them.
    void append_status(const std::wstring& text);

    // Puts the gathered texts at the very end of the log, whatever the user has selected, and
    // scrolls one line down. The installation calls it when a step ends, before a box or a
    // library's own window can stand over the page, at its end, and between the files at most
    // every status_flush_ms.
    void flush_status() noexcept;

    // The hint line below the bar (its whole text is replaced with set_window_text) and the
    // progress bar, ranged 0 to 100 and hidden until the installation shows it.
    HWND hint() const noexcept { return ::GetDlgItem(hwnd(), hint_id); }
    HWND progress_bar() const noexcept { return ::GetDlgItem(hwnd(), progress_bar_id); }

    // The installation itself, from the Install button: extraction, read-only programs,
    // shortcuts, DirectX, uninstall entry, registration run and journal. True when the product
    // is installed; false after a failure that was rolled back (or left nothing to undo).
    bool do_installation();

    // The extraction's callback: one handler for each notification, then the wizard's pending
    // messages and the wait cursor (after a progress notification only when the last pump is
    // older than progress_pump_ms). A handler's exception reaches the extraction, which
    // reports it as an error.
    notification::result on_notification(notification message);
    notification::result on_start();
    notification::result on_file_begins(const payload_file& record);
    notification::result on_file_done(const payload_file& record);
    notification::result on_progress(std::uint64_t done, std::uint64_t total);
    notification::result on_error(const std::error_code& code, const std::wstring& target);

    // What the handlers share with the installation that runs them. The last two keep the
    // progress notifications, one for every 4 KB inflated, cheap: the percentage the bar shows,
    // and when (GetTickCount) the wizard last took its messages.
    struct handler_context {
        std::istream& payload;
        std::wstring& program_path;
        std::wstring& uninstaller_path;
        std::vector<std::wstring>& removal_list;
        HCURSOR& wait_cursor;
        int shown_percent = -1;
        DWORD last_pump = 0;
    };

    // Lets the handlers reach the installation's state for as long as it runs (tests run the
    // handlers on states of their own).
    class context_scope {
    public:
        context_scope(dlg_install& page, handler_context& context) : page_(page) { page_.context_ = &context; }
        ~context_scope() { page_.context_ = nullptr; }
        context_scope(const context_scope&) = delete;
        context_scope& operator=(const context_scope&) = delete;

    private:
        dlg_install& page_;
    };

protected:
    void on_init() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;

private:
    dlg_install() = default;

    void append_status_word(bool ok);
    // The status word of one of the installation's own steps, which ends it.
    void end_step(bool ok);
    // The log, gathered texts included, ends with a line end.
    bool status_line_ended() const noexcept { return status_tail_ == L"\r\n"; }
    void create_shortcuts(const std::wstring& program_path);
    void run_directx_setup();
    bool write_uninstall_entry(const std::wstring& program_path, const std::wstring& uninstaller_path);
    bool write_program_path_value(const std::wstring& program_path);
    bool run_registration(const std::wstring& program_path);
    handler_context& context() const;

    handler_context* context_ = nullptr;
    std::wstring pending_status_;
    std::wstring status_tail_;  // the log's last two characters
    DWORD status_flushed_at_ = 0;
};
