// The real installer, run as a user runs it, in a prefix of its own that starts empty. The
// scenarios tell one story in order, each building on what the one before left on purpose:
// a first quick installation, the same product installed again elsewhere after it was removed,
// a second run over that installation while a program has one of its libraries loaded, and the
// machine's restart after it, an update from the older release, a machine with a newer release
// that the installer must leave alone, a first installation where a user has put a link in place
// of the shared data folder, one where the user's temporary folder is reached through a link
// that the user moves while the installer runs, and a failed installation over a user's files in
// the folders users can change.
#include "e2e/file_holder.hpp"
#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <functional>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "foundation/app/initialization.hpp"
#include "foundation/system/registry.hpp"
#include "support/environment_scope.hpp"
#include "support/folder_link.hpp"
#include "support/machine_restart.hpp"
#include "support/test_folder.hpp"

namespace fs = std::filesystem;

namespace {

using namespace e2e;

constexpr wchar_t uninstall_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stelvane 8";
constexpr wchar_t maker_key[] = L"Software\\Vandrel";
constexpr wchar_t program_path_value[] = L"Stelvane 8 Path";
constexpr wchar_t maker_web_address[] = L"http://www.vandrel.example";
constexpr wchar_t maker_telephone[] = L"+1 555 0100";
// What the second installation is told, relative parts and all; it lands in the normal form.
constexpr wchar_t typed_folder[] = L"C:\\Apps\\..\\Vandrel Apps\\Stelvane";
constexpr wchar_t typed_folder_normal[] = L"C:\\Vandrel Apps\\Stelvane";

// What the wizard shows in a language, and where that language stands in its list.
struct wizard_language {
    int list_position;
    DWORD index;  // the UI language index stored for the product
    const wchar_t* title;
    const wchar_t* install;
    const wchar_t* next;
    const wchar_t* exit;
    const wchar_t* complete;
    const wchar_t* samples;
};

const wizard_language english{.list_position = 1,
                              .index = 1,
                              .title = L"Installer \u2013 Stelvane 8.01",
                              .install = L"Install",
                              .next = L"Next >",
                              .exit = L"Exit",
                              .complete = L"Installation is complete.",
                              .samples = L"Stelvane Examples"};
const wizard_language german{.list_position = 2,
                             .index = 2,
                             .title = L"Installationsprogramm \u2013 Stelvane 8.01",
                             .install = L"Installieren",
                             .next = L"Weiter >",
                             .exit = L"Beenden",
                             .complete = L"Die Installation ist abgeschlossen.",
                             .samples = L"Stelvane Beispiele"};

const fs::path setup = windows_path(STELVANE_SETUP_EXE);

fs::path default_install_folder() {
    return known_folder(FOLDERID_ProgramFiles) / L"Vandrel" / L"Stelvane 8";
}

std::wstring lower(std::wstring text) {
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring registration_command(const fs::path& folder) {
    return L"\"" + (folder / L"Stelvane.exe").wstring() + L"\" /Register /Background";
}

// Every status line of the installation, after the separator that opens it, ends with OK.
void expect_every_step_ok(const std::wstring& log) {
    const std::wstring separator(45, L'\u2500');
    const auto start = log.find(separator);
    ASSERT_NE(start, std::wstring::npos) << log;
    std::size_t lines = 0;
    for (auto begin = log.find(L"\r\n", start) + 2; begin < log.size();) {
        auto end = log.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = log.size();
        const auto line = log.substr(begin, end - begin);
        EXPECT_TRUE(line.ends_with(L"OK")) << "a step that did not end well: " << testing::PrintToString(line);
        ++lines;
        begin = end + 2;
    }
    EXPECT_GT(lines, 5u) << log;
}

// From the start page through the defaults to the installation, whatever its end.
void install_with_defaults(installer_process& run) {
    run.click(run.button(next_button));
    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::install);
    run.install();
}

// Cancel, confirmed: the installer ends with 0.
void cancel_and_confirm(installer_process& run) {
    run.post_click(run.button(cancel_button));
    HWND box = nullptr;
    ASSERT_TRUE(wait_until([&] { return (box = run.other_dialog()) != nullptr; }, 20s)) << "Cancel asked nothing";
    answer(box, IDYES);
    EXPECT_EQ(run.wait_for_exit(30s), 0);
}

// Cancel on the start page, where whether it asks first depends on what the machine already
// holds.
void cancel_at_start(installer_process& run) {
    run.post_click(run.button(cancel_button));
    ASSERT_TRUE(wait_until([&] { return run.message_box() || run.has_ended(); }, 30s));
    if (const HWND question = run.message_box())
        answer(question, IDYES);
    EXPECT_EQ(run.wait_for_exit(30s), 0);
}

// Page 3 to the wizard's end: the installation, with what the user does meanwhile, Next to the
// end page, and Exit; the window's size is kept for the next run.
void install_and_exit(installer_process& run, const wizard_language& language,
                      const std::function<void()>& meanwhile = {}) {
    const HWND next = run.button(next_button);
    ASSERT_EQ(run.shown_page(), wizard_page::install);
    ASSERT_EQ(text_of(next), language.install);
    run.install(meanwhile);
    EXPECT_TRUE(installer_mutex_held()) << "the installer took its mutex back after the registration run";
    const auto log = text_of(run.control(wizard_page::install, status_log));
    ASSERT_EQ(text_of(next), language.next)
        << "the installation failed: " << testing::PrintToString(text_of(run.control(wizard_page::install, hint_label)))
        << "; its log:\n" << testing::PrintToString(log);
    expect_every_step_ok(log);
    EXPECT_FALSE(is_enabled(run.button(back_button)));
    EXPECT_EQ(text_of(run.button(cancel_button)), language.exit);

    run.click(next);
    ASSERT_EQ(run.shown_page(), wizard_page::end);
    EXPECT_EQ(text_of(run.control(wizard_page::end, closing_text)), language.complete);
    RECT window{};
    ::GetWindowRect(run.main_window(), &window);
    run.post_click(run.button(cancel_button));
    EXPECT_EQ(run.wait_for_exit(30s), 0);

    const auto sizes = values_of(HKEY_CURRENT_USER, maker_key);
    const auto size = sizes.find(L"InstallerSize");
    ASSERT_NE(size, sizes.end());
    ASSERT_EQ(size->second.first, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(size->second.second.size(), 8u);
    std::int32_t saved[2] = {};
    std::memcpy(saved, size->second.second.data(), sizeof saved);
    EXPECT_EQ(saved[0], window.right - window.left);
    EXPECT_EQ(saved[1], window.bottom - window.top);
}

struct expected_installation {
    fs::path folder;
    const wizard_language& language;
    // Samples deleted by hand before an update, which must not bring them back.
    std::vector<fs::path> removed_samples = {};
};

// The files with their payload's contents, the links, the registry values and the journal.
void expect_installed(const expected_installation& expected) {
    const auto payload = payload_of(setup);
    const auto program = expected.folder / L"Stelvane.exe";
    const auto uninstaller = expected.folder / L"Uninstall.exe";
    std::vector<std::pair<fs::path, std::uint32_t>> journalled_files;
    for (std::size_t i = 0; i < payload.records.size(); ++i) {
        const auto& record = payload.records[i];
        const auto target = target_of(record, expected.folder, expected.language.samples);
        if (static_cast<payload_kind>(record.kind) == payload_kind::setup_only) {
            EXPECT_TRUE(target.empty()) << "set-up files go to the work folder only";
            EXPECT_FALSE(fs::exists(expected.folder / record.file_name())) << record.file_name();
            continue;
        }
        journalled_files.emplace_back(target, 0x100 | record.kind);
        if (std::ranges::find(expected.removed_samples, target) != expected.removed_samples.end()) {
            EXPECT_FALSE(fs::exists(target)) << "an update wrote a sample: " << target;
            continue;
        }
        ASSERT_TRUE(fs::exists(target)) << target;
        EXPECT_EQ(fs::file_size(target), record.size) << target;
        EXPECT_EQ(file_crc(target), record.crc) << target;
    }
    for (const auto& read_only : {program, uninstaller, expected.folder / L"Uninstall.ulog"})
        EXPECT_TRUE(::GetFileAttributesW(read_only.c_str()) & FILE_ATTRIBUTE_READONLY) << read_only;
    EXPECT_EQ(installation_leftovers(), std::vector<std::wstring>{}) << "work folder or backups left in the temporary folder";
    EXPECT_EQ(installer_temp_folders(), std::vector<std::wstring>{}) << "the installer's own temporary folder outlived it";

    EXPECT_EQ(link_target(start_menu_link()), program.wstring());
    EXPECT_EQ(link_target(desktop_link()), program.wstring());

    const auto values = values_of(HKEY_LOCAL_MACHINE, uninstall_key);
    EXPECT_EQ(string_value(values, L"DisplayName"), L"Stelvane 8.01");
    EXPECT_EQ(string_value(values, L"UninstallString"), uninstaller.wstring());
    EXPECT_EQ(string_value(values, L"DisplayIcon"), program.wstring() + L",0");
    EXPECT_EQ(string_value(values, L"DisplayVersion"), L"8.01.0.1");
    EXPECT_EQ(string_value(values, L"Publisher"), L"Vandrel");
    for (const auto* address : {L"URLInfoAbout", L"HelpLink", L"URLUpdateInfo"})
        EXPECT_EQ(string_value(values, address), maker_web_address) << address;
    EXPECT_EQ(string_value(values, L"HelpTelephone"), maker_telephone);
    EXPECT_EQ(dword_value(values, L"NoModify"), 1u);
    EXPECT_EQ(dword_value(values, L"NoRepair"), 1u);
    EXPECT_EQ(dword_value(values, L"VdLanguage"), expected.language.index);
    EXPECT_EQ(string_value(values_of(HKEY_LOCAL_MACHINE, maker_key), program_path_value), program.wstring());

    const auto journal = read_journal(expected.folder / L"Uninstall.ulog");
    ASSERT_TRUE(journal.utf16_with_mark);
    EXPECT_TRUE(journal.crlf_only);
    ASSERT_GT(journal.lines.size(), 6u);
    EXPECT_EQ(journal.lines[0], L"// Uninstall Log File v1");
    EXPECT_EQ(journal.lines[1], L"// ############ WARNING: Do not delete or modify this file. ############");
    EXPECT_TRUE(journal.lines[2].starts_with(L"// Install Stelvane 8.01")) << journal.lines[2];
    EXPECT_EQ(journal.lines[3], L"// Install Path : " + expected.folder.wstring());
    EXPECT_EQ(journal.lines[4], L"// Shortcut Path : " + known_folder(FOLDERID_CommonPrograms).wstring());
    EXPECT_EQ(journal.lines[5], L"// " + std::wstring(100, L'-'));
    std::vector<journal_line> entries;
    for (std::size_t i = 6; i < journal.lines.size(); ++i) {
        const auto entry = parse_journal_line(journal.lines[i]);
        ASSERT_TRUE(entry) << "line " << i << ": " << testing::PrintToString(journal.lines[i]);
        EXPECT_EQ(entry->index, i - 6);
        EXPECT_TRUE(entry->done) << testing::PrintToString(journal.lines[i]);
        entries.push_back(*entry);
    }
    const auto count = [&](unsigned code, const std::wstring& text) {
        return std::ranges::count_if(entries, [&](const journal_line& e) { return e.code == code && lower(e.text) == lower(text); });
    };
    for (const auto& [file, code] : journalled_files)
        EXPECT_EQ(count(code, file.wstring()), 1) << "journal entries of " << file;
    EXPECT_EQ(count(0x00FF, expected.folder.wstring()), 1) << "the installation folder was made";
    EXPECT_EQ(count(0x02FF, start_menu_link().wstring()), 1);
    EXPECT_EQ(count(0x04FF, desktop_link().wstring()), 1);
    EXPECT_EQ(count(0x05FF, L"HKEY_LOCAL_MACHINE\\" + std::wstring(uninstall_key)), 1);
    EXPECT_EQ(count(0x06FF, L"HKEY_CLASSES_ROOT\\..."), 1);
    EXPECT_EQ(count(0x07FF, L"DirectX Update"), 1);
}

// What an uninstallation would leave: the users' shared data, nothing of the product.
void remove_installation(const fs::path& folder, const std::wstring& samples) {
    remove_tree(folder);
    remove_tree(known_folder(FOLDERID_PublicDesktop) / samples);
    fs::remove(start_menu_link());
    fs::remove(desktop_link());
    forget_installation();
}

void record_program(const fs::path& program) {
    vd::reg_create_key(HKEY_LOCAL_MACHINE, maker_key).set_string(program_path_value, program.wstring());
}

// Wine reads its library overrides when a process starts, for a program by its file name from
// its AppDefaults key: while this lives, a program of that name prefers its own copies of the
// named libraries ("native,builtin"), as Windows does for a library outside its known ones. (An
// override in the environment reaches no program that a Windows process starts.)
class preferred_libraries {
public:
    preferred_libraries(const fs::path& program, const std::vector<std::wstring>& names)
        : key_(L"Software\\Wine\\AppDefaults\\" + program.filename().wstring()) {
        auto overrides = vd::reg_create_key(HKEY_CURRENT_USER, key_ + L"\\DllOverrides");
        for (const auto& name : names)
            overrides.set_string(name, L"native,builtin");
    }
    ~preferred_libraries() { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    preferred_libraries(const preferred_libraries&) = delete;
    preferred_libraries& operator=(const preferred_libraries&) = delete;

private:
    std::wstring key_;
};

// Edits a journal as anybody who can write to the installation folder may: the previous
// Start-menu link becomes link.
void name_previous_start_menu_link(const fs::path& journal, const fs::path& link) {
    auto lines = read_journal(journal).lines;
    std::wstring text;
    for (auto& line : lines) {
        if (const auto entry = parse_journal_line(line); entry && entry->code == 0x02FF)
            line = line.substr(0, line.find(L" -- ") + 4) + link.wstring();
        text += line + L"\r\n";
    }
    std::string bytes = "\xFF\xFE";
    for (const wchar_t c : text)
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    ::SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_NORMAL);
    testing_support::write_file(journal, bytes);
    ::SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_READONLY);
}

// A call of SetProcessMitigationPolicy as the installer made it: the policy, the first 32 bits of
// its buffer (the flags of every policy) and the buffer's length.
struct mitigation_request {
    DWORD policy;
    DWORD flags;
    DWORD length;
};

// The debugger of an installer started with DEBUG_ONLY_THIS_PROCESS, until its wizard shows: it
// notes every call of the system's SetProcessMitigationPolicy on the way there, by a breakpoint on
// the function's first instruction, and then lets the installer run on alone. The breakpoint is set
// at the loader's own breakpoint, once the imported libraries are loaded and before any code of the
// program's runs. A system that does not act on the request (Wine takes it and does nothing) is
// asked all the same: the call itself is what the installer controls.
std::vector<mitigation_request> mitigation_requests_until_the_wizard(installer_process& run) {
    // The address in the installer: the same offset in the library of the same name.
    const auto* function = reinterpret_cast<const BYTE*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy"));
    if (!function)
        fail(L"kernel32 has no SetProcessMitigationPolicy");
    HMODULE library = nullptr;
    wchar_t library_name[MAX_PATH] = {};
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(function), &library) ||
        !::GetModuleBaseNameW(::GetCurrentProcess(), library, library_name, MAX_PATH))
        fail(L"cannot name the library of SetProcessMitigationPolicy");
    const auto offset = function - reinterpret_cast<const BYTE*>(library);

    HANDLE process = nullptr;  // the debugger's handle from the system, not ours to close
    DWORD process_id = 0;
    BYTE* breakpoint = nullptr;
    BYTE first_byte = 0;
    DWORD stepping_thread = 0;
    const auto write = [&](BYTE value) {
        if (!::WriteProcessMemory(process, breakpoint, &value, 1, nullptr))
            fail(L"cannot write the breakpoint: error " + std::to_wstring(::GetLastError()));
        ::FlushInstructionCache(process, breakpoint, 1);
    };
    const auto set_breakpoint = [&] {
        HMODULE modules[512] = {};
        DWORD size = 0;
        if (!::EnumProcessModules(process, modules, sizeof modules, &size))
            fail(L"cannot list the installer's libraries: error " + std::to_wstring(::GetLastError()));
        for (DWORD i = 0; i < size / sizeof(HMODULE) && !breakpoint; ++i) {
            wchar_t name[MAX_PATH] = {};
            if (::GetModuleBaseNameW(process, modules[i], name, MAX_PATH) && ::lstrcmpiW(name, library_name) == 0)
                breakpoint = reinterpret_cast<BYTE*>(modules[i]) + offset;
        }
        if (!breakpoint || !::ReadProcessMemory(process, breakpoint, &first_byte, 1, nullptr))
            fail(std::wstring(library_name) + L" is not loaded in the installer");
        write(0xCC);  // int3
    };

    std::vector<mitigation_request> requests;
    // A thread that steps over the breakpoint must take its step before the debugger leaves.
    for (const auto end = std::chrono::steady_clock::now() + 90s; !run.find_wizard() || stepping_thread;) {
        if (std::chrono::steady_clock::now() > end)
            fail(L"the installer's wizard did not show");
        DEBUG_EVENT event{};
        if (!::WaitForDebugEvent(&event, 50))
            continue;
        DWORD continuation = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            process = event.u.CreateProcessInfo.hProcess;
            process_id = event.dwProcessId;
            ::CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            ::CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            fail(L"the installer ended before its wizard showed");
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const auto& exception = event.u.Exception.ExceptionRecord;
            const bool at_breakpoint = breakpoint && exception.ExceptionAddress == breakpoint;
            if (exception.ExceptionCode == EXCEPTION_BREAKPOINT && !breakpoint) {
                set_breakpoint();
            } else if (exception.ExceptionCode == EXCEPTION_BREAKPOINT && at_breakpoint) {
                const vd::unique_handle thread(::OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId));
                CONTEXT context{};
                context.ContextFlags = CONTEXT_CONTROL;
                DWORD stack[4] = {};  // the return address, then the arguments
                if (!thread || !::GetThreadContext(thread.get(), &context) ||
                    !::ReadProcessMemory(process, reinterpret_cast<void*>(context.Esp), stack, sizeof stack, nullptr))
                    fail(L"cannot read the call's arguments");
                mitigation_request request{stack[1], 0, stack[3]};
                ::ReadProcessMemory(process, reinterpret_cast<void*>(stack[2]), &request.flags, sizeof request.flags, nullptr);
                requests.push_back(request);
                // The first instruction runs once, single-stepped, and the breakpoint is set again.
                write(first_byte);
                context.Eip = reinterpret_cast<DWORD>(breakpoint);
                context.EFlags |= 0x100;  // the trap flag
                if (!::SetThreadContext(thread.get(), &context))
                    fail(L"cannot step over the breakpoint");
                stepping_thread = event.dwThreadId;
            } else if (exception.ExceptionCode == EXCEPTION_SINGLE_STEP && event.dwThreadId == stepping_thread) {
                write(0xCC);
                stepping_thread = 0;
            } else {
                continuation = DBG_EXCEPTION_NOT_HANDLED;
            }
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
    }
    if (breakpoint)
        write(first_byte);
    ::DebugSetProcessKillOnExit(FALSE);
    if (!::DebugActiveProcessStop(process_id))
        fail(L"cannot leave the installer: error " + std::to_wstring(::GetLastError()));
    return requests;
}

} // namespace

