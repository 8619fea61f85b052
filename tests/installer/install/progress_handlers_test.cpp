// The install page's answers to the extraction, walked through whole extractions: what is
// written, skipped and journalled for each kind of file, and what the status list, the hint
// and the progress bar show.
#include "installer/wizard/dlg_install.hpp"

#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "installer/payload/payload_writer.hpp"
#include "installer/startup/installer_settings.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"
#include "support/install_page.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include <commctrl.h>

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::test_folder;
using testing_support::write_file;

namespace {

class progress_handlers : public testing_support::install_page_test {
protected:
    void SetUp() override {
        install_page_test::SetUp();
        settings.journal = uninstall_log();
    }
    void TearDown() override {
        // The backups that the installation's end would delete would stay in the temporary folder.
        settings.journal.delete_backups();
        settings.state = 0;
        settings.journal = uninstall_log();
    }

    // One extraction of items into the test folder, answered by the page.
    bool extract(const std::vector<payload_item>& items) {
        std::istringstream payload(testing_support::stored_payload(items));
        handler_context context{payload, program, uninstaller, removal_list, cursor};
        dlg_install::context_scope scope(page, context);
        return extract_payload(payload, (folder / "install").wstring(), (folder / "samples").wstring(),
                               (folder / "work").wstring(), [this](notification n) { return page.on_notification(n); });
    }

    std::wstring hint() const { return vd::window_text(page.hint()); }
    int bar() const { return static_cast<int>(::SendMessageW(page.progress_bar(), PBM_GETPOS, 0, 0)); }
    const uninstall_log::entry* journalled(const fs::path& path) const {
        const auto found = std::ranges::find(settings.journal.entries, path.wstring(), &uninstall_log::entry::path);
        return found == settings.journal.entries.end() ? nullptr : &*found;
    }

    using handler_context = dlg_install::handler_context;
    test_folder folder;
    std::wstring program, uninstaller;
    std::vector<std::wstring> removal_list;
    HCURSOR cursor = ::LoadCursorW(nullptr, IDC_WAIT);
};

std::vector<payload_item> every_kind() {
    return {{L"C:\\b\\Stelvane.exe", L"<InstallPath>", payload_kind::main_program, std::string("program")},
            {L"C:\\b\\Uninstall.exe", L"<InstallPath>", payload_kind::uninstaller, std::string("uninstaller")},
            {L"C:\\b\\fr.dll", L"<InstallPath>\\Languages", payload_kind::ordinary, std::string(9000, 'f')},
            {L"C:\\b\\Materials.dat", L"<InstallPath>\\Shared", payload_kind::shared, std::string("new shared")},
            {L"C:\\b\\Kept.dat", L"<InstallPath>\\Shared", payload_kind::shared, std::string("would overwrite")},
            {L"C:\\b\\Example.txt", L"<SamplePath>", payload_kind::sample, std::string("sample")},
            {L"C:\\b\\DSetup.dll", L"<Temporary>", payload_kind::setup_only, std::string("set-up")}};
}

std::wstring copying(const fs::path& target) { return L"Copying File \"" + target.wstring() + L"\"...OK\r\n"; }

} // namespace

TEST_F(progress_handlers, a_first_installation_and_an_update) {
    const auto install = folder / "install";
    write_file(install / "Shared" / "Kept.dat", "there before");

    // A first installation writes every kind but the shared file that is there already, which is
    // journalled as done and left as it was.
    ASSERT_TRUE(extract(every_kind())) << log();
    EXPECT_EQ(program, (install / "Stelvane.exe").wstring());
    EXPECT_EQ(uninstaller, (install / "Uninstall.exe").wstring());
    EXPECT_EQ(removal_list, std::vector<std::wstring>{(folder / "work" / "DSetup.dll").wstring()});
    EXPECT_EQ(read_file(install / "Shared" / "Kept.dat"), "there before");
    EXPECT_EQ(log(), L"Preparing Installation...OK\r\n" + copying(install / "Stelvane.exe") +
                         copying(install / "Uninstall.exe") + copying(install / "Languages" / "fr.dll") +
                         copying(install / "Shared" / "Materials.dat") + copying(folder / "samples" / "Example.txt") +
                         copying(folder / "work" / "DSetup.dll"));
    EXPECT_EQ(bar(), 100);
    ASSERT_TRUE(journalled(install / "Shared" / "Kept.dat"));
    EXPECT_TRUE(journalled(install / "Shared" / "Kept.dat")->done);
    EXPECT_TRUE(journalled(install / "Shared" / "Kept.dat")->backup.empty()) << "nothing overwrites it";
    EXPECT_TRUE(journalled(folder / "samples" / "Example.txt"));
    EXPECT_FALSE(journalled(folder / "work" / "DSetup.dll")) << "set-up files leave no trace in the journal";
    EXPECT_TRUE(std::ranges::all_of(settings.journal.entries, &uninstall_log::entry::done));

    // An update writes no sample and skips the shared files its predecessor installed.
    settings.state = 2;
    settings.journal.previous_entries = settings.journal.entries;
    settings.journal.entries.clear();
    fs::remove(folder / "samples" / "Example.txt");
    write_file(install / "Shared" / "Materials.dat", "changed by the user");
    ::SetWindowTextW(log_window(), L"");
    ASSERT_TRUE(extract(every_kind())) << log();
    EXPECT_FALSE(fs::exists(folder / "samples" / "Example.txt"));
    EXPECT_FALSE(journalled(folder / "samples" / "Example.txt"));
    EXPECT_EQ(read_file(install / "Shared" / "Materials.dat"), "changed by the user");
    EXPECT_EQ(log().find(L"Example.txt"), std::wstring::npos);
    EXPECT_EQ(log().find(L"Materials.dat"), std::wstring::npos);
}

