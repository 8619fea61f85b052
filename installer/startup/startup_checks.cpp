// installer_settings, continued: the start-up checks that decide whether and how to install,
// and the folders they fall back on.
#include "installer/startup/installer_settings.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/language/version_info.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/security.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/text/conversions.hpp"
#include "foundation/ui/message_box.hpp"
#include "installer/journal/journal_file.hpp"
#include "installer/startup/installer_texts.hpp"

#include <fmt/xchar.h>

#include <filesystem>

#include <knownfolders.h>
#include <shlobj.h>

namespace fs = std::filesystem;

namespace {

// Only these UI languages are offered at start-up: not Danish, Bulgarian, Norwegian,
// Japanese, Slovenian or Russian.
constexpr std::uint32_t startup_languages = 0x3BDEBF;

std::wstring uninstall_key_path() {
    return std::wstring(journal_details::uninstall_root) + L"\\" + vd::product_display_name(vd::product_code);
}

bool exists_quietly(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

// The journal beside the uninstaller that the Uninstall entry registers. A value with quotes
// or arguments names no file, and the search goes on. So does one with a NUL in it, or one
// without a drive and folder of its own: the part before the NUL, or a journal beside
// wherever the installer runs, would stand in for the registered one.
fs::path journal_beside_registered_uninstaller() {
    const auto key = vd::reg_open_key(HKEY_LOCAL_MACHINE, uninstall_key_path());
    std::wstring command;
    if (!key || !key.get_string(L"UninstallString", command))
        return {};
    const fs::path folder = fs::path(command).parent_path();
    if (command.find(L'\0') != std::wstring::npos || !folder.is_absolute())
        return {};
    return folder / journal_file_name;
}

} // namespace

startup_probes startup_probes::system() {
    return {vd::is_user_admin, vd::running_instance_count};
}

bool installer_settings::initialize(const startup_probes& probes) {
    if (!mutex.try_lock()) {
        // The language state still holds its initial French, and the system has the error's
        // text in French wherever French is installed (Wine always): the refusal speaks the
        // language the other installer speaks.
        choose_ui_language();
        vd::show_error(ERROR_BUSY);
        return false;
    }
    choose_ui_language();
    if (!probes.user_is_admin()) {
        vd::message_box(load_string(1126).c_str(), title(true).c_str(), MB_ICONWARNING);
        return false;
    }
    if (!make_private_temp_folder())
        return false;
    if (!wait_for_running_copies(probes))
        return false;
    read_installed_version(installed_program_path());
    read_previous_journal(state == 1 || state == 2 ? old_journal_path() : std::wstring());
    if (!fill_default_folders())
        return false;
    advanced = false;
    return true;
}

// The user's language among those offered, unless the previous installation chose another;
// English for a language the installer does not translate.
void installer_settings::choose_ui_language() {
    vd::set_ui_language(vd::default_ui_language(startup_languages));
    try {
        if (const auto key = vd::reg_open_key(HKEY_LOCAL_MACHINE, uninstall_key_path())) {
            // A value outside the language table is refused before anything changes, and the
            // user's own language stays.
            if (const auto stored = key.get_dword(L"VdLanguage"))
                vd::set_ui_language(*stored);
        }
    } catch (const std::exception&) {
    }
    if (!has_translation(static_cast<int>(vd::language_state::instance().language)))
        vd::set_ui_language(vd::ui_language_english);
}

// Without a folder of its own there is no safe place for the files that the installer loads,
// runs or moves into the installation later: nothing is installed then.
bool installer_settings::make_private_temp_folder() {
    if (temp_folder)
        return true;
    try {
        temp_folder.emplace();
        return true;
    } catch (const std::exception& e) {
        // A code without a system text of its own is told by the exception's own words, which
        // name the failing step.
        auto text = vd::exception_text(e);
        if (text.empty())
            text = vd::utf8_to_wide(e.what());
        vd::message_box(text.c_str(), title(true).c_str(), MB_ICONERROR);
        return false;
    }
}

// Every running process of this application id counts, this one too: a running copy of the
// product keeps the installer waiting until the user closes it or gives up.
bool installer_settings::wait_for_running_copies(const startup_probes& probes) const {
    while (probes.running_instance_count() > 1) {
        const auto text = fmt::format(fmt::runtime(load_string(1127)), product_name(true));
        if (vd::message_box(text.c_str(), title(true).c_str(), MB_RETRYCANCEL | MB_ICONWARNING) == IDCANCEL)
            return false;
    }
    return true;
}

// A program without a readable version counts as this version: nothing is known to be older.
void installer_settings::read_installed_version(const std::wstring& program_path) {
    state = 0;
    if (program_path.empty())
        return;
    const auto info = vd::file_version_info(program_path);
    const auto version = info.file_version();
    if (!info.has_file_version()) {
        state = 1;
    } else if (version > own_version) {
        state = -1;
        previous_version_text = info.version_text();
    } else if (version == own_version) {
        state = 1;
    } else {
        state = 2;
        previous_version_text = info.version_text();
        previous_version = version;
    }
}

// The folders and the desktop choice of the previous installation. An empty path only resets
// what the journal knows of a previous installation.
void installer_settings::read_previous_journal(const std::wstring& journal_path) {
    journal.read(journal_path);
    if (journal_path.empty())
        return;
    install_folder = journal.install_path;
    shortcut_folder = journal.shortcut_path;
    desktop_shortcut = journal.desktop_shortcut;
}

// Default folders fill what the previous installation did not give; the product's own folders
// are added only below the default installation folder.
bool installer_settings::fill_default_folders() {
    if (install_folder.empty()) {
        const auto program_files = get_known_folder(FOLDERID_ProgramFiles, true);
        if (program_files.empty())
            return false;
        install_folder = (fs::path(program_files) / vd::maker_name / vd::product_display_name(vd::product_code)).wstring();
    }
    if (shortcut_folder.empty())
        shortcut_folder = default_folder(1);
    return !shortcut_folder.empty();
}

std::wstring get_known_folder(const KNOWNFOLDERID& id, bool show_error) {
    vd::unique_cotaskmem_string path;
    const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put());
    if (SUCCEEDED(hr))
        return path.get();
    if (show_error) {
        auto& settings = installer_settings::instance();
        vd::message_box(vd::system_message_text(static_cast<DWORD>(hr), 0).c_str(), settings.title(true).c_str(), MB_ICONWARNING);
    }
    return {};
}