TEST(installer_e2e, a_quick_installation_in_english) {
    // The installed program notes how the installer started it.
    testing_support::test_folder witness_folder;
    const auto witness = witness_folder / L"witness.log";
    ::SetEnvironmentVariableW(L"STELVANE_STANDIN_WITNESS", witness.c_str());
    installer_process run(setup);
    ::SetEnvironmentVariableW(L"STELVANE_STANDIN_WITNESS", nullptr);
    EXPECT_EQ(text_of(run.main_window()), english.title);
    ASSERT_EQ(run.shown_page(), wizard_page::start);
    EXPECT_EQ(::SendMessageW(run.control(wizard_page::start, language_box), CB_GETCURSEL, 0, 0), english.list_position);
    EXPECT_FALSE(is_enabled(run.button(back_button)));

    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::mode);
    EXPECT_TRUE(is_checked(run.control(wizard_page::mode, quick_choice)));
    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::install) << "a quick installation passes the options page";
    const auto folder = default_install_folder();
    EXPECT_NE(text_of(run.control(wizard_page::install, status_log)).find(L"\"" + folder.wstring() + L"\""), std::wstring::npos);

    ASSERT_NO_FATAL_FAILURE(install_and_exit(run, english));
    expect_installed({folder, english});
    EXPECT_EQ(registration_lines(folder), std::vector<std::wstring>{registration_command(folder)});
    // High priority, shown without activation, in its own folder, the installer's mutex let go.
    std::wstring priority = L"80";
    if (vd::details::running_on_wine()) {
        std::cout << "Wine: CreateProcessW leaves a new process in the normal priority class, whatever class it "
                     "is asked for; the priority is not checked\n";
        priority = L"20";
    }
    EXPECT_EQ(utf8_lines(witness), std::vector<std::wstring>{L"priority " + priority + L", show 4, folder " +
                                                             folder.wstring() + L", installer mutex free"});
}