TEST_F(progress_handlers, failures_close_the_line_and_show_the_code) {
    const auto install = folder / "install";
    auto items = every_kind();
    auto inflated = testing_support::inflated_payload(items);

    // A damaged stored stream fails the dry run before anything is written: code 4.
    auto stored = testing_support::stored_payload(items);
    stored[stored.size() / 2] ^= 0x20;
    {
        std::istringstream payload(stored);
        handler_context context{payload, program, uninstaller, removal_list, cursor};
        dlg_install::context_scope scope(page, context);
        EXPECT_FALSE(extract_payload(payload, install.wstring(), L"", (folder / "work").wstring(),
                                     [this](notification n) { return page.on_notification(n); }));
    }
    EXPECT_EQ(log(), L"Preparing Installation...Failed\r\n");
    EXPECT_EQ(hint(), L"Installation failed (Error Code 4).");
    EXPECT_FALSE(fs::exists(install));

    // A file that cannot be put aside keeps its line, closed with "Failed" and the system's code,
    // below every line before it.
    ::SetWindowTextW(log_window(), L"");
    write_file(install / "Languages" / "fr.dll", "in use");
    vd::unique_file locked{::CreateFileW((install / "Languages" / "fr.dll").c_str(), GENERIC_READ, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(locked);
    EXPECT_FALSE(extract(items));
    EXPECT_EQ(log(), L"Preparing Installation...OK\r\n" + copying(install / "Stelvane.exe") +
                         copying(install / "Uninstall.exe") + L"Copying File \"" +
                         (install / "Languages" / "fr.dll").wstring() + L"\"...Failed\r\n");
    EXPECT_EQ(hint(), L"Installation failed (Error Code 1:00000020).");
    locked.reset();
    settings.journal.rollback();

    // So does a folder where a file goes, a shared one too; what is in the folder stays.
    for (const auto& target : {install / "Languages" / "fr.dll", install / "Shared" / "Kept.dat"}) {
        ::SetWindowTextW(log_window(), L"");
        fs::remove(target);
        write_file(target / "mine.txt", "the user's");
        EXPECT_FALSE(extract(items));
        EXPECT_NE(log().find(L"Copying File \"" + target.wstring() + L"\"...Failed\r\n"), std::wstring::npos) << log();
        EXPECT_EQ(hint(), L"Installation failed (Error Code 1:000000B7).");
        settings.journal.rollback();
        EXPECT_EQ(read_file(target / "mine.txt"), "the user's");
        fs::remove_all(target);
    }

    // A file refused before its line was written (one below a linked shared folder) gets one;
    // one refused after it has its own. Texts not yet in the log count.
    const auto refused = (install / "Shared" / "Kept.dat").wstring();
    const std::wstring refused_line = L"Copying File \"" + refused + L"\"...";
    const struct {
        std::wstring before, after;
    } refusals[] = {
        {L"Copying File \"a\"...OK\r\n", L"Copying File \"a\"...OK\r\n" + refused_line + L"Failed\r\n"},
        {refused_line, refused_line + L"Failed\r\n"},
    };
    for (const auto& r : refusals) {
        ::SetWindowTextW(log_window(), L"");
        page.append_status(r.before);
        page.on_error(std::error_code(4395, std::system_category()), refused);
        EXPECT_EQ(log(), r.after);
        EXPECT_EQ(hint(), L"Installation failed (Error Code 1:0000112B).");
    }

    // The bar stays below 100 until the last byte.
    page.on_progress(999'999'999, 1'000'000'000);
    EXPECT_EQ(bar(), 99);
    page.on_progress(1'000'000'000, 1'000'000'000);
    EXPECT_EQ(bar(), 100);
}
