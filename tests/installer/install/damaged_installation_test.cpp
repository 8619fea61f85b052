// The built installer's own payload, damaged in every way the damaged-payload set knows, run
// through the installation's extraction as the install page runs it (the page's handlers,
// the journal, the rollback of a failed extraction and the removal of the set-up files) over
// a previous installation: each case must end in the error line with its compress code and
// leave every folder as it was.
#include "installer/wizard/dlg_install.hpp"

#include "installer/journal/uninstall_log.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "support/environment_scope.hpp"
#include "support/damaged_payloads.hpp"
#include "support/extraction_recorder.hpp"
#include "support/file_tree.hpp"
#include "support/install_page.hpp"
#include "support/payload_support.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::string payload_of_setup() {
    const vd::unique_module setup{
        ::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    const HRSRC found = ::FindResourceExW(setup.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                                          MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    if (!found)
        return {};
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(setup.get(), found)));
    return std::string(bytes, ::SizeofResource(setup.get(), found));
}

fs::path known_folder(const KNOWNFOLDERID& id) {
    vd::unique_cotaskmem_string path;
    if (FAILED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, path.put())))
        return {};
    return path.get();
}

void remove_folder(const fs::path& folder) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder, ignored);
}

class damaged_installation : public install_page_test {
protected:
    void SetUp() override {
        install_page_test::SetUp();
        // Backups and work folders go to a temporary folder of this test alone.
        fs::create_directories(folder / "temp");
        tmp_.emplace(L"TMP", (folder / "temp").c_str());
        // The payload's shared data and its textures go to the machine's own data folders,
        // which no other test uses; what a broken run left there goes first.
        for (const auto& id : {FOLDERID_ProgramData, FOLDERID_RoamingAppData}) {
            machine_folders_.push_back(known_folder(id) / L"Vandrel");
            remove_folder(machine_folders_.back());
        }
        settings.journal = uninstall_log();
    }
    void TearDown() override {
        tmp_.reset();
        for (const auto& maker : machine_folders_)
            remove_folder(maker);
        settings.state = 0;
        settings.journal = uninstall_log();
    }

    // The installation's extraction: a failure is rolled back, and the set-up files and the
    // work folder go in every case. True when the extraction succeeded.
    bool install(const std::string& stored) {
        std::istringstream payload(stored);
        std::wstring program, uninstaller;
        std::vector<std::wstring> removal_list{(folder / "work").wstring()};
        HCURSOR cursor = ::LoadCursorW(nullptr, IDC_WAIT);
        dlg_install::handler_context context{payload, program, uninstaller, removal_list, cursor};
        bool extracted = false;
        {
            dlg_install::context_scope scope(page, context);
            extracted = extract_payload(payload, (folder / "install").wstring(), (folder / "samples").wstring(),
                                        (folder / "work").wstring(),
                                        [this](notification n) { return page.on_notification(n); });
        }
        if (!extracted)
            not_undone_ = settings.journal.rollback();
        for (auto path = removal_list.rbegin(); path != removal_list.rend(); ++path) {
            std::error_code ignored;
            fs::remove(*path, ignored);
        }
        return extracted;
    }

    std::vector<file_tree> world() const {
        std::vector<file_tree> trees{capture_tree(folder.path())};
        for (const auto& maker : machine_folders_)
            trees.push_back(capture_tree(maker));
        return trees;
    }

    std::wstring hint() const { return vd::window_text(page.hint()); }

    test_folder folder;
    std::vector<uninstall_log::entry> not_undone_;

private:
    std::optional<testing_support::environment_scope> tmp_;
    std::vector<fs::path> machine_folders_;
};

} // namespace

TEST_F(damaged_installation, every_damaged_payload_ends_in_its_code_and_changes_nothing) {
    const auto stored = payload_of_setup();
    ASSERT_FALSE(stored.empty()) << "the installer carries no payload";
    const auto records = parse(inflate(stored)).records;

    // A previous installation of every file that a reinstallation writes, with contents of its
    // own; its shared files count as installed and are skipped.
    extraction_recorder targets;
    targets.answer = [](const extraction_event&) { return notification::result::skip; };
    {
        std::istringstream payload(stored);
        ASSERT_TRUE(extract_payload(payload, (folder / "install").wstring(), (folder / "samples").wstring(),
                                    (folder / "work").wstring(), targets.callback()));
    }
    const auto begun = targets.targets(file_begins_event);
    ASSERT_EQ(begun.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto kind = static_cast<payload_kind>(records[i].kind);
        if (kind == payload_kind::shared)
            settings.journal.previous_entries.emplace_back(entry_kind::file, begun[i], L"", true,
                                                           static_cast<std::int32_t>(kind));
        else if (kind != payload_kind::setup_only)
            write_file(begun[i], "previous " + std::to_string(i));
    }
    ::SetFileAttributesW(begun.front().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    settings.state = 1;
    const auto before = world();

    const auto cases = damaged_payloads(stored);
    ASSERT_GE(cases.size(), 500u);
    const std::wregex any_code(L"Installation failed \\(Error Code [3-7]\\)\\.");
    int installed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::SetWindowTextW(log_window(), L"");
        const bool extracted = install(c.stored);
        if (extracted) {
            // The damage decoded to the payload as built: a whole installation, undone here.
            EXPECT_FALSE(c.code) << "installed although damaged";
            not_undone_ = settings.journal.rollback();
            ++installed;
        } else if (!c.code) {
            ADD_FAILURE() << "decodes to the payload as built, yet failed: " << testing::PrintToString(hint());
        } else if (*c.code == any_compress_code) {
            EXPECT_TRUE(std::regex_match(hint(), any_code)) << testing::PrintToString(hint());
        } else {
            EXPECT_EQ(hint(), L"Installation failed (Error Code " + std::to_wstring(*c.code) + L").");
        }
        if (!extracted) {
            EXPECT_TRUE(log().ends_with(L"Failed\r\n")) << testing::PrintToString(log());
        }
        EXPECT_TRUE(not_undone_.empty()) << not_undone_.size() << " entries not undone, the first "
                                         << not_undone_.front().path;
        EXPECT_TRUE(settings.journal.entries.empty());
        const auto after = world();
        for (std::size_t t = 0; t < after.size(); ++t) {
            for (const auto& line : tree_differences(before[t], after[t]))
                ADD_FAILURE() << testing::PrintToString(line);
        }
        if (::testing::Test::HasFailure())
            break;  // one case's leftovers would fail every later one
    }
    RecordProperty("cases", static_cast<int>(cases.size()));
    RecordProperty("installed", installed);
}
