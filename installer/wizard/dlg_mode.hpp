// Page 1 of the wizard (dialog 136): a quick or an advanced installation. Only the advanced one
// leads through the options page.
#pragma once

#include <cstdint>

#include "installer/wizard/basic_dialog.hpp"

class dlg_mode final : public basic_dialog {
public:
    static dlg_mode& instance();

    void set_texts() override;

protected:
    void on_init() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;
    // Every command re-reads the advanced button, so that the settings always match the button
    // shown as chosen.
    bool on_command(std::uint16_t id, std::uint16_t code) override;

private:
    dlg_mode() = default;
};
