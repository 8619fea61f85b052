// Two copies of the real installer started at the same moment, as a user who double-clicks
// twice starts them, in a prefix of their own: one of them installs, the other is refused
// with the system's text of ERROR_BUSY and leaves the machine as it found it.
#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <array>
#include <memory>

#include "foundation/errors/error_text.hpp"

namespace fs = std::filesystem;

namespace {

using namespace e2e;

const fs::path setup = windows_path(STELVANE_SETUP_EXE);
constexpr wchar_t uninstall_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stelvane 8";

// Everything an installer could touch: its folders, its registry values, its temporary files.
auto machine() {
    std::vector<tree_snapshot> trees;
    for (const auto& tree : {known_folder(FOLDERID_ProgramFiles) / L"Vandrel", known_folder(FOLDERID_ProgramData) / L"Vandrel",
                             known_folder(FOLDERID_RoamingAppData) / L"Vandrel", known_folder(FOLDERID_PublicDesktop),
                             known_folder(FOLDERID_CommonPrograms)})
        trees.push_back(snapshot(tree));
    return std::make_tuple(trees, values_of(HKEY_LOCAL_MACHINE, uninstall_key), values_of(HKEY_LOCAL_MACHINE, L"Software\\Vandrel"),
                           values_of(HKEY_CURRENT_USER, L"Software\\Vandrel"), installation_leftovers());
}

// The question of a running copy: the one box with a Retry button.
bool asks_to_close(HWND box) {
    return box && has_button(box, IDRETRY);
}

} // namespace

TEST(installer_concurrency, of_two_installers_started_together_one_installs_and_the_other_changes_nothing) {
    const auto before = machine();
    std::array<std::unique_ptr<installer_process>, 2> runs;
    for (auto& run : runs)
        run = std::make_unique<installer_process>(setup, no_wait);

    // The refused one says so in a box with OK alone; the other may already ask meanwhile that
    // the refused one be closed, since every running copy counts until it has ended.
    std::size_t refused = runs.size();
    HWND busy_box = nullptr;
    std::array<bool, 2> wizard_shown{};
    const bool found = wait_until(
        [&] {
            for (std::size_t i = 0; i < runs.size(); ++i) {
                wizard_shown[i] = wizard_shown[i] || runs[i]->find_wizard();
                const HWND box = runs[i]->message_box();
                if (box && !asks_to_close(box)) {
                    refused = i;
                    busy_box = box;
                    return true;
                }
            }
            return runs[0]->has_ended() || runs[1]->has_ended();
        },
        90s);
    ASSERT_TRUE(found) << "neither installer was refused";
    ASSERT_NE(busy_box, nullptr) << "an installer ended without a word; wizards shown: " << wizard_shown[0] << ", " << wizard_shown[1];
    auto& loser = *runs[refused];
    auto& winner = *runs[1 - refused];
    // In the user's language, as the other installer speaks it.
    EXPECT_EQ(box_text(busy_box), vd::system_message_text(ERROR_BUSY, 0));

    answer(busy_box, IDOK);
    EXPECT_EQ(loser.wait_for_exit(30s), 0);
    EXPECT_FALSE(wizard_shown[refused] || loser.find_wizard()) << "the refused installer showed its wizard";
    EXPECT_TRUE(before == machine()) << "the machine changed before anything was installed";

    // The refused copy has gone: one Retry lets the other one on.
    int questions = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            if (winner.find_wizard() || winner.has_ended())
                return true;
            const HWND box = winner.message_box();
            if (asks_to_close(box)) {
                ++questions;
                EXPECT_NE(box_text(box).find(L"Stelvane"), std::wstring::npos) << testing::PrintToString(box_text(box));
                answer(box, IDRETRY);
                wait_until([&] { return !::IsWindow(box); }, 10s);
            }
            return false;
        },
        90s))
        << "the other installer's wizard did not show";
    ASSERT_TRUE(winner.find_wizard()) << "the other installer ended without its wizard";
    EXPECT_LE(questions, 1) << "it went on asking after the refused installer had ended";

    winner.click(winner.button(next_button));
    winner.click(winner.button(next_button));
    ASSERT_EQ(winner.shown_page(), wizard_page::install);
    const auto install_text = text_of(winner.button(next_button));
    winner.install();
    const auto log = text_of(winner.control(wizard_page::install, status_log));
    ASSERT_NE(text_of(winner.button(next_button)), install_text) << "the installation failed; its log:\n" << testing::PrintToString(log);
    EXPECT_EQ(log.find(L"Failed"), std::wstring::npos) << testing::PrintToString(log);
    winner.click(winner.button(next_button));
    ASSERT_EQ(winner.shown_page(), wizard_page::end);
    winner.post_click(winner.button(cancel_button));
    EXPECT_EQ(winner.wait_for_exit(30s), 0);

    const auto folder = known_folder(FOLDERID_ProgramFiles) / L"Vandrel" / L"Stelvane 8";
    EXPECT_EQ(registration_lines(folder).size(), 1u) << "the installed program registered itself once";
    EXPECT_EQ(string_value(values_of(HKEY_LOCAL_MACHINE, uninstall_key), L"UninstallString"), (folder / L"Uninstall.exe").wstring());
    EXPECT_TRUE(fs::exists(folder / L"Uninstall.ulog"));
}
