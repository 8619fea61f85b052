// The installer's one top-level window (dialog 101): it hosts the five wizard pages, owns the
// Back, Next/Install and Cancel/Exit buttons and the page order, starts the installation from
// the Install button, keeps its size per user and offers the About box in its system menu.
#pragma once

#include <array>
#include <cstdint>

#include <windows.h>

#include "installer/wizard/basic_dialog.hpp"
#include "installer/wizard/callback_failure.hpp"

// The wizard's pages, in order.
enum wizard_page : std::uint32_t { start_page = 0, mode_page = 1, options_page = 2, install_page = 3, end_page = 4 };

// The page that Next and Back lead to: the options page only in an advanced installation.
std::uint32_t next_page(std::uint32_t current, bool advanced) noexcept;
std::uint32_t previous_page(std::uint32_t current, bool advanced) noexcept;

// Whether Cancel asks before it ends the wizard: not after the installation, not when there is
// nothing to install, not on the first page of a reinstallation.
bool cancel_asks(bool installed, std::int32_t state, std::uint32_t current) noexcept;

// The saved size when it is there, each dimension at least the minimum.
SIZE restored_size(SIZE minimum, const SIZE* saved) noexcept;

// The window's outer size as the user left it ("InstallerSize" under HKEY_CURRENT_USER
// "Software\Vandrel"), each dimension at least the minimum; the minimum when none reads.
SIZE saved_window_size(SIZE minimum) noexcept;

class dlg_main final : public basic_dialog {
public:
    static dlg_main& instance();

    static constexpr int side_panel_id = 1005;
    static constexpr int separator_id = 1002;
    static constexpr int back_id = 3;
    static constexpr int size_grip_id = 1024;
    static constexpr UINT about_command = 16;

    void set_texts() override;
    void update_buttons();
    void show_page(std::uint32_t index);

    std::uint32_t current_page() const noexcept { return current_page_; }

protected:
    void on_init() override;
    void on_destroy() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;
    void on_min_max_info(MINMAXINFO* info) override;
    bool on_command(std::uint16_t id, std::uint16_t code) override;
    bool on_syscommand(std::uint32_t command) override;

private:
    dlg_main();

    void prepare_frame();
    void install();
    void set_about_item();

    std::array<basic_dialog*, 5> pages_;
    std::int32_t min_width_ = 0;
    std::int32_t min_height_ = 0;
    std::uint32_t current_page_ = start_page;
    // The installation runs inside the Install command and pumps messages meanwhile: the
    // wizard's own commands that arrive before it has ended are dropped.
    bool installing_ = false;
    // Whoever heard of callback failures before the wizard showed them; again once it has gone.
    failure_reporter previous_reporter_;
};
