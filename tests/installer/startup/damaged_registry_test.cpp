// The registry values that start-up reads from a previous installation, and the window size
// the last wizard left, in every shape a damaged or foreign registry may give them: other
// types, other sizes, texts without their NUL or with NULs inside, quotes, names without a
// folder or drive, huge texts, numbers out of range. Each case is drawn from a fixed seed. The
// language falls back to the user's own (English where the installer has no translation), the
// journal to the next place it may lie, the program to none, the window to its minimum, and
// nothing leaves the start-up path. HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are the test's own.
#include "installer/startup/installer_settings.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/registry.hpp"
#include "installer/journal/journal_file.hpp"
#include "installer/startup/installer_texts.hpp"
#include "installer/wizard/basic_dialog.hpp"
#include "installer/wizard/dlg_main.hpp"
#include "support/registry_override.hpp"
#include "support/test_folder.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"
#include "support/watchdog.hpp"

#include "foundation/app/initialization.hpp"
#include "support/test_settings.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace fs = std::filesystem;
using testing_support::registry_override;

namespace {

// A value as the registry holds it; no value at all where it is empty.
struct stored {
    DWORD type = REG_NONE;
    std::string bytes;
};
using value = std::optional<stored>;

std::string bytes_of(std::wstring_view text, bool with_nul = true) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    if (with_nul)
        bytes.append(2, '\0');
    return bytes;
}

std::string bytes_of(std::uint64_t number, std::size_t size) {
    std::string bytes(size, '\0');
    std::memcpy(bytes.data(), &number, std::min(size, sizeof number));
    return bytes;
}

void put(HKEY key, const wchar_t* name, const value& v) {
    ::RegDeleteValueW(key, name);
    if (!v)
        return;
    // The registry adds the NUL to a text whose size leaves it out when one follows in memory
    // (Windows NT does so, and Wine after it): here none follows.
    const std::string guarded = v->bytes + "\xFF\xFF";
    ASSERT_EQ(::RegSetValueExW(key, name, 0, v->type, reinterpret_cast<const BYTE*>(guarded.data()),
                               static_cast<DWORD>(v->bytes.size())),
              ERROR_SUCCESS);
}

// Every type a value may have besides the one asked for, with any of 0 to 16 bytes.
value any_other(std::mt19937& random, DWORD wanted) {
    static const DWORD types[] = {REG_NONE,   REG_SZ,        REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                  REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, REG_QWORD, 0x1234};
    DWORD type = wanted;
    while (type == wanted)
        type = types[random() % std::size(types)];
    std::string bytes(random() % 17, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    return stored{type, bytes};
}

// The damages a text value of a path may carry. reads: the reader takes the path.
struct text_damage {
    const char* what;
    std::function<value(const fs::path& sound, std::mt19937& random)> make;
    bool reads;
};

const text_damage text_damages[] = {
    {"as written", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(p.native())}}; }, true},
    {"as an expandable text", [](const fs::path& p, auto&) { return value{{REG_EXPAND_SZ, bytes_of(p.native())}}; }, true},
    {"absent", [](const fs::path&, auto&) { return value{}; }, false},
    {"without its NUL", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(p.native(), false)}}; }, false},
    {"with an odd byte count",
     [](const fs::path& p, std::mt19937& random) {
         auto bytes = bytes_of(p.native());
         if (random() % 2)
             bytes.pop_back();
         else
             bytes += static_cast<char>(random());
         return value{{REG_SZ, bytes}};
     },
     false},
    {"with a NUL inside",
     [](const fs::path& p, std::mt19937& random) {
         auto text = p.native();
         text.insert(random() % (text.size() + 1), 1, L'\0');
         return value{{REG_SZ, bytes_of(text)}};
     },
     false},
    {"in quotes, with arguments", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(L"\"" + p.native() + L"\" /S")}}; }, false},
    {"a hundred thousand characters long",
     [](const fs::path& p, auto&) {
         return value{{REG_SZ, bytes_of((p.parent_path() / std::wstring(100'000, L'x') / p.filename()).native())}};
     },
     false},
    // Names that stand for a file only from wherever the process happens to run.
    {"without its folder", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(p.filename().native())}}; }, false},
    {"without its drive", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(p.native().substr(2))}}; }, false},
    {"only the drive", [](const fs::path& p, auto&) { return value{{REG_SZ, bytes_of(p.native().substr(0, 2))}}; }, false},
    {"empty", [](const fs::path&, std::mt19937& random) { return value{{REG_SZ, std::string(random() % 2 * 2, '\0')}}; }, false},
    {"a list of texts", [](const fs::path& p, auto&) { return value{{REG_MULTI_SZ, bytes_of(p.native()) + std::string(2, '\0')}}; }, false},
    {"the text in another type",
     [](const fs::path& p, std::mt19937& random) {
         static const DWORD types[] = {REG_NONE, REG_BINARY, REG_DWORD, REG_QWORD, REG_LINK, 0x1234};
         return value{{types[random() % std::size(types)], bytes_of(p.native())}};
     },
     false},
    {"any other type", [](const fs::path&, std::mt19937& random) { return any_other(random, REG_SZ); }, false},
};

