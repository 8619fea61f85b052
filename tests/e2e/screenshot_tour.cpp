#include "e2e/screenshot_tour.hpp"

#include <fmt/xchar.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/text/conversions.hpp"

namespace fs = std::filesystem;

namespace e2e {

namespace {

struct tour_language {
    const wchar_t* name;
    int list_position;
};

constexpr tour_language languages[] = {{L"en", 1}, {L"de", 2}, {L"ar", 17}};

RECT united(RECT first, RECT second) {
    RECT both{};
    ::UnionRect(&both, &first, &second);
    return both;
}

RECT rect_of(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}

class photographer {
public:
    explicit photographer(fs::path folder) : folder_(std::move(folder)) {}

    // Lets the wizard paint what the last message changed, then waits for the picture.
    void take(const std::wstring& name, RECT area) const {
        std::this_thread::sleep_for(700ms);
        const int screen_width = ::GetSystemMetrics(SM_CXSCREEN);
        const int screen_height = ::GetSystemMetrics(SM_CYSCREEN);
        area.left = std::max<LONG>(area.left, 0);
        area.top = std::max<LONG>(area.top, 0);
        area.right = std::min<LONG>(area.right, screen_width);
        area.bottom = std::min<LONG>(area.bottom, screen_height);
        const auto request = folder_ / L"request";
        const auto written = folder_ / L"request.tmp";
        {
            std::ofstream out(written, std::ios::binary | std::ios::trunc);
            out << vd::wide_to_utf8(fmt::format(L"{} {}x{}+{}+{}\n", name, area.right - area.left, area.bottom - area.top,
                                                area.left, area.top));
        }
        // The script must never read a request half written.
        if (!::MoveFileExW(written.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING))
            fail(L"cannot place the request for " + name);
        if (!wait_until([&] { return !fs::exists(request); }, 60s))
            fail(L"no picture was taken of " + name);
    }

private:
    fs::path folder_;
};

void tour(const photographer& camera, const fs::path& setup, const tour_language& language) {
    // Every language starts as a first installation.
    forget_installation();
    installer_process run(setup);
    const std::wstring prefix = std::wstring(language.name) + L"-";
    const HWND main = run.main_window();
    if (language.list_position != 1)
        run.choose(run.control(wizard_page::start, language_box), language.list_position);
    camera.take(prefix + L"start", rect_of(main));

    run.click(run.button(next_button));
    run.click(run.control(wizard_page::mode, advanced_choice));
    camera.take(prefix + L"mode", rect_of(main));
    run.click(run.button(next_button));
    camera.take(prefix + L"options", rect_of(main));
    run.click(run.button(next_button));
    camera.take(prefix + L"install", rect_of(main));
    run.install();
    camera.take(prefix + L"installed", rect_of(main));

    ::PostMessageW(main, WM_SYSCOMMAND, about_command, 0);
    HWND about = nullptr;
    if (!wait_until([&] { return (about = run.other_dialog()) != nullptr; }, 30s))
        fail(L"the About box did not show");
    camera.take(prefix + L"about", united(rect_of(main), rect_of(about)));
    run.post_click(::GetDlgItem(about, IDOK));
    if (!wait_until([&] { return run.other_dialog() == nullptr; }, 30s))
        fail(L"the About box did not close");

    run.click(run.button(next_button));
    camera.take(prefix + L"end", rect_of(main));
    run.post_click(run.button(cancel_button));
    if (run.wait_for_exit(30s) != 0)
        fail(L"the wizard did not end");
}

} // namespace

int take_screenshots(const fs::path& folder) {
    try {
        // Xvfb runs no window manager, and Wine leaves the captions and frames to one: this
        // prefix's programs draw their own, as on Windows.
        vd::reg_create_key(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver").set_string(L"Decorated", L"N");
        const photographer camera(folder);
        const auto setup = windows_path(STELVANE_SETUP_EXE);
        for (const auto& language : languages)
            tour(camera, setup, language);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "screenshots: %s\n", e.what());
        return 1;
    }
}

} // namespace e2e
