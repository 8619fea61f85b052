// The installer's one settings object: the installer mutex, the folders and options the wizard
// shows and changes, what start-up learnt about a previous installation, and the journal of
// this installation. The wizard's texts are members too, so that every page reaches them the
// same way. Its start-up checks live in startup_checks.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <windows.h>
#include <shtypes.h>

#include "foundation/app/named_objects.hpp"
#include "installer/journal/uninstall_log.hpp"
#include "installer/startup/private_temp_folder.hpp"

// What start-up asks the system about the user and the running programs. The installer always
// asks the system; tests put in answers of their own (Wine's user is always an administrator).
struct startup_probes {
    std::function<bool()> user_is_admin;
    std::function<LONG()> running_instance_count;

    static startup_probes system();
};

class installer_settings {
public:
    // This program's version, 8.1.0.1, as file versions are compared.
    static constexpr std::uint64_t own_version = 0x0008000100000001;

    // Built on first use, which also fixes the process-wide product code; destroyed at exit.
    static installer_settings& instance();

    installer_settings(const installer_settings&) = delete;
    installer_settings& operator=(const installer_settings&) = delete;

    // The start-up checks, in order: the installer mutex, the UI language, administrator
    // rights, the installer's own temporary folder, running copies of the product, the
    // previous installation and its journal, the default folders. False ends the program; the
    // user has been told why, where there is something to tell.
    bool initialize(const startup_probes& probes = startup_probes::system());

    // The steps of initialize that tests take one by one.
    void choose_ui_language();
    void read_installed_version(const std::wstring& program_path);
    void read_previous_journal(const std::wstring& journal_path);
    bool fill_default_folders();
    // Makes temp_folder once; when it cannot be made, says why and returns false.
    bool make_private_temp_folder();

    // Names the temporary work folder of an installation, "vandrel_{" + a random UUID + "}" in
    // the system temporary folder, without creating it. False, with the failure's text, when
    // there is no temporary folder.
    bool make_work_folder(std::wstring& error_text);

    // The text of a string id in the current UI language; English, then French, stand in for
    // an entry that is missing, empty or "#". Empty when no language has it.
    std::wstring load_string(unsigned id) const;

    // String 1000 ("Installer"), with " – " and the product name and version when with_product.
    std::wstring title(bool with_product) const;

    // "Global\" + application id + ".{5ead623c-...}": keeps a second installer out.
    vd::named_mutex mutex;

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

    // The process's temporary folder from start-up on, which only administrators may change.
    std::optional<private_temp_folder> temp_folder;

private:
    installer_settings();

    bool wait_for_running_copies(const startup_probes& probes) const;
};

// A known folder's path (not checked for existence); empty on failure, after a warning box
// with the system's text when show_error.
std::wstring get_known_folder(const KNOWNFOLDERID& id, bool show_error);

// The default folder of a kind: 0 program files, 1 the Start menu's programs, 2 the desktop
// (all users' first, the user's own when that fails).
std::wstring default_folder(int kind);

// The installed program recorded under "Software\Vandrel", when it exists; computed on the
// first call and the same for the whole run.
std::wstring installed_program_path();

// The previous installation's "Uninstall.ulog": beside the registered uninstaller, beside this
// program, or beside the installed program, the first that exists; empty when none does.
std::wstring old_journal_path();

// old_journal_path's search, given the installed program.
std::wstring find_old_journal(const std::wstring& installed_program);
