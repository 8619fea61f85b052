#include "e2e/fault_matrix.hpp"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>

#include "e2e/fault_machine.hpp"
#include "e2e/fault_points.hpp"
#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"
#include "foundation/text/conversions.hpp"
#include "support/damaged_payloads.hpp"
#include "support/test_folder.hpp"

namespace fs = std::filesystem;

namespace e2e {

namespace {

using steady = std::chrono::steady_clock;

constexpr wchar_t samples_name[] = L"Stelvane Examples";
constexpr wchar_t program_path_value[] = L"Stelvane 8 Path";
constexpr wchar_t install_label[] = L"Install";
constexpr wchar_t next_label[] = L"Next >";

// The previous installation that every run starts from, on the small disk F:.
struct fault_world {
    fs::path install_folder = L"F:\\Vandrel\\Stelvane 8";
    // Where the installer makes its own folder; fault_prefix.sh puts it on the small disk.
    fs::path temporary_folder = system_temp_folder();
    installation_plan plan;
    std::unique_ptr<watched_machine> machine;
    std::string old_journal;
    std::size_t registrations = 0;
    // The shared files, which the previous installation made and a reinstallation leaves.
    std::vector<std::pair<fs::path, std::string>> shared;
};

fault_world* world = nullptr;

struct report_row {
    std::wstring point;
    std::wstring made_to_fail;
    std::wstring outcome;
    bool passed = false;
    double seconds = 0;
};

std::vector<report_row> rows;

// The status lines after the separator that opens the installation's part of the log.
std::vector<std::wstring> status_lines(const std::wstring& log) {
    std::vector<std::wstring> lines;
    const auto start = log.find(std::wstring(45, L'\u2500'));
    if (start == std::wstring::npos)
        return lines;
    for (auto begin = log.find(L"\r\n", start) + 2; begin < log.size();) {
        auto end = log.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = log.size();
        lines.push_back(log.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::wstring joined(const std::vector<std::wstring>& lines, std::size_t most = 6) {
    std::wstring text;
    for (std::size_t i = 0; i < lines.size() && i < most; ++i)
        text += (i ? L"; " : L"") + lines[i];
    if (lines.size() > most)
        text += L"; and " + std::to_wstring(lines.size() - most) + L" more";
    return text;
}

// Start page, mode page and the install page of a quick reinstallation, then the installation.
// The log and the hint when it has ended.
struct run_result {
    std::wstring log;
    std::wstring hint;
    std::wstring next;
};

run_result install_over(installer_process& run) {
    run.click(run.button(next_button));
    run.click(run.button(next_button));
    if (run.shown_page() != wizard_page::install)
        fail(L"the wizard did not reach its install page");
    if (text_of(run.button(next_button)) != install_label)
        fail(L"the install page offers " + text_of(run.button(next_button)) + L" instead of Install");
    run.install();
    return {text_of(run.control(wizard_page::install, status_log)),
            text_of(run.control(wizard_page::install, hint_label)), text_of(run.button(next_button))};
}

// Ends the installer as a user would: Next and Exit once installed, else Cancel and Yes.
void end_run(installer_process& run, bool installed) {
    if (installed) {
        run.click(run.button(next_button));
        run.post_click(run.button(cancel_button));
    } else {
        run.post_click(run.button(cancel_button));
        HWND box = nullptr;
        if (!wait_until([&] { return (box = run.other_dialog()) != nullptr; }, 20s))
            fail(L"Cancel asked nothing");
        ::PostMessageW(::GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    }
    const auto code = run.wait_for_exit(30s);
    if (!code)
        fail(L"the installer did not end");
    if (*code != 0)
        fail(L"the installer ended with " + std::to_wstring(*code));
    if (!installer_temp_folders().empty())
        fail(L"the installer's own temporary folder outlived it: " + joined(installer_temp_folders()));
}

std::wstring leftovers_text() {
    const auto found = installation_leftovers();
    return found.empty() ? L"" : L"left in the temporary folder: " + joined(found);
}

// The running installer's own temporary folder is there until it ends (end_run sees that it
// goes then); what lies in it still counts.
bool is_own_temp_folder_added(const std::wstring& line) {
    const auto prefix = L"added: " + (world->temporary_folder / L"vandrel_setup_{").wstring();
    if (line.size() <= prefix.size() || ::CompareStringOrdinal(line.data(), static_cast<int>(prefix.size()), prefix.data(),
                                                               static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL)
        return false;
    const auto rest = std::wstring_view(line).substr(prefix.size());
    return rest.find(L'\\') == std::wstring_view::npos && rest.find(L"} (folder,") != std::wstring_view::npos;
}

// The checks of a run that must have failed in the extraction and changed nothing. Problems
// found, empty when it went as it must.
std::vector<std::wstring> check_rolled_back(const run_result& result, const std::wstring& failed_line,
                                            const std::wstring& code, const machine_state& before) {
    std::vector<std::wstring> problems;
    const auto lines = status_lines(result.log);
    if (!failed_line.empty() && (lines.empty() || !std::regex_match(lines.back(), std::wregex(failed_line, std::regex::icase))))
        problems.push_back(L"last line " + (lines.empty() ? L"missing" : L"\"" + lines.back() + L"\""));
    if (!lines.empty() && !lines.back().ends_with(L"Failed"))
        problems.push_back(L"the last line does not read Failed");
    const std::wstring hint = L"Installation failed \\(Error Code (" + (code.empty() ? L"[3-7]" : code) + L")\\)\\.";
    if (!std::regex_match(result.hint, std::wregex(hint)))
        problems.push_back(L"hint \"" + result.hint + L"\"");
    if (result.next != install_label)
        problems.push_back(L"the button reads \"" + result.next + L"\", not Install");
    for (auto& line : machine_differences(before, world->machine->capture())) {
        if (!is_own_temp_folder_added(line))
            problems.push_back(std::move(line));
    }
    if (auto left = leftovers_text(); !left.empty())
        problems.push_back(left);
    return problems;
}

std::wstring regex_escaped(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (std::wstring_view(L"\\^$.|?*+()[]{}").find(c) != std::wstring_view::npos)
            escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

// The line of a written file that failed: its target, or for a set-up file any work folder in
// the installer's own temporary folder. Matched without regard to case: the installer names its
// folder as the system spells it on disk (Wine: "C:\windows\temp").
std::wstring failed_file_line(const written_file& file) {
    const auto work_folder = regex_escaped(world->temporary_folder.wstring() + L"\\vandrel_setup_{") +
                             L"[0-9a-f-]{36}\\}\\\\vandrel_\\{[0-9a-f-]{36}\\}";
    const auto target = file.target.empty() ? work_folder + L"\\\\" + regex_escaped(file.name)
                                            : regex_escaped(file.target.wstring());
    return L"Copying File \"" + target + L"\"\\.\\.\\.Failed";
}

// Every step but the failed one went through: the files, the links, DirectX, the uninstall
// entry, the program path value, the registration run and the journal.
std::vector<std::wstring> check_other_steps(const run_result& result, later_step failed) {
    std::vector<std::wstring> problems;
    if (result.next != next_label)
        problems.push_back(L"the installation did not end well: " + result.hint);
    bool failed_line_seen = false;
    for (const auto& line : status_lines(result.log)) {
        const bool is_failed_step = line.starts_with(step_line(failed));
        failed_line_seen = failed_line_seen || is_failed_step;
        if (!line.ends_with(is_failed_step ? L"Failed" : L"OK"))
            problems.push_back(L"line \"" + line + L"\"");
    }
    if (!failed_line_seen)
        problems.push_back(L"no line " + step_line(failed));

    const auto& plan = world->plan;
    for (const auto& file : plan.written) {
        if (file.target.empty())
            continue;
        const auto& record = plan.payload.records[file.record];
        std::error_code error;
        if (!fs::exists(file.target, error) || fs::file_size(file.target) != record.size ||
            file_crc(file.target) != record.crc)
            problems.push_back(L"not installed: " + file.target.wstring());
    }
    for (const auto& [target, bytes] : world->shared) {
        if (testing_support::read_file(target) != bytes)
            problems.push_back(L"a shared file written again: " + target.wstring());
    }
    const auto program = (world->install_folder / L"Stelvane.exe").wstring();
    const auto uninstaller = (world->install_folder / L"Uninstall.exe").wstring();
    if (failed != later_step::start_menu_link && link_target(start_menu_link()) != program)
        problems.push_back(L"no Start-menu link to the program");
    if (failed != later_step::desktop_link && link_target(desktop_link()) != program)
        problems.push_back(L"no desktop link to the program");
    if (failed != later_step::directx && result.log.find(L"Updating DirectX...OK") == std::wstring::npos)
        problems.push_back(L"DirectX was not set up");
    const auto uninstall = values_of(HKEY_LOCAL_MACHINE, product_uninstall_key);
    const bool entry_written = string_value(uninstall, L"DisplayName") == L"Stelvane 8.01" &&
                               string_value(uninstall, L"UninstallString") == uninstaller;
    if (failed != later_step::uninstall_key && !entry_written)
        problems.push_back(L"no uninstall entry");
    const auto maker = values_of(HKEY_LOCAL_MACHINE, maker_machine_key);
    if (failed != later_step::program_path_value && string_value(maker, program_path_value) != program)
        problems.push_back(L"no program path value");
    const auto registration = world->install_folder / L"Registration.log";
    if (failed == later_step::registration) {
        if (!fs::is_directory(registration))
            problems.push_back(L"the registration log's folder went");
    } else {
        const auto lines = registration_lines(world->install_folder);
        if (lines.size() != world->registrations + 1 || lines.back() != L"\"" + program + L"\" /Register /Background")
            problems.push_back(L"the program did not register itself");
    }
    const auto journal = world->install_folder / L"Uninstall.ulog";
    const auto journal_bytes = testing_support::read_file(journal);
    if (failed == later_step::journal) {
        if (journal_bytes != world->old_journal)
            problems.push_back(L"the old journal changed");
    } else {
        const auto lines = read_journal(journal).lines;
        if (journal_bytes == world->old_journal || lines.empty() || lines.front() != L"// Uninstall Log File v1")
            problems.push_back(L"the journal was not written");
        if (fs::exists(journal.wstring() + L".new"))
            problems.push_back(L"Uninstall.ulog.new left");
    }
    if (!(::GetFileAttributesW(journal.c_str()) & FILE_ATTRIBUTE_READONLY))
        problems.push_back(L"the journal is not read-only");
    if (auto left = leftovers_text(); !left.empty())
        problems.push_back(left);
    return problems;
}

void record_row(report_row row, steady::time_point start) {
    row.seconds = std::chrono::duration<double>(steady::now() - start).count();
    rows.push_back(std::move(row));
}

// A run's row with what went wrong in it, each problem a test failure as well.
void record_row(report_row row, steady::time_point start, const std::vector<std::wstring>& problems) {
    for (const auto& problem : problems)
        ADD_FAILURE() << vd::wide_to_utf8(problem);
    if (!problems.empty())
        row.outcome += L" PROBLEMS: " + joined(problems);
    row.passed = problems.empty();
    record_row(std::move(row), start);
}

void run_point(const fault_point& point) {
    const auto start = steady::now();
    report_row row{point.where, describe(point.how), L"", false};
    if (point.how == failure::full_disk && !world->plan.small_disk_limited) {
        const std::wstring reason = L"skipped: F: has no size limit (no tmpfs could be mounted)";
        row.outcome = reason;
        row.passed = true;
        record_row(std::move(row), start);
        GTEST_SKIP() << vd::wide_to_utf8(reason);
    }
    std::vector<std::wstring> problems;
    try {
        world->machine->restore();
        fault_injection injection(world->plan, point);
        const auto before = world->machine->capture();
        injection.hold();
        installer_process run(injection.setup());
        injection.after_start();
        const auto result = install_over(run);
        injection.release();
        if (point.file) {
            const auto& file = world->plan.written[*point.file];
            problems = check_rolled_back(result, failed_file_line(file), expected_code(point.how), before);
            const auto lines = status_lines(result.log);
            row.outcome = L"\"" + (lines.empty() ? L"" : lines.back()) + L"\", " + result.hint;
            if (problems.empty())
                row.outcome += L" Everything as before.";
            end_run(run, false);
        } else {
            problems = check_other_steps(result, *point.step);
            row.outcome = L"\"" + step_line(*point.step) + L"Failed\"";
            if (problems.empty())
                row.outcome += L", every other step done.";
            end_run(run, result.next == next_label);
        }
    } catch (const std::exception& e) {
        problems.push_back(L"the run broke off: " + vd::utf8_to_wide(e.what()));
    }
    record_row(std::move(row), start, problems);
}

void run_damaged(const testing_support::damaged_payload_case& c) {
    const auto start = steady::now();
    report_row row{L"the payload resource", vd::utf8_to_wide(c.name), L"", false};
    std::vector<std::wstring> problems;
    const fs::path variant = L"C:\\faults\\StelvaneSetup.exe";
    try {
        world->machine->restore();
        write_setup_with_payload(world->plan.setup, variant, c.stored);
        const auto before = world->machine->capture();
        installer_process run(variant);
        const auto result = install_over(run);
        const bool installed = result.next == next_label;
        if (!c.code) {
            // Decoded to the payload as built: it installs like the payload itself.
            if (!installed)
                problems.push_back(L"decodes to the payload as built, yet failed: " + result.hint);
            row.outcome = L"decodes to the payload as built; " + (installed ? std::wstring(L"installed") : result.hint);
        } else {
            const auto code = *c.code == testing_support::any_compress_code ? L"" : std::to_wstring(*c.code);
            problems = check_rolled_back(result, L"", code, before);
            row.outcome = result.hint + (problems.empty() ? L" Nothing installed." : L"");
        }
        end_run(run, installed);
    } catch (const std::exception& e) {
        problems.push_back(L"the run broke off: " + vd::utf8_to_wide(e.what()));
    }
    ::DeleteFileW(variant.c_str());
    record_row(std::move(row), start, problems);
}

// The first installation, into F:, then every file it wrote given contents of its own, so
// that a file written again or not put back shows.
std::unique_ptr<fault_world> make_world() {
    auto made = std::make_unique<fault_world>();
    const fs::path setup = windows_path(STELVANE_SETUP_EXE);
    disk_space(made->install_folder.root_path());  // throws when there is no drive F:
    {
        installer_process run(setup);
        run.click(run.button(next_button));
        run.click(run.control(wizard_page::mode, advanced_choice));
        run.click(run.button(next_button));
        run.type(run.control(wizard_page::options, folder_edit), made->install_folder.wstring());
        run.click(run.button(next_button));
        run.install();
        if (text_of(run.button(next_button)) != next_label)
            fail(L"the first installation failed: " + text_of(run.control(wizard_page::install, status_log)));
        end_run(run, true);
    }
    const auto payload = payload_of(setup);
    for (const auto& record : payload.records) {
        const auto target = target_of(record, made->install_folder, samples_name);
        if (target.empty() || !fs::exists(target))
            continue;
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        const auto bytes = "the previous installation's " + vd::wide_to_utf8(record.file_name()) + "\r\n";
        testing_support::write_file(target, bytes);
        ::SetFileAttributesW(target.c_str(), attributes);
        if (static_cast<payload_kind>(record.kind) == payload_kind::shared)
            made->shared.emplace_back(target, bytes);
    }
    made->plan = make_plan(setup, made->install_folder, made->temporary_folder, samples_name);
    made->old_journal = testing_support::read_file(made->install_folder / L"Uninstall.ulog");
    made->registrations = registration_lines(made->install_folder).size();
    made->machine = std::make_unique<watched_machine>(std::vector<fs::path>{
        L"F:\\Vandrel", made->temporary_folder, known_folder(FOLDERID_ProgramData) / L"Vandrel",
        known_folder(FOLDERID_RoamingAppData) / L"Vandrel", known_folder(FOLDERID_PublicDesktop),
        known_folder(FOLDERID_CommonPrograms), known_folder(FOLDERID_ProgramFiles) / L"Vandrel"});
    made->machine->save();
    return made;
}

using damaged_cases = std::vector<testing_support::damaged_payload_case>;

damaged_cases chosen_cases(damaged_cases all, bool every) {
    if (every)
        return all;
    // Every 50th, and the first of each outcome.
    damaged_cases chosen;
    std::vector<std::optional<int>> outcomes;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const bool new_outcome = std::ranges::find(outcomes, all[i].code) == outcomes.end();
        if (new_outcome)
            outcomes.push_back(all[i].code);
        if (i % 50 == 0 || new_outcome)
            chosen.push_back(std::move(all[i]));
    }
    return chosen;
}

void write_report(const fs::path& file, bool every, double seconds) {
    std::size_t passed = 0;
    std::size_t width[3] = {5, 15, 7};
    for (const auto& row : rows) {
        passed += row.passed;
        width[0] = std::max(width[0], row.point.size());
        width[1] = std::max(width[1], row.made_to_fail.size());
    }
    const auto cell = [](const std::wstring& text, std::size_t size) {
        return text + std::wstring(size - std::min(size, text.size()), L' ');
    };
    const std::wstring matrix = every ? L"every point in every way and every damaged payload" : L"the fixed subset";
    std::wstring text = L"Fault injection over whole installations by StelvaneSetup.exe under Wine, each over the\r\n"
                        L"same previous installation on a small disk F:. Matrix: " + matrix + L". " +
                        std::to_wstring(passed) + L" of " + std::to_wstring(rows.size()) + L" passed in " +
                        std::to_wstring(static_cast<int>(seconds)) + L" s.\r\n\r\n";
    text += cell(L"point", width[0]) + L" | " + cell(L"made to fail by", width[1]) + L" | result | seconds | outcome\r\n";
    for (const auto& row : rows) {
        wchar_t duration[16];
        std::swprintf(duration, 16, L"%7.1f", row.seconds);
        text += cell(row.point, width[0]) + L" | " + cell(row.made_to_fail, width[1]) + L" | " +
                (row.passed ? L"pass  " : L"FAIL  ") + L" | " + duration + L" | " + row.outcome + L"\r\n";
    }
    const auto utf8 = vd::wide_to_utf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    if (!file.empty())
        testing_support::write_file(file, utf8);
}

template <class Body>
class fault_test : public testing::Test {
public:
    explicit fault_test(Body body) : body_(std::move(body)) {}
    void TestBody() override { body_(); }

private:
    Body body_;
};

template <class Body>
void register_test(const char* suite, const std::string& name, Body body) {
    testing::RegisterTest(suite, name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                          [body]() -> testing::Test* { return new fault_test<Body>(body); });
}

} // namespace

int run_fault_matrix(bool every, const fs::path& report) {
    const auto start = steady::now();
    std::unique_ptr<fault_world> made;
    try {
        made = make_world();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot make the previous installation: %s\n", e.what());
        return 1;
    }
    world = made.get();
    auto points = every ? every_point(world->plan) : quick_points(world->plan);
    for (const auto& point : points)
        register_test("fault_point", point.id, [point] { run_point(point); });
    const auto cases = chosen_cases(testing_support::damaged_payloads(world->plan.stored), every);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "case_%03zu", i);
        register_test("damaged_payload", name, [c = cases[i]] { run_damaged(c); });
    }
    const int result = RUN_ALL_TESTS();
    write_report(report, every, std::chrono::duration<double>(steady::now() - start).count());
    return result;
}

} // namespace e2e
