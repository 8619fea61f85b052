// The installer's one settings object: the folders and options the wizard shows and changes,
// what start-up learnt about a previous installation, and the journal of this installation.
// The wizard's texts are members too, so that every page reaches them the same way.
#pragma once

#include <cstdint>
#include <string>

#include "installer/journal/uninstall_log.hpp"

class installer_settings {
public:
    // Built on first use, which also fixes the process-wide product code; destroyed at exit.
    static installer_settings& instance();

    installer_settings(const installer_settings&) = delete;
    installer_settings& operator=(const installer_settings&) = delete;

    // The text of a string id in the current UI language; English, then French, stand in for
    // an entry that is missing, empty or "#". Empty when no language has it.
    std::wstring load_string(unsigned id) const;

    // String 1000 ("Installer"), with " – " and the product name and version when with_product.
    std::wstring title(bool with_product) const;

    std::wstring install_folder;   // installation folder
    std::wstring shortcut_folder;  // Start-menu folder that receives the program's link
    std::wstring work_folder;      // temporary work folder of the running installation

    bool start_menu_shortcut = true;
    bool desktop_shortcut = true;
    bool advanced = false;         // the advanced installation was chosen

    uninstall_log journal;         // this installation's journal, and what the previous one said

    bool installed = false;        // the installation has been done
    std::uint64_t previous_version = 0; // file version of an older installed program (state 2)

    // -1: a newer version is installed; 0: the product is not installed; 1: the same version is
    // installed (also when its version cannot be read); 2: an older version is installed.
    std::int32_t state = 0;
    std::wstring previous_version_text; // version text of the installed program (states -1, 2)

private:
    installer_settings();
};