// The damages "VdLanguage" may carry; the language index it gives, if any.
struct language_damage {
    const char* what;
    std::function<value(std::uint32_t index, std::mt19937& random)> make;
    bool reads;
};

const language_damage language_damages[] = {
    {"a language index", [](std::uint32_t index, auto&) { return value{{REG_DWORD, bytes_of(index, 4)}}; }, true},
    {"absent", [](std::uint32_t, auto&) { return value{}; }, false},
    {"a number beyond the languages",
     [](std::uint32_t, std::mt19937& random) {
         static const std::uint32_t numbers[] = {24, 25, 255, 256, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
         const std::uint32_t number = random() % 3 ? numbers[random() % std::size(numbers)]
                                                   : 24 + static_cast<std::uint32_t>(random() % (0xFFFFFFFFull - 24));
         return value{{REG_DWORD, bytes_of(number, 4)}};
     },
     false},
    {"a number of 0 to 8 bytes but 4",
     [](std::uint32_t index, std::mt19937& random) {
         std::size_t size = 4;
         while (size == 4)
             size = random() % 9;
         return value{{REG_DWORD, bytes_of(index, size)}};
     },
     false},
    {"the index in another type",
     [](std::uint32_t index, std::mt19937& random) {
         static const DWORD types[] = {REG_BINARY, REG_QWORD, REG_DWORD_BIG_ENDIAN, REG_NONE, 0x1234};
         return value{{types[random() % std::size(types)], bytes_of(index, random() % 2 ? 4 : 8)}};
     },
     false},
    {"the index as a text",
     [](std::uint32_t index, std::mt19937& random) {
         static const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ};
         return value{{types[random() % std::size(types)], bytes_of(std::to_wstring(index))}};
     },
     false},
    {"any other type", [](std::uint32_t, std::mt19937& random) { return any_other(random, REG_DWORD); }, false},
};

// Makes the test folder the current one for a while, so that names without a folder would
// find something there.
class current_folder {
public:
    explicit current_folder(const fs::path& folder) : saved_(fs::current_path()) { fs::current_path(folder); }
    ~current_folder() {
        std::error_code ignored;
        fs::current_path(saved_, ignored);
    }
    current_folder(const current_folder&) = delete;
    current_folder& operator=(const current_folder&) = delete;

private:
    fs::path saved_;
};


class damaged_registry : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(machine_.overridden() && user_.overridden());
        vd::product_code = 0x308;
    }
    void TearDown() override {
        settings_.install_folder.clear();
        settings_.shortcut_folder.clear();
        settings_.desktop_shortcut = true;
        settings_.state = 0;
        settings_.previous_version = 0;
        settings_.previous_version_text.clear();
        settings_.journal = uninstall_log();
        vd::set_ui_language(saved_language_);
    }

    installer_settings& settings_ = testing_support::settings_with_test_id(L"Stelvane8DamagedRegistryTest");
    std::uint32_t saved_language_ = vd::language_state::instance().language;
    registry_override machine_{HKEY_LOCAL_MACHINE};
    registry_override user_{HKEY_CURRENT_USER};
    testing_support::test_folder folder_;
};

// A journal that names install as its installation folder.
void journal_at(const fs::path& journal, const fs::path& install) {
    fs::create_directories(install);
    fs::create_directories(journal.parent_path());
    uninstall_log log;
    ASSERT_TRUE(log.write(journal.wstring(), install.wstring(), install.wstring()));
}

