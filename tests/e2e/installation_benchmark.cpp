#include "e2e/installation_benchmark.hpp"

#include <shlobj.h>

#include <cstdio>
#include <thread>

#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"

namespace fs = std::filesystem;

namespace e2e {

namespace {

using clock_type = std::chrono::steady_clock;

// Finer than the tests' polling, which would add up to its period to every time.
constexpr auto poll = 2ms;
constexpr auto installation_timeout = 900s;

void clear_machine(const fs::path& install_folder) {
    forget_installation();
    remove_tree(install_folder);
    remove_tree(known_folder(FOLDERID_ProgramData) / L"Vandrel");
    remove_tree(known_folder(FOLDERID_RoamingAppData) / L"Vandrel");
    remove_tree(known_folder(FOLDERID_PublicDesktop) / L"Stelvane Examples");
    fs::remove(start_menu_link());
    fs::remove(desktop_link());
    // Files of the payload's work folder that are not set-up files stay there.
    for (const auto& name : installation_leftovers())
        remove_tree(fs::temp_directory_path() / name);
}

// Presses Install and returns the seconds until the installation has ended: the log holds the
// installation's separator, read first, and Next is enabled again.
double timed_installation(const installer_process& run) {
    const HWND next = run.button(next_button);
    const HWND log = run.control(wizard_page::install, status_log);
    const std::wstring separator(45, L'\u2500');
    run.post_click(next);
    const auto started = clock_type::now();
    bool begun = false;
    for (;;) {
        // Once seen, the separator stays: the log is read no more, which would cost the
        // installer a message each time.
        begun = begun || text_of(log).find(separator) != std::wstring::npos;
        if (begun && is_enabled(next))
            return std::chrono::duration<double>(clock_type::now() - started).count();
        if (clock_type::now() - started > installation_timeout)
            fail(L"the installation did not end in time; its log:\r\n" + text_of(log));
        std::this_thread::sleep_for(poll);
    }
}

} // namespace

int benchmark_installation(const fs::path& setup, const fs::path& install_folder) {
    try {
        clear_machine(install_folder);
        installer_process run(setup);
        run.click(run.button(next_button));
        run.click(run.control(wizard_page::mode, advanced_choice));
        run.click(run.button(next_button));
        run.type(run.control(wizard_page::options, folder_edit), install_folder.wstring());
        run.click(run.button(next_button));
        if (run.shown_page() != wizard_page::install)
            fail(L"the install page did not show");

        const HWND next = run.button(next_button);
        const auto install_text = text_of(next);
        const auto idle = run.memory().WorkingSetSize;
        const double seconds = timed_installation(run);
        const auto peak = run.memory().PeakWorkingSetSize;

        const auto log = text_of(run.control(wizard_page::install, status_log));
        if (text_of(next) == install_text || log.find(L"Failed") != std::wstring::npos)
            fail(L"the installation failed: " + text_of(run.control(wizard_page::install, hint_label)) + L"\r\n" + log);
        run.click(next);
        run.post_click(run.button(cancel_button));
        if (run.wait_for_exit(60s) != 0)
            fail(L"the wizard did not end");
        std::printf("%.3f %llu %llu\n", seconds, static_cast<unsigned long long>(idle),
                    static_cast<unsigned long long>(peak));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark: %s\n", e.what());
        return 1;
    }
}

} // namespace e2e