TEST(installer_e2e, b_advanced_installation_in_german_in_a_typed_folder) {
    remove_installation(default_install_folder(), english.samples);

    installer_process run(setup);
    run.choose(run.control(wizard_page::start, language_box), german.list_position);
    EXPECT_EQ(text_of(run.main_window()), german.title);
    run.click(run.button(next_button));
    run.click(run.control(wizard_page::mode, advanced_choice));
    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::options);
    run.type(run.control(wizard_page::options, folder_edit), typed_folder);
    // The user changes a mind about the desktop link, and both are made.
    const HWND desktop = run.control(wizard_page::options, desktop_choice);
    ASSERT_TRUE(is_checked(desktop));
    run.click(desktop);
    EXPECT_FALSE(is_checked(desktop));
    run.click(desktop);
    EXPECT_TRUE(is_checked(desktop));
    EXPECT_TRUE(is_checked(run.control(wizard_page::options, start_menu_choice)));

    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::install);
    run.click(run.button(back_button));
    ASSERT_EQ(run.shown_page(), wizard_page::options) << "Back returns to the options of an advanced installation";
    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::install);
    const auto summary = text_of(run.control(wizard_page::install, status_log));
    EXPECT_NE(summary.find(std::wstring(typed_folder_normal) + L"\u201C."), std::wstring::npos) << testing::PrintToString(summary);

    ASSERT_NO_FATAL_FAILURE(install_and_exit(run, german));
    expect_installed({typed_folder_normal, german});
    EXPECT_EQ(registration_lines(typed_folder_normal), std::vector<std::wstring>{registration_command(typed_folder_normal)});
}

