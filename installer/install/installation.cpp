// dlg_install, continued: the installation itself, one call from the Install button on the UI
// thread. Only a work folder that cannot be named and a failed extraction (rolled back) end it;
// every later step that fails closes its status line with "Failed" and the rest goes on.
#include "installer/wizard/dlg_install.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/streams/resource_file_stream.hpp"
#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/install/directx_setup.hpp"
#include "installer/install/registry_values.hpp"
#include "installer/journal/journal_file.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/startup/installer_texts.hpp"
#include "installer/wizard/message_pump.hpp"

#include <fmt/xchar.h>

#include <algorithm>
#include <filesystem>

#include <shlobj.h>

namespace fs = std::filesystem;

namespace {

// What the uninstall entry and the About box give as the maker's contacts.
constexpr wchar_t maker_web_address[] = L"http://www.vandrel.example";
constexpr wchar_t maker_telephone[] = L"+1 555 0100";
constexpr wchar_t display_version[] = L"8.01.0.1";

// The installed program's exit code when it registered itself.
constexpr DWORD registered = static_cast<DWORD>(-10);

struct cursor_scope {
    HCURSOR previous;
    explicit cursor_scope(HCURSOR wait) : previous(::SetCursor(wait)) {}
    ~cursor_scope() { ::SetCursor(previous); }
};

// Whatever way the installation ends, the log shows all of it.
struct status_flush_scope {
    dlg_install& page;
    ~status_flush_scope() { page.flush_status(); }
};

// The work folder and the set-up files go when the installation ends, the last added first;
// the work folder, first in the list, only when nothing is left in it.
struct removal_scope {
    std::vector<std::wstring>& list;
    ~removal_scope() {
        for (auto path = list.rbegin(); path != list.rend(); ++path) {
            std::error_code ec;
            fs::remove(*path, ec);
        }
    }
};

void make_read_only(const std::wstring& path) {
    std::error_code ec;
    if (!path.empty() && fs::is_regular_file(path, ec))
        fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec);
}

// The program registers its classes when started with " /Register /Background"; an update
// tells it the version it replaces.
std::wstring registration_command(const std::wstring& program, std::uint64_t previous_version) {
    std::wstring command = L"\"" + program + L"\" /Register /Background";
    if (previous_version != 0)
        command += fmt::format(L" /update={:016x}", previous_version);
    return command;
}

} // namespace

std::wstring not_undone_report(const std::vector<uninstall_log::entry>& left, std::wstring_view not_put_back,
                               std::wstring_view kept_as) {
    constexpr std::wstring_view indent = L"    ";
    std::wstring report;
    for (const auto& entry : left) {
        report += fmt::format(L"{}\r\n{}{}\r\n", not_put_back, indent, entry.path);
        if (!entry.backup.empty())
            report += fmt::format(L"{}\r\n{}{}\r\n", kept_as, indent, entry.backup);
    }
    return report;
}

bool dlg_install::do_installation() {
    auto& settings = installer_settings::instance();
    auto& journal = settings.journal;
    HCURSOR wait_cursor = ::LoadCursorW(nullptr, IDC_WAIT);
    cursor_scope cursor(wait_cursor);
    status_flush_scope flush_at_end{*this};
    const auto text = [&](unsigned id) { return settings.load_string(id); };
    const auto begin_step = [&](unsigned id) {
        set_window_text(hint(), text(id));
        append_status(text(id));
    };

    append_status(std::wstring(45, L'\u2500') + L"\r\n");
    set_window_text(hint(), text(1114));
    std::wstring error_text;
    if (!settings.make_work_folder(error_text)) {
        const auto message = fmt::format(fmt::runtime(text(1121)), error_text);
        set_window_text(hint(), message);
        append_status(message + L"\r\n");
        return false;
    }
    ::SendMessageW(progress_bar(), PBM_SETPOS, 0, 0);
    ::ShowWindow(progress_bar(), SW_SHOW);

    std::vector<std::wstring> removal_list{settings.work_folder};
    removal_scope removal{removal_list};
    std::wstring program_path;
    std::wstring uninstaller_path;
    {
        // From the program's file the payload passes through a small buffer; read where the loader
        // mapped it, all of it would stay in the working set (the fallback when the file cannot
        // be opened).
        const auto from_file = vd::open_program_resource(MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134));
        auto mapped = from_file ? vd::imemstream() : vd::load_resource_stream(MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134));
        std::istream& payload = from_file ? *from_file : mapped;
        handler_context handlers{payload, program_path, uninstaller_path, removal_list, wait_cursor};
        context_scope scope(*this, handlers);
        const auto samples = fmt::format(fmt::runtime(text(1018)), product_name(true));
        const bool extracted = extract_payload(payload, settings.install_folder, samples, settings.work_folder,
                                               [this](notification n) { return on_notification(std::move(n)); });
        if (!extracted) {
            const auto left = journal.rollback(wait_one_second_answering_messages);
            append_status(not_undone_report(left, text(1133), text(1134)));
            return false;
        }
    }

    make_read_only(program_path);
    make_read_only(uninstaller_path);
    create_shortcuts(program_path);
    run_directx_setup();
    bool result = write_uninstall_entry(program_path, uninstaller_path);
    result = write_program_path_value(program_path) && result;
    result = run_registration(program_path) && result;
    end_step(result);

    // Without an uninstaller there is nowhere to put the journal: never the current folder.
    // The installation stands all the same, and the files it replaced go from the temporary
    // folder as the journal's writing would have taken them.
    begin_step(1119);
    bool written = false;
    if (uninstaller_path.empty())
        journal.delete_backups();
    else
        written = journal.write((fs::path(uninstaller_path).parent_path() / journal_file_name).wstring(),
                                settings.install_folder, settings.shortcut_folder);
    end_step(written);
    set_window_text(hint(), fmt::format(fmt::runtime(text(1106)), text(1006)));
    return true;
}

