#include "installer/journal/journal_file.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/system/known_folders.hpp"
#include "journal_fixture.hpp"
#include "support/folder_link.hpp"
#include "support/test_folder.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include <knownfolders.h>
#include <psapi.h>

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::write_file;
using entry = uninstall_log::entry;

namespace {

class journal_file : public journal_fixture {
protected:
    void SetUp() override {
        journal_fixture::SetUp();
        vd::product_code = 0x308;
        fs::create_directories(menu_);
    }

    fs::path file_ = world_ / journal_file_name;
    fs::path menu_ = world_ / L"menu";
};

std::string utf16(std::wstring_view text, bool big_endian = false) {
    std::string bytes;
    for (const wchar_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

std::string utf8(std::wstring_view text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring with_line_ends(std::wstring_view lines, std::wstring_view line_end) {
    std::wstring text;
    for (const wchar_t c : lines) {
        if (c == L'\n')
            text += line_end;
        else
            text += c;
    }
    return text;
}

std::wstring header(const fs::path& install, const fs::path& menu, std::wstring_view product = L"Stelvane 8.01") {
    return L"// Uninstall Log File v1\n"
           L"// ############ WARNING: Do not delete or modify this file. ############\n"
           L"// Install " + std::wstring(product) + L"\n"
           L"// Install Path : " + install.wstring() + L"\n"
           L"// Shortcut Path : " + menu.wstring() + L"\n"
           L"// " + std::wstring(100, L'-') + L"\n";
}

TEST_F(journal_file, what_is_written_reads_back_the_same) {
    // A name outside the Basic Multilingual Plane, as a user may give a folder.
    const auto odd = (root_ / L"\U0001F3D4 Alps" / L"caf\u00e9.txt").wstring();
    write_file(temp_ / L"vd-1a2b3.tmp", "replaced");
    ASSERT_TRUE(::SetFileAttributesW((temp_ / L"vd-1a2b3.tmp").c_str(), FILE_ATTRIBUTE_READONLY));

    uninstall_log log;
    log.entries = {
        {entry_kind::folder, (root_ / L"\U0001F3D4 Alps").wstring(), L"", true, -1},
        {entry_kind::file, odd, (temp_ / L"vd-1a2b3.tmp").wstring(), true, 1},
        {entry_kind::desktop_link, L"", L"", false, -1},  // a link that could not be made
        {entry_kind::start_menu_link, (menu_ / L"Stelvane.lnk").wstring(), L"", true, -1},
        {entry_kind::uninstall_key, L"", L"", true, -1},
        {entry_kind::class_registration, L"", L"", false, -1},
        {entry_kind::directx_update, L"", L"", true, -1},
        {entry_kind::file, (root_ / L"data.bin").wstring(), L"", false, 4},
    };
    ASSERT_TRUE(log.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    EXPECT_TRUE(log.entries.front().backup.empty() && std::next(log.entries.begin())->backup.empty());
    EXPECT_TRUE(backups().empty());
    EXPECT_TRUE(::GetFileAttributesW(file_.c_str()) & FILE_ATTRIBUTE_READONLY);

    const std::wstring expected_lines = header(root_, menu_) +
        L"0000:00ff:1 -- " + (root_ / L"\U0001F3D4 Alps").wstring() + L"\n"
        L"0001:0101:1 -- " + odd + L"\n"
        L"0002:04ff:0 -- \n"
        L"0003:02ff:1 -- " + (menu_ / L"Stelvane.lnk").wstring() + L"\n"
        L"0004:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stelvane 8\n"
        L"0005:06ff:0 -- HKEY_CLASSES_ROOT\\...\n"
        L"0006:07ff:1 -- DirectX Update\n"
        L"0007:0104:0 -- " + (root_ / L"data.bin").wstring() + L"\n";
    EXPECT_EQ(read_file(file_), "\xFF\xFE" + utf16(with_line_ends(expected_lines, L"\r\n")));

    uninstall_log back;
    back.read(file_.wstring());
    EXPECT_EQ(fs::path(back.install_path), root_);
    EXPECT_EQ(fs::path(back.shortcut_path), menu_);
    EXPECT_EQ(back.previous_install, L"Stelvane 8.01");
    EXPECT_TRUE(back.desktop_shortcut);
    auto expected = log.entries;
    std::next(expected.begin(), 6)->path = L"DirectX Update";
    EXPECT_EQ(back.previous_entries, expected);

    // A journal left read-only is written again over itself; an update names what it updated.
    back.entries = {};
    ASSERT_TRUE(back.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    uninstall_log again;
    again.read(file_.wstring());
    EXPECT_EQ(again.previous_entries, expected);
    EXPECT_EQ(again.previous_install, L"Stelvane 8.01");
    EXPECT_NE(read_file(file_).find(utf16(L"// Install Stelvane 8.01 -- Update (Stelvane 8.01)\r\n")), std::string::npos);
}

// A journal is replaced only by a whole new one; a header with an empty folder reads back
// with every entry after it.
TEST_F(journal_file, a_journal_is_replaced_whole_or_not_at_all) {
    uninstall_log log;
    log.entries = {{entry_kind::file, (root_ / L"a.dll").wstring(), L"", true, 0}};
    ASSERT_TRUE(log.write(file_.wstring(), root_.wstring(), L""));
    const auto first = read_file(file_);
    uninstall_log back;
    back.read(file_.wstring());
    EXPECT_EQ(back.shortcut_path, L"");
    EXPECT_EQ(back.previous_entries.size(), 1u) << "the entries after an empty folder are read";

    // The new journal cannot be made (a folder stands where it is written first): the old one
    // stays as it was, read-only.
    fs::create_directories(file_.wstring() + L".new");
    uninstall_log next;
    next.entries = {{entry_kind::file, (root_ / L"b.dll").wstring(), L"", true, 0}};
    EXPECT_FALSE(next.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    EXPECT_EQ(read_file(file_), first);
    EXPECT_TRUE(::GetFileAttributesW(file_.c_str()) & FILE_ATTRIBUTE_READONLY);
    fs::remove(file_.wstring() + L".new");
    EXPECT_TRUE(next.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    EXPECT_FALSE(fs::exists(file_.wstring() + L".new"));
}

TEST_F(journal_file, an_empty_journal_is_its_six_header_lines) {
    uninstall_log log;
    ASSERT_TRUE(log.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    EXPECT_EQ(read_file(file_), "\xFF\xFE" + utf16(with_line_ends(header(root_, menu_), L"\r\n")));
}

TEST_F(journal_file, old_entries_not_repeated_come_first) {
    const auto folder = (root_ / L"A").wstring();
    const auto file = (root_ / L"A" / L"x").wstring();
    uninstall_log log;
    log.previous_entries = {
        {entry_kind::folder, folder, L"", true, -1},
        {entry_kind::file, file, L"", true, 0},
        {entry_kind::start_menu_link, (menu_ / L"Old.lnk").wstring(), L"", true, -1},
    };
    // The same file named another way is still the same file.
    log.entries = {
        {entry_kind::file, (root_ / L"a" / L"." / L"X").wstring(), L"", true, 0},
        {entry_kind::start_menu_link, (menu_ / L"New.lnk").wstring(), L"", true, -1},
    };
    const auto this_run = log.entries;
    ASSERT_TRUE(log.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    EXPECT_TRUE(log.previous_entries.empty());
    std::list<entry> merged = {{entry_kind::folder, folder, L"", true, -1}};
    merged.insert(merged.end(), this_run.begin(), this_run.end());
    EXPECT_EQ(log.entries, merged);
}

TEST_F(journal_file, a_large_previous_journal_merges_in_bounded_time) {
    // 10,000 old entries, some of them files that exist; this run repeats every other one under
    // another case, and one of the two old links.
    constexpr int old_count = 10'000;
    uninstall_log log;
    std::list<entry> kept;
    for (int i = 0; i < old_count; ++i) {
        const auto path = root_ / fmt::format(L"d{}", i / 100) / fmt::format(L"File{}.dat", i);
        if (i % 100 == 0)
            write_file(path, "");
        const entry old{i % 10 == 0 ? entry_kind::folder : entry_kind::file, path.wstring(), L"", true, -1};
        log.previous_entries.push_back(old);
        if (i % 2 == 0) {
            auto text = path.wstring();
            std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
            log.entries.push_back({old.kind, text, L"", true, -1});
        } else {
            kept.push_back(old);
        }
    }
    log.previous_entries.push_back({entry_kind::start_menu_link, (menu_ / L"Older.lnk").wstring(), L"", true, -1});
    log.previous_entries.push_back({entry_kind::start_menu_link, (menu_ / L"Old.lnk").wstring(), L"", true, -1});
    log.previous_entries.push_back({entry_kind::desktop_link, (world_ / L"Old.lnk").wstring(), L"", true, -1});
    log.entries.push_back({entry_kind::desktop_link, (world_ / L"New.lnk").wstring(), L"", true, -1});
    kept.push_back({entry_kind::start_menu_link, (menu_ / L"Old.lnk").wstring(), L"", true, -1});
    std::list<entry> merged = kept;
    merged.insert(merged.end(), log.entries.begin(), log.entries.end());

    testing_support::watchdog watch(std::chrono::seconds(120));
    watch.step("merge of 10,000 previous entries");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(log.write(file_.wstring(), root_.wstring(), menu_.wstring()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A few seconds under Wine; the bound leaves ten times that.
    EXPECT_LT(elapsed, std::chrono::seconds(40));
    EXPECT_EQ(log.entries, merged);
}

TEST_F(journal_file, every_encoding_and_line_end_reads_the_same) {
    const std::wstring lines = header(root_, menu_) +
        L"0000:00ff:1 -- " + (root_ / L"caf\u00e9").wstring() + L"\n"
        L"0001:0103:1 -- " + (root_ / L"\U0001F3D4.dat").wstring() + L"\n"
        L"0002:04ff:1 -- " + (world_ / L"Stelvane.lnk").wstring() + L"\n";
    uninstall_log reference;
    write_file(file_, "\xFF\xFE" + utf16(with_line_ends(lines, L"\r\n")));
    reference.read(file_.wstring());
    ASSERT_EQ(reference.previous_entries.size(), 3u);
    EXPECT_EQ(reference.previous_entries.front().path, (root_ / L"caf\u00e9").wstring());
    EXPECT_EQ(std::next(reference.previous_entries.begin())->payload_kind, 3);

    const std::vector<std::pair<const char*, std::string>> forms = {
        {"UTF-16LE, LF", "\xFF\xFE" + utf16(with_line_ends(lines, L"\n"))},
        {"UTF-16LE, CR", "\xFF\xFE" + utf16(with_line_ends(lines, L"\r"))},
        {"UTF-16BE, CR LF", "\xFE\xFF" + utf16(with_line_ends(lines, L"\r\n"), true)},
        {"UTF-8 with signature, CR LF", "\xEF\xBB\xBF" + utf8(with_line_ends(lines, L"\r\n"))},
        {"UTF-8 without signature, LF", utf8(with_line_ends(lines, L"\n"))},
        {"UTF-8 without signature, CR", utf8(with_line_ends(lines, L"\r"))},
    };
    for (const auto& [form, bytes] : forms) {
        write_file(file_, bytes);
        uninstall_log log;
        log.read(file_.wstring());
        EXPECT_EQ(log.previous_entries, reference.previous_entries) << form;
        EXPECT_EQ(log.install_path, reference.install_path) << form;
        EXPECT_EQ(log.shortcut_path, reference.shortcut_path) << form;
        EXPECT_EQ(log.previous_install, L"Stelvane 8.01") << form;
        EXPECT_TRUE(log.desktop_shortcut) << form;
    }
}

TEST_F(journal_file, reading_stops_at_what_it_cannot_use) {
    const auto read = [&](const std::wstring& lines) {
        write_file(file_, "\xFF\xFE" + utf16(with_line_ends(lines, L"\r\n")));
        uninstall_log log;
        log.read(file_.wstring());
        return log;
    };
    const std::wstring first = L"0000:00ff:1 -- " + root_.wstring() + L"\n";

    // Another version: nothing is read, and the desktop default stays on.
    auto log = read(L"// Uninstall Log File v2\n" + header(root_, menu_).substr(25) + first);
    EXPECT_TRUE(log.previous_entries.empty());
    EXPECT_TRUE(log.install_path.empty());
    EXPECT_TRUE(log.desktop_shortcut);

    // A folder that has gone is forgotten; the entries still count.
    log = read(header(root_ / L"gone", menu_, L"Stelvane 8.00 -- Update (Stelvane 7.5)") + first);
    EXPECT_TRUE(log.install_path.empty());
    EXPECT_EQ(fs::path(log.shortcut_path), menu_);
    EXPECT_EQ(log.previous_install, L"Stelvane 8.00");
    EXPECT_EQ(log.previous_entries.size(), 1u);
    EXPECT_FALSE(log.desktop_shortcut);

    // A code beyond the known kinds, a negative one, a line of blanks, a missing "--": the
    // entries before stay and the desktop default stays on.
    for (const std::wstring damaged : {L"0001:0800:1 -- x", L"0001:-001:1 -- x", L"   ", L"0001:00ff:1 x",
                                       L"0001:00ff:2 -- x", L"0001;00ff:1 -- x"}) {
        log = read(header(root_, menu_) + first + damaged + L"\n0002:04ff:1 -- y\n");
        EXPECT_EQ(log.previous_entries.size(), 1u) << damaged;
        EXPECT_TRUE(log.desktop_shortcut) << damaged;
    }

    // A link that was never made has no path, and what follows it is still read.
    log = read(header(root_, menu_) + first + L"0001:02ff:0 -- \n\n0002:04ff:1 -- y\n");
    ASSERT_EQ(log.previous_entries.size(), 3u);
    EXPECT_EQ(*std::next(log.previous_entries.begin()), (entry{entry_kind::start_menu_link, L"", L"", false, -1}));
    EXPECT_EQ(log.previous_entries.back(), (entry{entry_kind::desktop_link, L"y", L"", true, -1}));
    EXPECT_TRUE(log.desktop_shortcut);

    // A remark of 16 Mi characters is passed over as it is read; held whole, it alone would
    // take 32 MiB. The entry after it still counts.
    {
        std::ofstream out(file_, std::ios::binary | std::ios::trunc);
        out << "\xEF\xBB\xBF" << utf8(header(root_, menu_) + first) << "// ";
        const std::string piece(1 << 16, 'x');
        for (int n = 0; n < 256; ++n)
            out << piece;
        out << "\n0001:04ff:1 -- y\n";
    }
    PROCESS_MEMORY_COUNTERS before{}, after{};
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &before, sizeof before));
    uninstall_log long_line;
    long_line.read(file_.wstring());
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &after, sizeof after));
    EXPECT_EQ(long_line.previous_entries.size(), 2u);
    EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 8u << 20);

    // No file at all: nothing, and no desktop link either.
    uninstall_log none;
    none.read((world_ / L"missing.ulog").wstring());
    EXPECT_TRUE(none.previous_entries.empty());
    EXPECT_FALSE(none.desktop_shortcut);
}

// A journal beside the installer may come from anybody: it may name any file as a link.
// The previous journal may come from a folder anybody can write to, and its links' folders
// from the user: what it names is put aside only when it is the link it claims to be.
TEST_F(journal_file, a_previous_link_outside_the_shell_folders_or_reached_through_a_link_is_left_alone) {
    const auto text = root_ / L"victim.txt", link = root_ / L"victim.lnk";
    write_file(text, "the user's text");
    write_file(link, "the user's link");
    // In the user's own Start menu, "Stelvane 8" leads to another folder; on the user's desktop,
    // the link is a second name of a file elsewhere.
    const testing_support::test_folder start_menu(vd::known_folder_path(FOLDERID_StartMenu));
    const testing_support::test_folder desktop(vd::known_folder_path(FOLDERID_Desktop));
    const auto elsewhere = root_ / L"elsewhere";
    write_file(elsewhere / L"Stelvane 8.01.lnk", "a link in another folder");
    write_file(root_ / L"other.lnk", "another file");
    const testing_support::folder_link linked_folder(start_menu / L"Stelvane 8", elsewhere);
    ASSERT_TRUE(::CreateHardLinkW((desktop / L"Stelvane 8.01.lnk").c_str(), (root_ / L"other.lnk").c_str(), nullptr));
    // A folder on the user's desktop that leads to the common Start menu is no way into it.
    const auto common_menu = vd::known_folder_path(FOLDERID_CommonStartMenu);
    const auto common_link = common_menu / (start_menu.path().filename().wstring() + L".lnk");
    write_file(common_link, "a link of all users");
    const struct remove_later {
        fs::path file;
        ~remove_later() { ::DeleteFileW(file.c_str()); }
    } common_link_goes{common_link};
    const testing_support::folder_link to_common_menu(desktop / L"Common", common_menu);

    const std::pair<fs::path, fs::path> journals[] = {
        {text, link},
        {desktop / L"Stelvane 8.01.lnk", start_menu / L"Stelvane 8" / L"Stelvane 8.01.lnk"},
        {text, desktop / L"Common" / common_link.filename()},
    };
    for (const auto& [desktop_link, start_menu_link] : journals) {
        SCOPED_TRACE(start_menu_link.string());
        write_file(file_, "\xFF\xFE" + utf16(with_line_ends(header(root_, menu_) + L"0000:04ff:1 -- " + desktop_link.wstring() +
                                                            L"\n0001:02ff:1 -- " + start_menu_link.wstring() + L"\n", L"\r\n")));
        uninstall_log log;
        log.read(file_.wstring());
        for (const bool on_desktop : {true, false}) {
            log.add_shortcut(on_desktop, menu_.wstring());
            log.set_result(true, L"");
        }
        EXPECT_TRUE(log.write(file_.wstring(), root_.wstring(), menu_.wstring()));
        ::SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_EQ(read_file(text), "the user's text");
    EXPECT_EQ(read_file(link), "the user's link");
    EXPECT_EQ(read_file(elsewhere / L"Stelvane 8.01.lnk"), "a link in another folder");
    EXPECT_EQ(read_file(root_ / L"other.lnk"), "another file");
    EXPECT_EQ(read_file(desktop / L"Stelvane 8.01.lnk"), "another file");
    EXPECT_EQ(read_file(common_link), "a link of all users");
}

} // namespace