TEST_F(damaged_registry, start_up_falls_back_on_every_damaged_value) {
    // The installed program (an 8.00 build), the journal beside the registered uninstaller and
    // the one beside the program, each naming its own folder; and in the current folder a
    // program and a journal that no sound value names.
    const auto program = folder_ / L"program" / L"Stelvane.exe";
    const auto uninstaller = folder_ / L"uninstall" / L"Uninstall.exe";
    fs::create_directories(program.parent_path());
    fs::copy_file(fs::path(STANDIN_FOLDER) / "standin-8.0.3.7.exe", program);
    journal_at(folder_ / L"uninstall" / journal_file_name, folder_ / L"registered");
    journal_at(folder_ / L"program" / journal_file_name, folder_ / L"beside program");
    fs::create_directories(folder_ / L"cwd");
    fs::copy_file(program, folder_ / L"cwd" / L"Stelvane.exe");
    journal_at(folder_ / L"cwd" / journal_file_name, folder_ / L"current folder");
    current_folder cwd(folder_ / L"cwd");

    const auto uninstall_key =
        vd::reg_create_key(HKEY_LOCAL_MACHINE, std::wstring(journal_details::uninstall_root) + L"\\Stelvane 8");
    const auto maker_key = vd::reg_create_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
    const auto users = vd::default_ui_language(0x3BDEBF);
    const auto spoken = [](std::uint32_t language) { return has_translation(static_cast<int>(language)) ? language : vd::ui_language_english; };

    std::mt19937 random(1103);
    testing_support::watchdog watch(std::chrono::seconds(60));
    const int cases = 600;
    for (int n = 0; n < cases; ++n) {
        // Each case damages all three values, one of them always in a way that must not read.
        const auto& language = language_damages[random() % std::size(language_damages)];
        const auto& path = text_damages[random() % std::size(text_damages)];
        const auto& command = text_damages[random() % std::size(text_damages)];
        const auto index = static_cast<std::uint32_t>(random() % vd::ui_language_count);
        const std::string name = "case " + std::to_string(n) + ": language " + language.what + ", program path " +
                                 path.what + ", uninstall command " + command.what;
        SCOPED_TRACE(name);
        watch.step(name);
        put(uninstall_key.get(), L"VdLanguage", language.make(index, random));
        put(maker_key.get(), L"Stelvane 8 Path", path.make(program, random));
        put(uninstall_key.get(), L"UninstallString", command.make(uninstaller, random));
        if (HasFatalFailure())
            return;

        settings_.install_folder.clear();
        settings_.journal = uninstall_log();
        std::wstring installed;
        std::wstring journal;
        try {
            // The steps of start-up that read these values, in their order.
            settings_.choose_ui_language();
            installed = vd::installed_app_path(vd::product_code);
            settings_.read_installed_version(installed);
            journal = find_old_journal(installed);
            settings_.read_previous_journal(journal);
        } catch (...) {
            ADD_FAILURE() << "an exception left the start-up steps";
            continue;
        }

        EXPECT_EQ(vd::language_state::instance().language, spoken(language.reads ? index : users));
        EXPECT_EQ(installed, path.reads ? program.wstring() : L"");
        EXPECT_EQ(settings_.state, path.reads ? 2 : 0);
        const auto expected_journal = command.reads ? folder_ / L"uninstall" / journal_file_name
                                      : path.reads  ? folder_ / L"program" / journal_file_name
                                                    : fs::path();
        EXPECT_EQ(journal, expected_journal.wstring());
        const auto expected_folder = command.reads ? folder_ / L"registered"
                                     : path.reads  ? folder_ / L"beside program"
                                                   : fs::path();
        EXPECT_EQ(settings_.install_folder, expected_folder.wstring());
    }
}

// A machine key that fails to read, other than by being absent, costs only the journal beside
// the registered uninstaller: the journal beside the installed program is still found. Here
// HKEY_LOCAL_MACHINE stands for a key deleted under it, which answers ERROR_KEY_DELETED.
TEST(damaged_registry_key, a_failing_uninstall_key_costs_only_its_own_journal) {
    vd::product_code = 0x308;
    testing_support::test_folder folder;
    const auto beside_program = folder / L"program" / journal_file_name;
    testing_support::write_file(beside_program, "");
    const auto program = (folder / L"program" / L"Stelvane.exe").wstring();

    const std::wstring stand_in = L"Software\\Vandrel Tests\\deleted-" + std::to_wstring(::GetCurrentProcessId());
    const vd::reg_key deleted = vd::reg_create_key(HKEY_CURRENT_USER, stand_in);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, deleted.get()), ERROR_SUCCESS);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, stand_in.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vandrel Tests");
    vd::unique_hkey probe;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, probe.put());
    std::wstring found;
    EXPECT_NO_THROW(found = find_old_journal(program));
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);

    EXPECT_EQ(status, ERROR_KEY_DELETED);
    EXPECT_EQ(found, beside_program.wstring());
}

