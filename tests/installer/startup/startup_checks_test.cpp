// The start-up decision: which installation is found, which folders are offered, and when the
// installer refuses to go on.
#include "installer/startup/installer_settings.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/security.hpp"
#include "foundation/ui/app_context.hpp"
#include "installer/journal/journal_file.hpp"
#include "installer/startup/installer_texts.hpp"
#include "support/box_answerer.hpp"
#include "support/registry_override.hpp"
#include "support/test_settings.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <fmt/xchar.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <locale>
#include <optional>
#include <thread>

#include <knownfolders.h>

namespace fs = std::filesystem;
using testing_support::box_answerer;
using testing_support::test_folder;

namespace {

// The fields start-up fills, as a new object has them; the language as it was.
class startup_checks : public testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        reset();
        vd::set_ui_language(saved_language_);
        vd::app_context::set_quiet_mode({});
        settings_.mutex.unlock();
        settings_.temp_folder.reset();
    }

    void reset() {
        settings_.install_folder.clear();
        settings_.shortcut_folder.clear();
        settings_.desktop_shortcut = true;
        settings_.state = 0;
        settings_.previous_version = 0;
        settings_.previous_version_text.clear();
        settings_.journal = uninstall_log();
    }

    installer_settings& settings_ = testing_support::settings_with_test_id(L"Stelvane8StartupTest");
    std::uint32_t saved_language_ = vd::language_state::instance().language;
};

fs::path standin(const char* name) { return fs::path(STANDIN_FOLDER) / name; }

// The product's Uninstall key for one test, removed at the end.
class uninstall_key {
public:
    uninstall_key()
        : key_(vd::reg_create_key(HKEY_LOCAL_MACHINE, std::wstring(journal_details::uninstall_root) + L"\\Stelvane 8")) {}
    ~uninstall_key() {
        key_ = vd::reg_key();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(journal_details::uninstall_root) + L"\\Stelvane 8").c_str());
    }
    const vd::reg_key& get() const { return key_; }

private:
    vd::reg_key key_;
};

} // namespace

TEST_F(startup_checks, the_installed_version_decides_the_state) {
    const struct {
        const char* program;  // null: nothing installed
        std::int32_t state;
        std::uint64_t previous_version;
        bool version_text;
    } cases[] = {
        {nullptr, 0, 0, false},
        {"standin-8.1.0.1.exe", 1, 0, false},
        {"standin-8.1.0.2.exe", -1, 0, true},
        {"standin-8.2.0.0.exe", -1, 0, true},
        {"standin-8.0.3.7.exe", 2, 0x0008000000030007, true},
        {"standin-0.0.0.0.exe", 2, 0, true},  // a version, if the lowest there is
        {"standin-none.exe", 1, 0, false},  // no version to compare: taken as this one
    };
    for (const auto& c : cases) {
        reset();
        settings_.read_installed_version(c.program ? standin(c.program).wstring() : std::wstring());
        const char* what = c.program ? c.program : "nothing installed";
        EXPECT_EQ(settings_.state, c.state) << what;
        EXPECT_EQ(settings_.previous_version, c.previous_version) << what;
        EXPECT_EQ(!settings_.previous_version_text.empty(), c.version_text) << what;
    }
}

