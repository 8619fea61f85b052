// Page 3 of the wizard (template 135): the summary of the chosen options, which becomes the
// running log of the installation below it, the extraction's progress bar and a one-line hint.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "installer/wizard/basic_dialog.hpp"

class dlg_install final : public basic_dialog {
public:
    static dlg_install& instance();

    static constexpr int status_log_id = 1015;
    static constexpr int progress_bar_id = 1014;
    static constexpr int hint_id = 1003;

    void set_texts() override;

    // Puts the summary of the current options in place of the log's whole text.
    void show_summary();

    // Appends text at the very end of the log, whatever the user has selected, and scrolls one
    // line down. No line end is added: a step's text and its status word come in two calls.
    void append_status(const std::wstring& text);

    // The hint line below the bar (its whole text is replaced with set_window_text) and the
    // progress bar, ranged 0 to 100 and hidden until the installation shows it.
    HWND hint() const noexcept { return ::GetDlgItem(hwnd(), hint_id); }
    HWND progress_bar() const noexcept { return ::GetDlgItem(hwnd(), progress_bar_id); }

protected:
    void on_init() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;

private:
    dlg_install() = default;
};
