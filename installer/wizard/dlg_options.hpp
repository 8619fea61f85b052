// Page 2 of the wizard (dialog 133), shown for an advanced installation only: the installation
// folder, typed or picked, and the Start-menu and desktop shortcuts. Every choice goes straight
// into the settings object, so that Back and Next keep it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "installer/wizard/basic_dialog.hpp"

// The installation folder that the text typed into the folder box names: a relative text taken
// under default_folder (the Program Files folder), the result lexically normalised; a UNC path
// as the system resolves it. Nothing for an empty or blank text, and nothing when the result is
// not absolute with a root: "D:" and "D:foo" are drive-relative, \\server names no share, and
// a relative text stays relative while default_folder is empty. The folder then keeps its last
// good value until the text names one.
std::optional<std::wstring> typed_install_folder(const std::wstring& typed, const std::wstring& default_folder);

class dlg_options final : public basic_dialog {
public:
    static dlg_options& instance();

    void set_texts() override;

protected:
    // Shows the settings; while a version is installed its folder is kept: the folder cannot be
    // typed or picked, the shortcuts still change.
    void on_init() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;
    bool on_command(std::uint16_t id, std::uint16_t code) override;

private:
    dlg_options() = default;

    // Sets the folder box's text without taking it for typing.
    void show_folder(const std::wstring& folder);
    void browse();

    std::wstring default_folder_text_; // Program Files, under which a relative text is taken
    bool setting_text_ = false;        // the page itself is setting the folder box's text
};