// With a version installed the previous journal's folders are offered while they exist; the
// defaults stand in for those that are gone, and with nothing installed nothing is read.
TEST_F(startup_checks, folders_come_from_the_old_journal_or_the_defaults) {
    test_folder folder;
    const auto old_install = folder / "Old Place";
    const auto old_menu = folder / "Old Menu";
    fs::create_directories(old_install);
    fs::create_directories(old_menu);
    const auto program_files = get_known_folder(FOLDERID_ProgramFiles, false);
    const auto default_install = (fs::path(program_files) / L"Vandrel" / L"Stelvane 8").wstring();
    const auto default_menu = default_folder(1);
    ASSERT_FALSE(program_files.empty());
    ASSERT_FALSE(default_menu.empty());

    int journals = 0;
    auto journal_with = [&](const fs::path& install, const fs::path& menu) {
        uninstall_log log;
        const auto path = (folder / std::to_wstring(++journals) / journal_file_name).wstring();
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(log.write(path, install.wstring(), menu.wstring()));
        return path;
    };

    const struct {
        const char* what;
        std::wstring journal;
        std::wstring install;
        std::wstring menu;
    } cases[] = {
        {"both folders exist", journal_with(old_install, old_menu), old_install.wstring(), old_menu.wstring()},
        {"the installation folder is gone", journal_with(folder / "Gone", old_menu), default_install, old_menu.wstring()},
        {"the menu folder is gone", journal_with(old_install, folder / "Gone"), old_install.wstring(), default_menu},
        {"no journal to read", L"", default_install, default_menu},
    };
    for (const auto& c : cases) {
        reset();
        settings_.read_previous_journal(c.journal);
        ASSERT_TRUE(settings_.fill_default_folders()) << c.what;
        EXPECT_EQ(settings_.install_folder, c.install) << c.what;
        EXPECT_EQ(settings_.shortcut_folder, c.menu) << c.what;
    }
    // A journal without a desktop link turns the desktop link off; none read leaves it on.
    reset();
    settings_.read_previous_journal(journal_with(old_install, old_menu));
    EXPECT_FALSE(settings_.desktop_shortcut);
}

// A product that is not installed, or installed in a newer version, is installed afresh: the
// default folders are offered even though the previous installation's journal is still found.
// The installed program is looked up once per process, so each state has a test of its own,
// with machine keys and an installer mutex of its own.
class startup_over_an_old_journal : public testing::Test {
protected:
    void TearDown() override {
        settings_.mutex.unlock();
        settings_.temp_folder.reset();
        settings_.journal = uninstall_log();
        vd::set_ui_language(saved_language_);
    }

    void expect_default_folders(const char* installed_program, std::int32_t state) {
        test_folder folder;
        fs::create_directories(folder / "Old Place");
        fs::create_directories(folder / "Old Menu");
        fs::create_directories(folder / "uninstall");
        uninstall_log old;
        ASSERT_TRUE(old.write((folder / "uninstall" / journal_file_name).wstring(), (folder / "Old Place").wstring(),
                              (folder / "Old Menu").wstring()));
        vd::reg_create_key(HKEY_LOCAL_MACHINE, std::wstring(journal_details::uninstall_root) + L"\\Stelvane 8")
            .set_string(L"UninstallString", (folder / "uninstall" / "Uninstall.exe").wstring());
        if (installed_program) {
            const auto program = folder / "program" / "Stelvane.exe";
            fs::create_directories(program.parent_path());
            fs::copy_file(standin(installed_program), program);
            vd::reg_create_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel").set_string(L"Stelvane 8 Path", program.wstring());
        }
        ASSERT_EQ(old_journal_path(), (folder / "uninstall" / journal_file_name).wstring());

        ASSERT_TRUE(settings_.initialize({[] { return true; }, [] { return LONG{1}; }}));
        EXPECT_EQ(settings_.state, state);
        EXPECT_EQ(settings_.install_folder,
                  (fs::path(get_known_folder(FOLDERID_ProgramFiles, false)) / L"Vandrel" / L"Stelvane 8").wstring());
        EXPECT_EQ(settings_.shortcut_folder, default_folder(1));
        EXPECT_TRUE(settings_.desktop_shortcut);
        EXPECT_EQ(settings_.journal.install_path, L"");
    }

    // The private temporary folder's random name needs the system's cryptographic providers.
    testing_support::registry_override machine_{HKEY_LOCAL_MACHINE, {L"Software\\Microsoft\\Cryptography"}};
    installer_settings& settings_ = testing_support::settings_with_test_id(test_id().c_str());
    std::uint32_t saved_language_ = vd::language_state::instance().language;

private:
    static std::wstring test_id() {
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        return L"Stelvane8Startup-" + std::wstring(name, name + std::strlen(name));
    }
};