TEST(installer_e2e, c_second_run_over_the_installed_product) {
    const fs::path folder = typed_folder_normal;
    ASSERT_TRUE(fs::exists(folder / L"Stelvane.exe")) << "runs over the installation of the scenario before";
    // The journal names a link in the user's own Start menu whose folder leads elsewhere: what
    // lies behind it is no link of the product's, and stays.
    const testing_support::test_folder behind;
    testing_support::write_file(behind / L"Stelvane 8.01.lnk", "not the installer's");
    const auto linked_folder = known_folder(FOLDERID_Programs) / L"Stelvane 8 (linked)";
    const testing_support::folder_link link(linked_folder, behind.path());
    name_previous_start_menu_link(folder / L"Uninstall.ulog", linked_folder / L"Stelvane 8.01.lnk");
    // A program has the German library loaded, as the running product has: the installation
    // replaces it all the same, but the replaced one can go only once the program lets go. Should
    // a check below fail, the scenarios after this one still start with no installer's folder.
    struct remove_installer_folders {
        ~remove_installer_folders() {
            for (const auto& name : installer_temp_folders())
                remove_tree(system_temp_folder() / name);
        }
    } whatever_the_checks_find;
    const auto library = folder / L"Languages" / L"Stelvane.de.dll";
    vd::unique_module loaded(::LoadLibraryExW(library.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(loaded) << "error " << ::GetLastError();

    installer_process run(setup);
    EXPECT_EQ(text_of(run.main_window()), german.title) << "the stored language";
    EXPECT_EQ(::SendMessageW(run.control(wizard_page::start, language_box), CB_GETCURSEL, 0, 0), german.list_position);
    run.click(run.button(next_button));
    run.click(run.button(next_button));
    ASSERT_EQ(run.shown_page(), wizard_page::install);
    EXPECT_NE(text_of(run.control(wizard_page::install, status_log)).find(folder.wstring()), std::wstring::npos)
        << "the folder of the installation found";

    // The user puts the wizard away while it installs, and takes it back as it was.
    const auto minimise_and_restore = [&] {
        const auto before = run.layout();
        run.minimise(true);
        EXPECT_FALSE(is_enabled(run.button(next_button))) << "the installation had ended before the minimise";
        run.minimise(false);
        const auto same = [](const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; };
        EXPECT_TRUE(wait_until([&] { return std::ranges::equal(run.layout(), before, same); }, 10s))
            << "the restored wizard is laid out anew";
    };
    ASSERT_NO_FATAL_FAILURE(install_and_exit(run, german, minimise_and_restore));

    // The loaded library's backup waits in the installer's own folder, and the folder with it,
    // both named for the restart, the backup first; after the restart nothing of the run is left
    // (expect_installed).
    const auto own_folders = installer_temp_folders();
    ASSERT_EQ(own_folders.size(), 1u) << "the installer's own folder went with a loaded backup in it";
    const auto own_folder = system_temp_folder() / own_folders.front();
    const auto left = installation_leftovers();
    ASSERT_EQ(left.size(), 1u) << "what the run left beside the loaded library's backup";
    EXPECT_EQ(lower(fs::path(left.front()).parent_path().wstring()), lower(own_folder.wstring()));
    std::vector<std::wstring> deleted;
    for (const auto& path : testing_support::deleted_at_restart())
        deleted.push_back(lower(path.wstring()));
    EXPECT_EQ(deleted, (std::vector{lower(left.front()), lower(own_folder.wstring())}));
    loaded.reset();
    ASSERT_EQ(testing_support::restart_machine(), 0);
    EXPECT_EQ(testing_support::deleted_at_restart(), std::vector<fs::path>{});
    expect_installed({folder, german});
    EXPECT_EQ(registration_lines(folder), std::vector<std::wstring>(2, registration_command(folder)));
    EXPECT_EQ(testing_support::read_file(behind / L"Stelvane 8.01.lnk"), "not the installer's")
        << "a previous link reached through a link was put aside and deleted";
}

TEST(installer_e2e, d_update_from_the_older_release) {
    const fs::path folder = typed_folder_normal;
    const auto program = folder / L"Stelvane.exe";
    ASSERT_TRUE(fs::exists(program)) << "runs over the installation of the scenario before";
    ::SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::copy_file(windows_path(STELVANE_PROGRAM_OLDER_EXE), program, fs::copy_options::overwrite_existing);
    record_program(program);
    const auto payload = payload_of(setup);
    const auto sample = std::ranges::find(payload.records, static_cast<std::uint32_t>(payload_kind::sample), &payload_file::kind);
    ASSERT_NE(sample, payload.records.end());
    const auto removed = target_of(*sample, folder, german.samples);
    ASSERT_TRUE(fs::remove(removed)) << removed;

    installer_process run(setup);
    EXPECT_NE(text_of(run.control(wizard_page::start, state_text)).find(L"8.00"), std::wstring::npos);
    run.click(run.button(next_button));
    run.click(run.button(next_button));
    ASSERT_NO_FATAL_FAILURE(install_and_exit(run, german));

    expect_installed({folder, german, {removed}});
    const auto lines = registration_lines(folder);
    ASSERT_EQ(lines.size(), 3u);
    // The replaced release's version, 8.0.0.3, in 16 lower-case hexadecimal digits.
    EXPECT_EQ(lines.back(), registration_command(folder) + L" /update=0008000000000003");
}

TEST(installer_e2e, e_a_newer_installed_release_is_left_alone) {
    const fs::path folder = typed_folder_normal;
    ASSERT_TRUE(fs::exists(folder / L"Stelvane.exe")) << "runs over the installation of the scenario before";
    const testing_support::test_folder newer;
    const auto newer_program = newer / L"Stelvane.exe";
    fs::copy_file(windows_path(NEWER_STANDIN_EXE), newer_program);
    record_program(newer_program);

    const auto machine = [&] {
        std::vector<tree_snapshot> trees;
        for (const auto& tree : {folder, known_folder(FOLDERID_ProgramData) / L"Vandrel", known_folder(FOLDERID_RoamingAppData) / L"Vandrel",
                                 known_folder(FOLDERID_PublicDesktop), known_folder(FOLDERID_CommonPrograms)})
            trees.push_back(snapshot(tree));
        return std::make_tuple(trees, values_of(HKEY_LOCAL_MACHINE, uninstall_key), values_of(HKEY_LOCAL_MACHINE, maker_key),
                               installation_leftovers());
    };
    const auto before = machine();

    installer_process run(setup);
    EXPECT_NE(text_of(run.control(wizard_page::start, state_text)).find(L"8.02"), std::wstring::npos);
    EXPECT_FALSE(is_enabled(run.button(next_button)));
    run.post_click(run.button(cancel_button));
    const auto exit_code = run.wait_for_exit(30s);
    if (!exit_code) {
        const HWND box = run.other_dialog();
        FAIL() << "Cancel did not end the wizard; " << (box ? "it asked: " + testing::PrintToString(text_of(::GetDlgItem(box, 0xFFFF))) : "");
    }
    EXPECT_EQ(*exit_code, 0);
    EXPECT_TRUE(before == machine()) << "the machine changed";
    record_program(folder / L"Stelvane.exe");
}

// A payload without the uninstaller installs all the same, but there is nowhere to put the
// journal: its line fails, nothing is written to the folder the installer runs in, and the files
// it replaced do not stay behind as backups.
TEST(installer_e2e, f_a_payload_without_an_uninstaller_writes_no_journal) {
    ASSERT_TRUE(fs::exists(fs::path(typed_folder_normal) / L"Stelvane.exe")) << "runs over the installation of the scenarios before";
    const auto payload = payload_of(setup);
    std::vector<payload_item> items;
    for (std::size_t i = 0; i < payload.records.size(); ++i) {
        const auto& record = payload.records[i];
        if (static_cast<payload_kind>(record.kind) != payload_kind::uninstaller)
            items.push_back({record.source_path, record.target, static_cast<payload_kind>(record.kind), payload.contents[i]});
    }
    ASSERT_EQ(items.size() + 1, payload.records.size());
    const testing_support::test_folder variant_folder;
    const auto variant = variant_folder / L"StelvaneSetup.exe";
    write_setup_with_payload(setup, variant, testing_support::stored_payload(items));

    const testing_support::test_folder current;
    installer_process run(variant, current.path());
    ASSERT_NO_FATAL_FAILURE(install_with_defaults(run));
    const auto log = text_of(run.control(wizard_page::install, status_log));
    EXPECT_NE(log.find(L"Installationsdaten werden geschrieben...Fehlgeschlagen\r\n"), std::wstring::npos)
        << testing::PrintToString(log);
    ASSERT_EQ(text_of(run.button(next_button)), german.next) << "the installation still ends well";
    run.click(run.button(next_button));
    run.post_click(run.button(cancel_button));
    EXPECT_EQ(run.wait_for_exit(30s), 0);
    EXPECT_TRUE(fs::is_empty(current.path())) << "something was written to the installer's current folder";
    EXPECT_EQ(installation_leftovers(), std::vector<std::wstring>{}) << "work folder or backups left in the temporary folder";
    EXPECT_EQ(installer_temp_folders(), std::vector<std::wstring>{}) << "the installer's own temporary folder outlived it";
}

// Libraries planted beside a copy of the installer and in its current folder, under the names of
// those it imports or loads and of those that the system's own libraries load by name. Wine is
// told to prefer the planted copies, as Windows prefers a library in the program's folder to any
// other outside its list of known libraries; not one may be loaded.
TEST(installer_e2e, f_libraries_planted_beside_it_are_not_loaded) {
    std::vector<std::wstring> planted;  // the installer's imports first
    std::wistringstream imports(SETUP_IMPORTS);
    for (std::wstring name; std::getline(imports, name, L',');)
        planted.push_back(name);
    planted.insert(planted.end(), {L"bcrypt", L"cryptbase", L"dwmapi", L"propsys", L"version", L"uxtheme"});
    // comctl32 comes through the manifest's assembly, under Wine as well. The others are planted
    // but not preferred: Wine keeps no list of known libraries and would take a planted user32
    // even for the import table; Wine's own user32 imports version.dll, which Windows' does not;
    // and Wine's own libraries delay-load uxtheme.dll by the search order that the process
    // started with, whatever SetDefaultDllDirectories said since.
    const std::vector<std::wstring> preferred = {L"bcrypt", L"cryptbase", L"dwmapi", L"propsys", L"comctl32"};

    const testing_support::test_folder program_folder;
    const testing_support::test_folder current_folder;
    const auto copy = program_folder / setup.filename();
    fs::copy_file(setup, copy);
    for (const auto* folder : {&program_folder, &current_folder}) {
        for (const auto& name : planted)
            fs::copy_file(windows_path(LIBRARY_MARKER_DLL), *folder / (name + L".dll"));
    }
    {
        const preferred_libraries prefer(copy, preferred);
        installer_process run(copy, current_folder.path());
        ASSERT_EQ(run.shown_page(), wizard_page::start);
        ASSERT_NO_FATAL_FAILURE(cancel_at_start(run));
    }

    std::vector<fs::path> loaded;
    for (const auto* folder : {&program_folder, &current_folder}) {
        for (const auto& entry : fs::directory_iterator(folder->path())) {
            if (entry.path().extension() == L".loaded")
                loaded.push_back(entry.path().filename());
        }
    }
    EXPECT_EQ(loaded, std::vector<fs::path>{}) << "planted libraries that the installer loaded";
}

// Before anything of the installer follows a path, it asks the system to follow no junction that
// a user made: the request comes from a start-up initialiser, which a test of the function alone
// does not see go.
TEST(installer_e2e, f_the_installer_asks_for_the_redirection_guard_at_start_up) {
    installer_process run(setup, no_wait, {}, DEBUG_ONLY_THIS_PROCESS);
    const auto requests = mitigation_requests_until_the_wizard(run);
    // The wizard goes first, so that the scenarios after this one find no installer left.
    ASSERT_EQ(run.shown_page(), wizard_page::start);
    ASSERT_NO_FATAL_FAILURE(cancel_at_start(run));

    std::wostringstream asked;
    for (const auto& request : requests)
        asked << L" policy " << request.policy << L", flags " << request.flags << L", length " << request.length << L";";
    const auto guard = std::ranges::find_if(requests, [](const mitigation_request& request) {
        return request.policy == static_cast<DWORD>(ProcessRedirectionTrustPolicy);
    });
    ASSERT_TRUE(guard != requests.end()) << "no ProcessRedirectionTrustPolicy among the requests:" << asked.str();
    EXPECT_EQ(guard->flags, 1u) << "EnforceRedirectionTrust, and not the audit flag";
    EXPECT_EQ(guard->length, sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY));
}

// A link where the installer writes below a folder users can change: the shared data folder,
// the product's folder in the user's own application data, or the shared file there.
TEST(installer_e2e, g_a_link_in_place_of_a_folder_users_can_change_is_refused) {
    remove_installation(typed_folder_normal, german.samples);
    const auto shared_data = known_folder(FOLDERID_ProgramData) / L"Vandrel";
    const auto user_data = known_folder(FOLDERID_RoamingAppData) / L"Vandrel";
    // Stands for a folder that users may not change, the system folder for one.
    const fs::path other_folder = L"C:\\target";
    struct link_case {
        fs::path link;
        fs::path refused_file;
        fs::path target;
        testing_support::link_to kind = testing_support::link_to::folder;
    };
    const auto materials = user_data / L"Stelvane 8" / L"User Materials.vlib";
    const link_case cases[] = {
        {shared_data, shared_data / L"Stelvane 8", other_folder},
        {user_data / L"Stelvane 8", materials, other_folder},
        // Shown as a plain file by Wine, by its name and through its handle alike.
        {materials, materials, other_folder / L"kept.dll", testing_support::link_to::file},
    };
    for (const auto& link_case : cases) {
        SCOPED_TRACE(link_case.link.string());
        remove_tree(shared_data);
        remove_tree(user_data);
        fs::create_directories(link_case.link.parent_path());
        testing_support::write_file(other_folder / L"kept.dll", "kept");
        const auto entries = [&] {
            std::vector<fs::path> found;
            for (const auto& entry : fs::recursive_directory_iterator(other_folder))
                found.push_back(entry.path());
            return std::make_pair(found, snapshot(other_folder));
        };
        const auto before = entries();
        const testing_support::folder_link link(link_case.link, link_case.target, link_case.kind);

        installer_process run(setup);
        ASSERT_NO_FATAL_FAILURE(install_with_defaults(run));
        EXPECT_EQ(text_of(run.control(wizard_page::install, hint_label)), L"Installation failed (Error Code 1:0000112B).");
        const auto log = text_of(run.control(wizard_page::install, status_log));
        EXPECT_NE(log.find(L"Copying File \"" + link_case.refused_file.wstring()), std::wstring::npos)
            << "the refused file's line: " << testing::PrintToString(log);
        EXPECT_TRUE(log.ends_with(L"Failed\r\n")) << testing::PrintToString(log);
        EXPECT_EQ(text_of(run.button(next_button)), english.install) << "nothing was installed";

        ASSERT_NO_FATAL_FAILURE(cancel_and_confirm(run));

        EXPECT_TRUE(entries() == before) << "the installer wrote through the link";
        EXPECT_FALSE(fs::exists(default_install_folder())) << "the installation was rolled back";
        EXPECT_TRUE(values_of(HKEY_LOCAL_MACHINE, uninstall_key).empty());
        EXPECT_EQ(installation_leftovers(), std::vector<std::wstring>{});
    }
    remove_tree(user_data);
}

// The user's temporary folder is reached through a link, which the user's program points at
// another folder of the user's once the installer has started; the installer's own folder, were
// it in the first, would appear again in the other. Nothing of the installer's lands in either
// while it runs, and the installation completes.
TEST(installer_e2e, h_a_temporary_folder_through_a_link_that_moves_is_not_used) {
    const testing_support::test_folder users_folder;
    const auto first = users_folder / L"first";
    const auto second = users_folder / L"second";
    fs::create_directory(first);
    fs::create_directory(second);
    const auto temporary = users_folder / L"Temp";
    std::optional<testing_support::folder_link> link(std::in_place, temporary, first);

    std::optional<installer_process> run;
    {
        const testing_support::environment_scope tmp(L"TMP", temporary.c_str());
        const testing_support::environment_scope temp(L"TEMP", temporary.c_str());
        run.emplace(setup);
    }
    EXPECT_EQ(installer_temp_folders().size(), 1u) << "the installer's own folder is made at start-up";
    std::vector<fs::path> mirrored;
    for (const auto& entry : fs::directory_iterator(first))
        fs::create_directory(mirrored.emplace_back(second / entry.path().filename()));
    link.reset();
    link.emplace(temporary, second);

    // What appears in the user's folders while the installer runs, but what the user's program
    // put there; read once the watcher has stopped.
    std::set<fs::path> landed;
    {
        const std::jthread watcher([&](std::stop_token stop) {
            for (; !stop.stop_requested(); ::Sleep(5)) {
                for (const auto& folder : {first, second}) {
                    std::error_code error;
                    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
                         !error && it != end; it.increment(error)) {
                        if (std::ranges::find(mirrored, it->path()) == mirrored.end())
                            landed.insert(it->path());
                    }
                }
            }
        });
        run->click(run->button(next_button));
        run->click(run->button(next_button));
        ASSERT_NO_FATAL_FAILURE(install_and_exit(*run, english));
    }
    EXPECT_EQ(landed, std::set<fs::path>{}) << "the installer's files in the user's folders";
    expect_installed({default_install_folder(), english});
}

