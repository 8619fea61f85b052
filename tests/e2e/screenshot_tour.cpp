#include "e2e/screenshot_tour.hpp"

#include <fmt/xchar.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "e2e/file_holder.hpp"
#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/text/conversions.hpp"
#include "installer/payload/payload_writer.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

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

// The user's own scene on the public desktop, where the failing variant puts the payload's
// scene of that name.
constexpr wchar_t users_scene[] = L"Jewellery Box.vscn";

// A copy of the installer whose payload puts its scene users_scene directly on the public desktop
// and whose last file fails its check; the scene's bytes in that payload.
std::string write_failing_variant(const fs::path& setup, const fs::path& variant) {
    const auto payload = payload_of(setup);
    std::vector<payload_item> items;
    std::string scene;
    for (std::size_t i = 0; i < payload.records.size(); ++i) {
        const auto& record = payload.records[i];
        if (record.file_name() == users_scene) {
            items.push_back({record.source_path, L"<CommonDesktop>", payload_kind::ordinary, payload.contents[i]});
            scene = payload.contents[i];
        } else {
            items.push_back({record.source_path, record.target, static_cast<payload_kind>(record.kind), payload.contents[i]});
        }
    }
    if (scene.empty())
        fail(std::wstring(L"the payload carries no ") + users_scene);
    auto inflated = testing_support::inflated_payload(items);
    inflated.back() ^= 1;
    write_setup_with_payload(setup, variant, compress_payload(inflated));
    return scene;
}

// A first installation by the failing variant over the user's scene, which another program holds
// from the moment the installation's scene is whole until the picture is taken: the rollback
// cannot put the user's scene back, and the page names it and the copy kept of it.
void tour_failed_installation(const photographer& camera, const fs::path& variant, const std::string& scene,
                              const tour_language& language) {
    forget_installation();
    const auto desktop = known_folder(FOLDERID_PublicDesktop);
    const auto users_file = desktop / users_scene;
    testing_support::write_file(users_file, "the user's own jewellery box");
    file_holder holder(users_file, scene);
    installer_process run(variant);
    const HWND main = run.main_window();
    if (language.list_position != 1)
        run.choose(run.control(wizard_page::start, language_box), language.list_position);
    run.click(run.button(next_button));
    run.click(run.button(next_button));
    run.install();
    if (text_of(run.control(wizard_page::install, status_log)).find(L"\r\n    " + users_file.wstring() + L"\r\n") ==
        std::wstring::npos)
        fail(L"the failed installation does not name " + users_file.wstring());
    camera.take(std::wstring(language.name) + L"-failed", rect_of(main));

    run.post_click(run.button(cancel_button));
    HWND question = nullptr;
    if (!wait_until([&] { return (question = run.other_dialog()) != nullptr; }, 30s))
        fail(L"Cancel asked nothing");
    answer(question, IDYES);
    if (run.wait_for_exit(30s) != 0)
        fail(L"the wizard did not end");
    if (!holder.release())
        fail(L"the installed scene was never held");
    // The copies of the user's scene go, so that the next language's walk starts as this one did.
    for (const auto& file : fs::directory_iterator(desktop)) {
        const auto name = file.path().filename().wstring();
        if (name.starts_with(L"Jewellery Box (vd-"))
            fs::remove(file.path());
    }
}

} // namespace

int take_screenshots(const fs::path& folder) {
    try {
        // Xvfb runs no window manager, and Wine leaves the captions and frames to one: this
        // prefix's programs draw their own, as on Windows.
        vd::reg_create_key(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver").set_string(L"Decorated", L"N");
        const photographer camera(folder);
        const auto setup = windows_path(STELVANE_SETUP_EXE);
        const testing_support::test_folder variant_folder;
        const auto variant = variant_folder / L"StelvaneSetup.exe";
        const auto scene = write_failing_variant(setup, variant);
        for (const auto& language : languages) {
            tour(camera, setup, language);
            tour_failed_installation(camera, variant, scene, language);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "screenshots: %s\n", e.what());
        return 1;
    }
}

} // namespace e2e