// One line covers both links; a link that fails leaves the other to be made.
void dlg_install::create_shortcuts(const std::wstring& program_path) {
    auto& settings = installer_settings::instance();
    if (!settings.start_menu_shortcut && !settings.desktop_shortcut)
        return;
    const auto text = settings.load_string(1117);
    set_window_text(hint(), text);
    append_status(text);
    bool ok = true;
    const auto make_link = [&](bool desktop, const std::wstring& folder) {
        try {
            const auto link = settings.journal.add_shortcut(desktop, folder).make_shortcut(product_name(false), program_path);
            settings.journal.set_result(true, link.wstring());
        } catch (const std::exception&) {
            ok = false;
            settings.journal.set_result(false, L"");
        }
    };
    if (settings.start_menu_shortcut)
        make_link(false, settings.shortcut_folder);
    if (settings.desktop_shortcut)
        make_link(true, default_folder(2));
    end_step(ok);
}

// Runs once per machine: a reinstall runs it again, an update whose predecessor ran it does not.
void dlg_install::run_directx_setup() {
    auto& settings = installer_settings::instance();
    try {
        directx_setup setup(settings.work_folder);
        if (!setup.module())
            return;
        const bool ran_before = std::ranges::any_of(settings.journal.previous_entries, [](const uninstall_log::entry& item) {
            return item.kind == entry_kind::directx_update && item.done;
        });
        if (settings.state != 1 && ran_before)
            return;
        const auto text = settings.load_string(1131);
        set_window_text(hint(), text);
        append_status(text);
        // The set-up library shows windows and boxes of its own over the page.
        flush_status();
        bool ok = false;
        try {
            settings.journal.add_directx_update();
            ok = setup.run(hwnd());
        } catch (const std::exception&) {
            ok = false;
        }
        settings.journal.set_result(ok, L"");
        end_step(ok);
    } catch (const std::exception&) {
        // The set-up could not even be looked at: the installation goes on without it.
    }
}

// Opens the "Registry Data Writing..." line, which the registration run closes: it reads OK
// only when the entry's two counted values were written and the program registered itself.
bool dlg_install::write_uninstall_entry(const std::wstring& program_path, const std::wstring& uninstaller_path) {
    auto& settings = installer_settings::instance();
    const auto text = settings.load_string(1118);
    set_window_text(hint(), text);
    append_status(text);
    bool result = false;
    try {
        const auto uninstall = vd::reg_open_key(HKEY_LOCAL_MACHINE, journal_details::uninstall_root);
        if (!uninstall)
            return false;
        const auto name = vd::product_display_name(vd::product_code);
        auto product = uninstall.open_subkey(name);
        if (product) {
            settings.journal.add_registry_key(product.get());
        } else {
            product = uninstall.create_subkey(name);
            settings.journal.add_registry_key(nullptr);
        }
        const bool named = set_reg_string(product, L"DisplayName", product_name(false));
        const bool uninstallable = set_reg_string(product, L"UninstallString", uninstaller_path);
        set_reg_string(product, L"DisplayIcon", program_path + L",0");
        set_reg_string(product, L"DisplayVersion", std::wstring_view(display_version));
        set_reg_string(product, L"Publisher", std::wstring_view(vd::maker_name));
        set_reg_string(product, L"URLInfoAbout", std::wstring_view(maker_web_address));
        set_reg_string(product, L"HelpLink", std::wstring_view(maker_web_address));
        set_reg_string(product, L"URLUpdateInfo", std::wstring_view(maker_web_address));
        set_reg_string(product, L"HelpTelephone", std::wstring_view(maker_telephone));
        set_reg_dword(product, L"NoModify", 1);
        set_reg_dword(product, L"NoRepair", 1);
        set_reg_dword(product, L"VdLanguage", vd::language_state::instance().language);
        result = named && uninstallable;
        settings.journal.set_result(result, L"");
    } catch (const std::exception&) {
        result = false;
    }
    return result;
}

// A later run finds the installed program, and so its version, through this value.
bool dlg_install::write_program_path_value(const std::wstring& program_path) {
    try {
        auto maker = vd::reg_create_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
        return set_reg_string(maker, vd::product_display_name(vd::product_code) + L" Path", program_path);
    } catch (const std::exception&) {
        return false;
    }
}

// The installed program registers its classes. The installer lets go of its mutex meanwhile,
// so that the program, which checks for a running installer, can start.
bool dlg_install::run_registration(const std::wstring& program_path) {
    auto& settings = installer_settings::instance();
    try {
        settings.journal.add_class_registration();
    } catch (const std::exception&) {
        return false;
    }
    auto command = registration_command(program_path, settings.previous_version);
    settings.mutex.unlock();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION process{};
    const auto folder = fs::path(program_path).parent_path().wstring();
    if (program_path.empty() || !::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                                                  nullptr, folder.c_str(), &startup, &process)) {
        settings.journal.set_result(false, L"");
        settings.mutex.try_lock();
        return false;
    }
    vd::unique_handle process_handle(process.hProcess);
    vd::unique_handle thread_handle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process.hProcess, &exit_code))
        exit_code = 0;
    process_handle.reset();
    thread_handle.reset();
    settings.mutex.try_lock();
    const bool ok = exit_code == registered;
    settings.journal.set_result(ok, L"");
    if (ok)
        ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    return ok;
}