TEST_F(startup_over_an_old_journal, nothing_installed_gets_the_default_folders) {
    expect_default_folders(nullptr, 0);
}

TEST_F(startup_over_an_old_journal, a_newer_version_installed_gets_the_default_folders) {
    expect_default_folders("standin-8.2.0.0.exe", -1);
}

// The previous installation's Uninstall key (one test, as other processes run the others at
// the same time) leads to its journal, beside the registered uninstaller or the program, and
// gives its language when the installer speaks it; a number outside the language table leaves
// the user's own.
TEST_F(startup_checks, the_uninstall_key_gives_the_journal_and_the_language) {
    uninstall_key key;
    test_folder folder;
    fs::create_directories(folder / "uninstall");
    fs::create_directories(folder / "program");
    testing_support::write_file(folder / "uninstall" / "Uninstall.ulog", "");
    testing_support::write_file(folder / "program" / "Uninstall.ulog", "");
    const auto program = (folder / "program" / "Stelvane.exe").wstring();

    key.get().set_string(L"UninstallString", (folder / "uninstall" / "Uninstall.exe").wstring());
    EXPECT_EQ(find_old_journal(program), (folder / "uninstall" / "Uninstall.ulog").wstring());
    // Quotes make no path of it: the journal beside the installed program is taken.
    key.get().set_string(L"UninstallString", L"\"" + (folder / "uninstall" / "Uninstall.exe").wstring() + L"\" /S");
    EXPECT_EQ(find_old_journal(program), (folder / "program" / "Uninstall.ulog").wstring());
    // A value of another type reads as none.
    const DWORD number = 7;
    ::RegSetValueExW(key.get().get(), L"UninstallString", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(find_old_journal(program), (folder / "program" / "Uninstall.ulog").wstring());
    fs::remove(folder / "program" / "Uninstall.ulog");
    EXPECT_EQ(find_old_journal(program), L"");

    const auto users = vd::default_ui_language(0x3BDEBF);
    const auto german = 2u;
    const auto danish = 6u;  // not translated: English
    const struct {
        std::optional<DWORD> stored;
        std::uint32_t language;
    } cases[] = {{std::nullopt, users}, {german, german}, {danish, vd::ui_language_english}, {24, users}, {0xFFFFFFFF, users}};
    for (const auto& c : cases) {
        ::RegDeleteValueW(key.get().get(), L"VdLanguage");
        if (c.stored)
            ::RegSetValueExW(key.get().get(), L"VdLanguage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*c.stored), 4);
        settings_.choose_ui_language();
        const auto expected = has_translation(static_cast<int>(c.language)) ? c.language : vd::ui_language_english;
        EXPECT_EQ(vd::language_state::instance().language, expected) << (c.stored ? *c.stored : -1);
    }
}

// A stored language beyond the language table changes nothing: the user's own language stays,
// and so does the process's locale. Only a user who speaks something else than English shows
// it, so CTest starts this one for a German user (tests/installer/test_properties.cmake).
TEST(startup_checks_for_a_german_user, a_stored_language_beyond_the_table_keeps_the_users_own) {
    constexpr std::uint32_t german = 2;
    ASSERT_EQ(vd::default_ui_language(0x3BDEBF), german) << "run for a German user (LC_ALL=de_DE.UTF-8 under Wine)";
    testing_support::registry_override machine(HKEY_LOCAL_MACHINE);
    auto& settings = testing_support::settings_with_test_id(L"Stelvane8GermanUserTest");
    const auto key = vd::reg_create_key(HKEY_LOCAL_MACHINE, std::wstring(journal_details::uninstall_root) + L"\\Stelvane 8");
    settings.choose_ui_language();
    ASSERT_EQ(vd::language_state::instance().language, german);
    const std::string locale = std::locale().name();
    for (const DWORD stored : {24ul, 0xFFFFFFFFul}) {
        ::RegSetValueExW(key.get(), L"VdLanguage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored), sizeof stored);
        settings.choose_ui_language();
        EXPECT_EQ(vd::language_state::instance().language, german) << stored;
        EXPECT_EQ(std::locale().name(), locale) << stored;
    }
}

// A refusal ends start-up at once, with the user told why; a running copy of the product keeps
// the installer asking until it has gone or the user gives up.
TEST_F(startup_checks, start_up_refuses_or_waits_and_says_why) {
    const auto refusal = [&](startup_probes probes, std::vector<int> answers) {
        box_answerer answerer(std::move(answers));
        const bool went_on = settings_.initialize(probes);
        settings_.mutex.unlock();
        return std::pair{went_on, answerer.boxes};
    };
    const auto admin = [] { return true; };
    const auto not_admin = [] { return false; };
    const auto alone = [] { return LONG{1}; };
    settings_.initialize({admin, alone});  // the UI language as start-up chooses it
    settings_.mutex.unlock();
    ASSERT_TRUE(settings_.temp_folder);
    EXPECT_EQ(fs::temp_directory_path().parent_path(), settings_.temp_folder->path());
    settings_.temp_folder.reset();

    {
        const auto [went_on, boxes] = refusal({not_admin, alone}, {IDOK});
        EXPECT_FALSE(went_on);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, settings_.load_string(1126));
        EXPECT_EQ(boxes[0].caption, settings_.title(true));
        EXPECT_FALSE(settings_.temp_folder) << "only an administrator can make a folder that administrators own";
    }
    {
        // The installer's own folder cannot be checked (its owner cannot be read): the user is
        // told the system's words, nothing is installed.
        vd::advapi32::rebind({nullptr, [](HMODULE module, const char* name) -> FARPROC {
                                  return std::strcmp(name, "GetSecurityInfo") == 0 ? nullptr : ::GetProcAddress(module, name);
                              }});
        const auto [went_on, boxes] = refusal({admin, alone}, {IDOK});
        vd::advapi32::rebind({});
        EXPECT_FALSE(went_on);
        EXPECT_FALSE(settings_.temp_folder);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_FALSE(boxes[0].text.empty());
        EXPECT_EQ(boxes[0].text, vd::error_text(static_cast<DWORD>(E_NOTIMPL)));
        EXPECT_EQ(boxes[0].caption, settings_.title(true));
    }
    {
        int counts = 0;
        const auto two_then_one = [&] { return LONG{++counts <= 2 ? 2 : 1}; };
        const auto [went_on, boxes] = refusal({admin, two_then_one}, {IDRETRY, IDRETRY});
        EXPECT_TRUE(went_on);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].text, fmt::format(fmt::runtime(settings_.load_string(1127)), product_name(true)));
    }
    {
        const auto [went_on, boxes] = refusal({admin, [] { return LONG{3}; }}, {IDRETRY, IDCANCEL});
        EXPECT_FALSE(went_on);
        EXPECT_EQ(boxes.size(), 2u);
    }
    {
        // Another installer holds the mutex: here another thread stands for it.
        vd::named_mutex other(vd::instance_mutex_name(vd::application_id()).c_str(), false, true);
        std::thread([&] { other.try_lock(); }).join();  // owned by a thread that has ended: abandoned
        EXPECT_TRUE(settings_.initialize({admin, alone})) << "an abandoned mutex is taken over";
        settings_.mutex.unlock();

        std::atomic<bool> owned = false;
        std::thread holder([&] {
            vd::named_mutex held(vd::instance_mutex_name(vd::application_id()).c_str(), true, true);
            owned = true;
            ::Sleep(1500);
        });
        while (!owned)
            ::Sleep(10);
        const auto [went_on, boxes] = refusal({admin, alone}, {IDOK});
        holder.join();
        EXPECT_FALSE(went_on);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, vd::error_text(ERROR_BUSY));
    }
}
