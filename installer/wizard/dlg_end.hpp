// Page 4 of the wizard (template 137): the closing text after an installation and the hint
// that Exit ends the installer.
#pragma once

#include <cstdint>

#include "installer/wizard/basic_dialog.hpp"

class dlg_end final : public basic_dialog {
public:
    static dlg_end& instance();

    static constexpr int closing_text_id = 1016;
    static constexpr int hint_id = 1003;

    // Empties the closing text: it says something only once an installation has ended.
    void set_texts() override;

    // Sets the closing text after an installation attempt; the page is reached only after a
    // successful one.
    void show_result();

protected:
    void on_size(std::uint32_t width, std::uint32_t height) override;

private:
    dlg_end() = default;
};