// "InstallerSize": only a REG_BINARY of exactly 8 bytes is a size, and each of its dimensions
// is raised to the minimum.
TEST_F(damaged_registry, the_window_size_is_the_minimum_unless_a_whole_size_reads) {
    const SIZE minimum{520, 380};
    const auto maker_key = vd::reg_create_key(HKEY_CURRENT_USER, L"Software\\Vandrel");
    static const std::int32_t dimensions[] = {INT_MIN, -1, 0, 1, 379, 380, 381, 519, 520, 521, 4000, INT_MAX};
    std::mt19937 random(2207);
    testing_support::watchdog watch(std::chrono::seconds(60));
    for (int n = 0; n < 300; ++n) {
        value saved;
        std::optional<SIZE> reads;
        switch (n % 3) {
        case 0: {  // a whole size
            const std::int32_t width = dimensions[random() % std::size(dimensions)];
            const std::int32_t height = dimensions[random() % std::size(dimensions)];
            saved = stored{REG_BINARY, bytes_of(static_cast<std::uint32_t>(width), 4) + bytes_of(static_cast<std::uint32_t>(height), 4)};
            reads = SIZE{width, height};
            break;
        }
        case 1: {  // 0 to 16 bytes but 8
            std::size_t size = 8;
            while (size == 8)
                size = random() % 17;
            saved = stored{REG_BINARY, bytes_of(0x0000'2000'0000'1000ull, size) + std::string(size > 8 ? size - 8 : 0, '\x7F')};
            break;
        }
        default:
            saved = n % 30 == 2 ? value{} : any_other(random, REG_BINARY);
            break;
        }
        const std::string name = "case " + std::to_string(n);
        SCOPED_TRACE(name);
        watch.step(name);
        put(maker_key.get(), L"InstallerSize", saved);
        const SIZE size = saved_window_size(minimum);
        EXPECT_EQ(size.cx, reads ? std::max(reads->cx, minimum.cx) : minimum.cx);
        EXPECT_EQ(size.cy, reads ? std::max(reads->cy, minimum.cy) : minimum.cy);
    }
}

// The main window itself, from the installer's own templates, with the saved size as it is
// when the window is made and the rectangle it then has.
class damaged_registry_window : public damaged_registry {
protected:
    void SetUp() override {
        damaged_registry::SetUp();
        ASSERT_TRUE(setup_);
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES};
        ::InitCommonControlsEx(&classes);
        minimum_ = window_rect(value{});
        ASSERT_GT(minimum_.right - minimum_.left, 0) << "error " << ::GetLastError();
    }

    RECT window_rect(const value& saved) {
        put(maker_key_.get(), L"InstallerSize", saved);
        testing_support::unique_window window{::CreateDialogParamW(setup_.get(), MAKEINTRESOURCEW(101), nullptr,
                                                                   basic_dialog::dialog_proc,
                                                                   reinterpret_cast<LPARAM>(&dlg_main::instance()))};
        RECT rect{};
        ::GetWindowRect(window.get(), &rect);
        return rect;
    }

    static value size_value(std::int64_t width, std::int64_t height) {
        return stored{REG_BINARY, bytes_of(static_cast<std::uint32_t>(width), 4) + bytes_of(static_cast<std::uint32_t>(height), 4)};
    }

    vd::unique_module setup_{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    testing_support::ui_language_scope language_{1, setup_.get()};
    vd::reg_key maker_key_ = vd::reg_create_key(HKEY_CURRENT_USER, L"Software\\Vandrel");
    RECT minimum_{};
};

// Saved sizes from nothing to the largest: never smaller than the window's minimum, never
// larger than the system lets a window be.
TEST_F(damaged_registry_window, keeps_to_its_minimum_and_the_largest_size) {
    const LONG min_width = minimum_.right - minimum_.left;
    const LONG min_height = minimum_.bottom - minimum_.top;
    const LONG widest = std::max<LONG>(::GetSystemMetrics(SM_CXMAXTRACK), min_width);
    const LONG tallest = std::max<LONG>(::GetSystemMetrics(SM_CYMAXTRACK), min_height);
    const struct {
        std::int64_t width, height;
    } sizes[] = {{INT_MIN, INT_MIN}, {-1, 100000}, {0, 0}, {min_width + 40, min_height - 40}, {INT_MAX, INT_MAX}, {100000, -5}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        const RECT rect = window_rect(size_value(s.width, s.height));
        EXPECT_EQ(rect.right - rect.left, std::clamp<std::int64_t>(s.width, min_width, widest));
        EXPECT_EQ(rect.bottom - rect.top, std::clamp<std::int64_t>(s.height, min_height, tallest));
    }
}

// The window keeps its centre at the size asked for, which the system then cuts down; the
// dialog's DM_REPOSITION brings it back onto the display.
TEST_F(damaged_registry_window, stays_on_the_display_whatever_size_was_saved) {
    for (const auto& saved : {size_value(INT_MAX, INT_MAX), size_value(100000, -5), size_value(-1, 100000)}) {
        RECT rect = window_rect(saved);
        if (!::MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) && vd::details::running_on_wine())
            GTEST_SKIP() << "Wine: DM_REPOSITION leaves a dialog where it is, off the display";
        EXPECT_TRUE(::MonitorFromRect(&rect, MONITOR_DEFAULTTONULL))
            << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom;
    }
}

} // namespace