// A user's note lies directly in each folder users can change; a payload replaces all four and
// its last file fails its check. The installation fails and is rolled back: every note is back
// with its bytes, its attributes and its modification time, and no backup stays behind. But one
// installed note is held meanwhile by another program that lets nobody delete it: after a while
// the page names it, with the copy of the user's note that is kept beside it.
TEST(installer_e2e, i_a_failed_installation_puts_back_a_users_file_directly_in_each_folder_users_can_change) {
    const std::pair<const wchar_t*, fs::path> bases[] = {
        {L"<CommonDesktop>", known_folder(FOLDERID_PublicDesktop)},
        {L"<Desktop>", known_folder(FOLDERID_Desktop)},
        {L"<CommonData>", known_folder(FOLDERID_ProgramData)},
        {L"<UserData>", known_folder(FOLDERID_RoamingAppData)},
    };
    std::vector<payload_item> items;
    std::vector<fs::path> notes;
    const FILETIME written{0x65432100, 0x01D00000};
    for (const auto& [folder_template, folder] : bases) {
        items.push_back({L"C:\\build\\My own note.txt", folder_template, payload_kind::ordinary, std::string("the installation's")});
        notes.push_back(folder / L"My own note.txt");
        testing_support::write_file(notes.back(), "the user's own");
        const vd::unique_file held(::CreateFileW(notes.back().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held && ::SetFileTime(held.get(), nullptr, nullptr, &written));
        ASSERT_TRUE(::SetFileAttributesW(notes.back().c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const testing_support::removed_at_end remove_later{notes};
    // Time for the holder to take the note: many megabytes between it and the failing file.
    items.insert(items.end() - 1, {L"C:\\build\\filler.bin", L"<InstallPath>", payload_kind::ordinary, std::string(64 << 20, 'f')});
    auto inflated = testing_support::inflated_payload(items);
    inflated.back() ^= 1;
    const testing_support::test_folder variant_folder;
    const auto variant = variant_folder / L"StelvaneSetup.exe";
    write_setup_with_payload(setup, variant, compress_payload(inflated));

    // Another program takes the installed note once it is whole and the installer has let go of it.
    const auto held_note = notes[2];
    file_holder holder(held_note, "the installation's");

    installer_process run(variant);
    ASSERT_NO_FATAL_FAILURE(install_with_defaults(run));
    EXPECT_EQ(text_of(run.control(wizard_page::install, hint_label)), L"Installation failed (Error Code 3).");
    const auto log = text_of(run.control(wizard_page::install, status_log));
    ASSERT_NO_FATAL_FAILURE(cancel_and_confirm(run));
    ASSERT_TRUE(holder.release()) << "the installed note was never held";

    // The page says it in words, the note and the copy each on a line of their own. The copy lies
    // beside the note, not in the installer's temporary folder, under a name of its own, and holds
    // the user's bytes; the note itself is still the installation's.
    const auto named = L"\nCould not be put back as it was:\r\n    " + held_note.wstring() +
                       L"\r\nYour own file is kept as:\r\n    ";
    const auto at = log.find(named);
    ASSERT_NE(at, std::wstring::npos) << "not named on the page:\n" << fs::path(log).string();
    const auto copy_at = at + named.size();
    std::vector<fs::path> kept{log.substr(copy_at, log.find(L"\r\n", copy_at) - copy_at)};
    const testing_support::removed_at_end remove_kept{kept};
    EXPECT_EQ(lower(kept[0].parent_path().wstring()), lower(held_note.parent_path().wstring())) << kept[0].string();
    EXPECT_FALSE(lower(kept[0].wstring()).starts_with(lower(system_temp_folder().wstring()))) << kept[0].string();
    EXPECT_TRUE(std::regex_match(kept[0].filename().wstring(), std::wregex(L"My own note \\(vd-[0-9a-f]{5}\\)\\.txt")))
        << kept[0].string();
    EXPECT_EQ(testing_support::read_file(kept[0]), "the user's own");
    EXPECT_EQ(testing_support::read_file(held_note), "the installation's");

    for (const auto& note : notes) {
        if (note == held_note)
            continue;
        SCOPED_TRACE(note.string());
        EXPECT_EQ(testing_support::read_file(note), "the user's own") << fs::path(log).string();
        WIN32_FILE_ATTRIBUTE_DATA put_back{};
        ASSERT_TRUE(::GetFileAttributesExW(note.c_str(), GetFileExInfoStandard, &put_back));
        EXPECT_EQ(put_back.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(::CompareFileTime(&put_back.ftLastWriteTime, &written), 0) << "modification time";
    }
    EXPECT_EQ(installation_leftovers(), std::vector<std::wstring>{}) << "work folder or backups left in the temporary folder";
}