std::wstring default_folder(int kind) {
    switch (kind) {
    case 0:
        return get_known_folder(FOLDERID_ProgramFiles, true);
    case 1: {
        auto folder = get_known_folder(FOLDERID_CommonPrograms, false);
        return folder.empty() ? get_known_folder(FOLDERID_Programs, true) : folder;
    }
    default: {
        auto folder = get_known_folder(FOLDERID_PublicDesktop, false);
        return folder.empty() ? get_known_folder(FOLDERID_Desktop, false) : folder;
    }
    }
}

std::wstring installed_program_path() {
    static const std::wstring path = vd::installed_app_path(vd::product_code);
    return path;
}

std::wstring old_journal_path() {
    return find_old_journal(installed_program_path());
}

std::wstring find_old_journal(const std::wstring& installed_program) {
    // A registry failure here costs only this candidate: the journal may still lie beside
    // this program or the installed one.
    fs::path registered;
    try {
        registered = journal_beside_registered_uninstaller();
    } catch (const std::exception&) {
    }
    const fs::path candidates[] = {
        registered,
        vd::module_path().parent_path() / journal_file_name,
        installed_program.empty() ? fs::path() : fs::path(installed_program).parent_path() / journal_file_name,
    };
    for (const auto& candidate : candidates) {
        if (exists_quietly(candidate))
            return candidate.wstring();
    }
    return {};
}
