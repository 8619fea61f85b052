// Journals of a previous installation as disks, editors and cut copies leave them. Every case
// starts from a journal that our own writer wrote and is damaged from a fixed seed. Reading
// never throws or hangs, keeps every entry that stands before the damage and makes up none
// after it, and the next journal written from what was read keeps every entry read.
#include "installer/journal/journal_file.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/system/path.hpp"
#include "foundation/text/conversions.hpp"
#include "installer/startup/installer_texts.hpp"
#include "journal_fixture.hpp"
#include "support/watchdog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <list>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using entry = uninstall_log::entry;
using testing_support::write_file;

namespace {

enum class encoding { utf16le, utf16be, utf8, utf32le, utf32be, code_page };

struct form {
    encoding code;
    bool signature;
};

// The forms in which a whole journal reads as written.
constexpr form sound_forms[] = {{encoding::utf16le, true}, {encoding::utf16be, true}, {encoding::utf8, true},
                                {encoding::utf8, false},   {encoding::utf32le, true}, {encoding::utf32be, true}};
// Those that carry their encoding in a byte-order mark: nothing later can change how they read.
constexpr form marked_forms[] = {{encoding::utf16le, true}, {encoding::utf16be, true}, {encoding::utf8, true},
                                 {encoding::utf32le, true}, {encoding::utf32be, true}};

constexpr std::size_t header_lines = 6;
// "0003:0101:1 -- ": what stands before an entry's text.
constexpr std::size_t text_column = 15;

struct journal_text {
    std::vector<std::wstring> lines;  // the header, then one line per entry
    std::vector<std::wstring> ends;   // each line's end
};

// A journal's bytes and, per line, where it starts, where its first character ends, where the
// first character of its end ends (the line counts as ended from there) and where its end ends.
struct encoded {
    std::string bytes;
    std::vector<std::size_t> start, first_char, ended, end;
};

void put_unit(std::string& out, std::uint32_t value, int size, bool big_endian) {
    for (int i = 0; i < size; ++i)
        out += static_cast<char>(value >> (8 * (big_endian ? size - 1 - i : i)));
}

// One character: a UTF-16 unit for the UTF-16 forms, else a code point (a lone surrogate stays
// one, as a 3-byte UTF-8 form or a UTF-32 value that decoders take for bad input).
void put_char(std::string& out, std::wstring_view units, encoding code) {
    char32_t value = static_cast<std::uint16_t>(units[0]);
    if (units.size() == 2)
        value = 0x10000 + ((value & 0x3FF) << 10) + (static_cast<std::uint16_t>(units[1]) & 0x3FF);
    switch (code) {
    case encoding::utf16le:
    case encoding::utf16be:
        put_unit(out, value, 2, code == encoding::utf16be);
        break;
    case encoding::utf32le:
    case encoding::utf32be:
        put_unit(out, value, 4, code == encoding::utf32be);
        break;
    case encoding::utf8:
        if (value < 0x80) {
            out += static_cast<char>(value);
        } else if (value < 0x800) {
            out += static_cast<char>(0xC0 | (value >> 6));
            out += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            out += static_cast<char>(0xE0 | (value >> 12));
            out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (value >> 18));
            out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (value & 0x3F));
        }
        break;
    case encoding::code_page:
        out += vd::wide_to_narrow(units);
        break;
    }
}

// Appends text, calling mark after its first character.
void put_text(std::string& out, std::wstring_view text, encoding code, const std::function<void()>& mark) {
    const bool units = code == encoding::utf16le || code == encoding::utf16be;
    for (std::size_t i = 0; i < text.size();) {
        const bool pair = !units && i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        put_char(out, text.substr(i, pair ? 2 : 1), code);
        if (i == 0)
            mark();
        i += pair ? 2 : 1;
    }
}

encoded encode(const journal_text& text, form shape) {
    encoded out;
    if (shape.signature) {
        switch (shape.code) {
        case encoding::utf16le: out.bytes = "\xFF\xFE"; break;
        case encoding::utf16be: out.bytes = "\xFE\xFF"; break;
        case encoding::utf8: out.bytes = "\xEF\xBB\xBF"; break;
        case encoding::utf32le: out.bytes = std::string("\xFF\xFE\0\0", 4); break;
        case encoding::utf32be: out.bytes = std::string("\0\0\xFE\xFF", 4); break;
        case encoding::code_page: break;
        }
    }
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        out.start.push_back(out.bytes.size());
        out.first_char.push_back(out.bytes.size());
        put_text(out.bytes, text.lines[i], shape.code, [&] { out.first_char.back() = out.bytes.size(); });
        out.ended.push_back(out.bytes.size());
        put_text(out.bytes, text.ends[i], shape.code, [&] { out.ended.back() = out.bytes.size(); });
        if (text.lines[i].empty())
            out.first_char.back() = out.ended.back();
        out.end.push_back(out.bytes.size());
    }
    return out;
}

// What the reader gives for an entry that the writer wrote.
entry as_read(entry item) {
    item.backup.clear();
    if (item.kind == entry_kind::uninstall_key || item.kind == entry_kind::class_registration)
        item.path.clear();
    if (item.kind == entry_kind::directx_update)
        item.path = L"DirectX Update";
    return item;
}

std::wstring trimmed(std::wstring text) {
    text.erase(0, text.find_first_not_of(L' '));
    text.erase(text.find_last_not_of(L' ') + 1);
    return text;
}

std::string describe(const std::list<entry>& entries) {
    std::string text;
    std::size_t index = 0;
    for (const auto& item : entries) {
        auto line = vd::wide_to_utf8(journal_details::entry_line(index++, item));
        if (line.size() > 120)
            line = line.substr(0, 120) + "... (" + std::to_string(line.size()) + " bytes)";
        text += "\n  " + line;
    }
    return text;
}

// What one case must read: exactly these entries, or (for damage that no reader can see, a
// flipped bit inside a path) these entries first and then only entries of the journal or of
// the damaged lines.
struct expectation {
    std::list<entry> entries;
    bool exact = true;
    bool stops = false;             // exact: reading ends at the damage, so the desktop default stays on
    bool header = true;             // exact: the folders of the header are read
    std::size_t damaged_lines = 0;  // not exact: entries that may come from the damaged lines
    std::list<entry> journal;       // not exact: the journal's own entries
};

struct journal_case {
    std::string name;
    std::string bytes;
    expectation expect;
};

struct base_journal {
    journal_text text;
    std::vector<entry> entries;  // as read

    std::list<entry> first(std::size_t count) const {
        return {entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(std::min(count, entries.size()))};
    }
    std::list<entry> all() const { return first(entries.size()); }
    std::size_t count() const { return entries.size(); }
    const std::wstring& line(std::size_t index) const { return text.lines[header_lines + index]; }
};

class damaged_journal : public journal_fixture {
protected:
    void SetUp() override {
        journal_fixture::SetUp();
        vd::product_code = 0x308;
        fs::create_directories(menu_);
    }

    std::wstring name(std::mt19937& random) {
        static const std::wstring pieces[] = {L"a",  L"Z",      L"7",  L" ",          L"_",          L"-",
                                              L".",  L"\u00e9", L"\u00fc", L"\u00df", L"\u00f1", L"\u03a9",
                                              L"\u6c34", L"\U0001F3D4", L" -- ", L"(x86)", L"Stelvane", L"data"};
        std::wstring text;
        for (auto n = std::uniform_int_distribution<int>(1, 10)(random); n > 0; --n)
            text += pieces[random() % std::size(pieces)];
        text = trimmed(text);
        return text.empty() || text.find_first_not_of(L". ") == std::wstring::npos ? L"x" : text;
    }

    // A journal of every entry kind, as one of our installations writes it.
    base_journal make_base(std::mt19937& random) {
        uninstall_log log;
        const auto folder = (root_ / name(random)).wstring();
        log.entries.push_back({entry_kind::folder, folder, L"", true, -1});
        for (auto n = random() % 10 + 1; n > 0; --n)
            log.entries.push_back({entry_kind::file, (fs::path(folder) / name(random) / name(random)).wstring(), L"",
                                   random() % 4 != 0, static_cast<std::int32_t>(random() % 7)});
        if (random() % 3 == 0)  // an old journal may hold the kind that is no longer made
            log.entries.push_back({static_cast<entry_kind>(3), (fs::path(folder) / name(random)).wstring(), L"", true, -1});
        log.entries.push_back({entry_kind::start_menu_link, (menu_ / (name(random) + L".lnk")).wstring(), L"", true, -1});
        switch (random() % 3) {
        case 0: break;
        case 1: log.entries.push_back({entry_kind::desktop_link, (world_ / L"Stelvane 8.lnk").wstring(), L"", true, -1}); break;
        case 2: log.entries.push_back({entry_kind::desktop_link, L"", L"", false, -1}); break;  // never made
        }
        log.entries.push_back({entry_kind::uninstall_key, L"", L"", true, -1});
        log.entries.push_back({entry_kind::class_registration, L"", L"", random() % 2 == 0, -1});
        log.entries.push_back({entry_kind::directx_update, L"", L"", random() % 2 == 0, -1});
        if (random() % 2 == 0)
            log.previous_install = L"Stelvane 8.00";
        const auto written = log.entries;
        const auto file = world_ / L"base" / journal_file_name;
        fs::create_directories(file.parent_path());
        EXPECT_TRUE(log.write(file.wstring(), root_.wstring(), menu_.wstring()));

        base_journal base;
        const auto bytes = testing_support::read_file(file);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        std::wstring text(bytes.size() / 2 - 1, L'\0');
        std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
        for (std::size_t at = 0, next; (next = text.find(L"\r\n", at)) != std::wstring::npos; at = next + 2) {
            base.text.lines.push_back(text.substr(at, next - at));
            base.text.ends.push_back(L"\r\n");
        }
        EXPECT_EQ(base.text.lines.size(), header_lines + written.size());
        std::ranges::transform(written, std::back_inserter(base.entries), as_read);
        return base;
    }

    // Reads the damaged journal, checks what was read, writes the next journal from it and
    // reads that back.
    void check(const journal_case& c) {
        SCOPED_TRACE(c.name);
        write_file(file_, c.bytes);
        uninstall_log log;
        try {
            log.read(file_.wstring());
        } catch (...) {
            ADD_FAILURE() << "an exception left the reader";
            return;
        }
        const auto& read = log.previous_entries;
        const auto& expect = c.expect;
        if (expect.exact) {
            EXPECT_TRUE(read == expect.entries) << "read:" << describe(read) << "\nexpected:" << describe(expect.entries);
            const bool desktop_link = std::ranges::any_of(read, [](const entry& e) { return e.kind == entry_kind::desktop_link; });
            EXPECT_EQ(log.desktop_shortcut, expect.stops || desktop_link);
            if (expect.header) {
                EXPECT_EQ(fs::path(log.install_path), root_);
                EXPECT_EQ(fs::path(log.shortcut_path), menu_);
            }
        } else {
            // The entries before the damage, then entries of the journal in their order, or at
            // most as many others as there are damaged lines.
            auto at = read.begin();
            for (const auto& item : expect.entries) {
                if (at == read.end() || *at != item) {
                    ADD_FAILURE() << "an entry before the damage is lost:" << describe({item}) << "\nread:" << describe(read);
                    return;
                }
                ++at;
            }
            std::size_t others = 0;
            for (; at != read.end(); ++at) {
                if (std::ranges::find(expect.journal, *at) == expect.journal.end())
                    ++others;
            }
            EXPECT_LE(others, expect.damaged_lines) << "read:" << describe(read);
        }
        // A name with a NUL in it would stand for the part before the NUL wherever it is used.
        EXPECT_EQ(log.install_path.find(L'\0'), std::wstring::npos);
        EXPECT_EQ(log.shortcut_path.find(L'\0'), std::wstring::npos);
        for (const auto& item : read) {
            EXPECT_EQ(item.path.find(L'\0'), std::wstring::npos);
            EXPECT_LE(static_cast<std::uint32_t>(item.kind), 7u);
        }

        // The next journal keeps every entry read, unless a later one of its kind (and, for
        // folders and files, of its path) stands for it.
        const auto read_entries = read;
        ASSERT_TRUE(log.write(next_.wstring(), root_.wstring(), menu_.wstring()));
        for (auto item = read_entries.begin(); item != read_entries.end(); ++item) {
            const bool kept = std::ranges::find(log.entries, *item) != log.entries.end();
            const bool replaced = std::any_of(std::next(item), read_entries.end(), [&](const entry& later) {
                return later.kind == item->kind && ((item->kind != entry_kind::folder && item->kind != entry_kind::file) ||
                                                    vd::same_path(later.path, item->path));
            });
            EXPECT_TRUE(kept || replaced) << "the next journal lost" << describe({*item});
        }
        uninstall_log next;
        next.read(next_.wstring());
        std::list<entry> written;
        std::ranges::transform(log.entries, std::back_inserter(written), as_read);
        EXPECT_TRUE(next.previous_entries == written) << "read back:" << describe(next.previous_entries)
                                                      << "\nwritten:" << describe(written);
        EXPECT_EQ(next.previous_install, product_name(false));
    }

    fs::path menu_ = world_ / L"menu";
    fs::path file_ = world_ / L"damaged" / journal_file_name;
    fs::path next_ = world_ / L"next" / journal_file_name;
};

TEST_F(damaged_journal, reads_what_stands_before_the_damage_and_keeps_it) {
    std::mt19937 random(20240611);
    fs::create_directories(file_.parent_path());
    fs::create_directories(next_.parent_path());
    std::vector<base_journal> bases;
    for (int i = 0; i < 8; ++i)
        bases.push_back(make_base(random));

    const auto pick = [&](std::size_t count) { return static_cast<std::size_t>(random() % count); };
    const auto pick_form = [&](const auto& forms) { return forms[pick(std::size(forms))]; };
    const auto exact = [](journal_text text, form shape, std::list<entry> entries, bool stops, bool header = true) {
        return std::pair{encode(text, shape).bytes, expectation{std::move(entries), true, stops, header, 0, {}}};
    };
    // An entry whose line holds a character at a position from text_column on that is none
    // of the given ones, and that position.
    const auto pick_char = [&](const base_journal& base, std::size_t& k, std::size_t& at) {
        for (;;) {
            k = pick(base.count());
            const auto& line = base.line(k);
            if (line.size() <= text_column)
                continue;
            at = text_column + pick(line.size() - text_column);
            const wchar_t c = line[at];
            const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
            if (!surrogate && c != L' ')
                return;
        }
    };
    // The text of entry k when its line reads as text.
    const auto reads_as = [](const entry& item, std::wstring text) {
        auto read = item;
        const bool registry = item.kind == entry_kind::uninstall_key || item.kind == entry_kind::class_registration;
        read.path = registry ? L"" : trimmed(std::move(text));
        return read;
    };

    using damage = std::function<std::pair<std::string, expectation>(const base_journal&)>;
    const struct {
        const char* what;
        int count;
        damage make;
    } damages[] = {
        {"a sound form with CR LF, LF, CR or mixed line ends", 96, [&](const base_journal& base) {
             static const std::wstring ends[] = {L"\r\n", L"\n", L"\r", L"\n\r", L"\r\r\n", L"\r\n\r\n"};
             auto text = base.text;
             const auto style = pick(4);
             for (auto& end : text.ends)
                 end = style < 3 ? ends[style] : ends[pick(std::size(ends))];
             return exact(text, pick_form(sound_forms), base.all(), false);
         }},
        {"an entry line that does not parse", 120, [&](const base_journal& base) {
             static const std::pair<std::size_t, std::wstring> broken[] = {
                 {5, L"0800"}, {5, L"08ff"}, {5, L"ffff"}, {5, L"-001"}, {5, L"-0ff"}, {5, L"7fffffff"},
                 {5, L"100000000"}, {5, L"xyz"}, {5, L""}, {5, L"0g01"}, {0, L"-1"}, {0, L"99999999999"},
                 {0, L""}, {0, L"x"}, {0, L"9999:ffff:7"}, {10, L"2"}, {10, L""}, {10, L"10"}, {10, L"x"},
                 {12, L"-"}, {12, L"---"}, {12, L"\u2014"}, {12, L"--x"}, {12, L""}, {4, L";"}, {9, L";"},
             };
             const auto [field, value] = broken[pick(std::size(broken))];
             const auto k = pick(base.count());
             auto text = base.text;
             auto& line = text.lines[header_lines + k];
             const auto field_end = field == 0 ? 4 : field == 5 ? 9 : field == 12 ? 14 : field + 1;
             line = line.substr(0, field) + value + line.substr(field_end);
             if (field == 0 && value == L"9999:ffff:7")
                 line = value + base.line(k).substr(11);
             return exact(text, pick_form(sound_forms), base.first(k), true);
         }},
        {"a line of blanks among the entries", 12, [&](const base_journal& base) {
             const auto k = pick(base.count());
             auto text = base.text;
             text.lines[header_lines + k] = std::wstring(pick(8) + 1, pick(2) ? L' ' : L'\t');
             return exact(text, pick_form(sound_forms), base.first(k), true);
         }},
        {"an entry with its text gone", 30, [&](const base_journal& base) {
             const auto k = pick(base.count());
             auto text = base.text;
             text.lines[header_lines + k].resize(text_column);
             auto entries = base.all();
             std::next(entries.begin(), static_cast<std::ptrdiff_t>(k))->path.clear();
             return exact(text, pick_form(sound_forms), entries, false);
         }},
        {"header lines missing, reordered or repeated", 48, [&](const base_journal& base) {
             static const struct {
                 std::vector<std::size_t> order;
                 bool read;
             } arrangements[] = {
                 {{0, 1, 2, 3, 4}, true},          {{0, 5, 2, 3, 4, 1}, true},  {{1, 2, 3, 4, 5}, false},
                 {{0, 2, 3, 4, 5}, false},         {{0, 1, 3, 4, 5}, false},    {{0, 1, 2, 4, 5}, false},
                 {{0, 1, 2, 3, 5}, false},         {{0, 1, 2, 4, 3, 5}, false}, {{1, 0, 2, 3, 4, 5}, false},
                 {{}, false}, {{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}, true},
             };
             const auto& arrangement = arrangements[pick(std::size(arrangements))];
             journal_text text;
             for (const auto i : arrangement.order) {
                 text.lines.push_back(base.text.lines[i]);
                 text.ends.push_back(L"\r\n");
             }
             text.lines.insert(text.lines.end(), base.text.lines.begin() + header_lines, base.text.lines.end());
             text.ends.resize(text.lines.size(), L"\r\n");
             return exact(text, pick_form(sound_forms), arrangement.read ? base.all() : std::list<entry>{},
                          !arrangement.read, arrangement.read);
         }},
        {"another version line", 30, [&](const base_journal& base) {
             static const std::pair<std::wstring, bool> versions[] = {
                 {L"// Uninstall Log File v2", false},       {L"// Uninstall Log File v0", false},
                 {L"// Uninstall Log File v", false},        {L"// Uninstall Log File v-1", false},
                 {L"// Uninstall Log File v99999999999", false}, {L"// Uninstall Log File", false},
                 {L"Uninstall Log File v1", false},          {L"// Uninstall Log File v 1", true},
                 {L"/// Uninstall Log File v1 (copy)", true}, {L"//Uninstall Log File v01", true},
             };
             const auto& [line, read] = versions[pick(std::size(versions))];
             auto text = base.text;
             text.lines[0] = line;
             return exact(text, pick_form(sound_forms), read ? base.all() : std::list<entry>{}, !read, read);
         }},
        {"an entry line cut before its text", 30, [&](const base_journal& base) {
             const auto k = pick(base.count());
             auto text = base.text;
             text.lines[header_lines + k].resize(1 + pick(text_column - 2));
             return exact(text, pick_form(sound_forms), base.first(k), true);
         }},
        {"an entry's text cut short", 30, [&](const base_journal& base) {
             std::size_t k = 0, at = 0;
             pick_char(base, k, at);
             auto text = base.text;
             auto& line = text.lines[header_lines + k];
             line.resize(at + 1);
             auto entries = base.all();
             auto& item = *std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
             item = reads_as(item, line.substr(text_column));
             return exact(text, pick_form(sound_forms), entries, false);
         }},
        {"two entry lines run together", 30, [&](const base_journal& base) {
             const auto k = pick(base.count() - 1);
             auto text = base.text;
             const auto i = header_lines + k;
             text.lines[i] += text.lines[i + 1];
             text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(i) + 1);
             text.ends.pop_back();
             auto entries = base.all();
             auto item = std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
             *item = reads_as(*item, text.lines[i].substr(text_column));
             entries.erase(std::next(item));
             return exact(text, pick_form(sound_forms), entries, false);
         }},
        {"a line end inside an entry's text", 30, [&](const base_journal& base) {
             std::size_t k = 0, at = 0;
             pick_char(base, k, at);
             auto text = base.text;
             const auto i = header_lines + k;
             const auto tail = text.lines[i].substr(at + 1);
             if (tail.empty() || trimmed(tail).empty())
                 return exact(base.text, pick_form(sound_forms), base.all(), false);
             text.lines[i].resize(at + 1);
             text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
             text.ends.push_back(L"\r\n");
             auto entries = base.first(k + 1);
             entries.back() = reads_as(entries.back(), text.lines[i].substr(text_column));
             return exact(text, pick_form(sound_forms), entries, true);
         }},
        {"a lone surrogate in an entry's text", 30, [&](const base_journal& base) {
             std::size_t k = 0, at = 0;
             pick_char(base, k, at);
             auto text = base.text;
             auto& line = text.lines[header_lines + k];
             line[at] = pick(2) ? L'\xD800' : L'\xDC00';
             auto entries = base.all();
             auto& item = *std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
             auto expected = line.substr(text_column);
             expected[at - text_column] = L'\xFFFD';
             item = reads_as(item, expected);
             return exact(text, pick_form(marked_forms), entries, false);
         }},
        {"bytes that are no UTF-8 in a marked UTF-8 journal", 30, [&](const base_journal& base) {
             static const std::string invalid[] = {"\xFF", "\x80", "\xC3", "\xE2\x82", "\xF0\x9F\x8F", "\xBF\xBF"};
             const auto k = pick(base.count());
             const auto i = header_lines + k;
             auto coded = encode(base.text, {encoding::utf8, true});
             const auto& bad = invalid[pick(std::size(invalid))];
             const bool front = pick(2) == 0;
             coded.bytes.insert(front ? coded.start[i] + text_column : coded.ended[i] - 1, bad);
             auto entries = base.all();
             auto& item = *std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
             const auto old = base.line(k).substr(text_column);
             const std::wstring replacements(bad == "\xBF\xBF" ? 2 : 1, L'\xFFFD');
             item = reads_as(item, front ? replacements + old : old + replacements);
             return std::pair{coded.bytes, expectation{entries, true, false, true, 0, {}}};
         }},
        {"a NUL in a line", 30, [&](const base_journal& base) {
             auto text = base.text;
             // A NUL right after the folder of the header would leave a name whose first part
             // exists.
             if (pick(3) == 0) {
                 text.lines[3 + pick(2)] += std::wstring(1, L'\0') + L"junk";
                 return exact(text, pick_form(sound_forms), {}, true, false);
             }
             std::size_t k = 0, at = 0;
             pick_char(base, k, at);
             text.lines[header_lines + k][at] = L'\0';
             return exact(text, pick_form(sound_forms), base.first(k), true);
         }},
        {"a run of zeros over a marked journal", 30, [&](const base_journal& base) {
             const auto shape = pick_form(marked_forms);
             auto coded = encode(base.text, shape);
             const std::size_t unit = shape.code == encoding::utf16le || shape.code == encoding::utf16be ? 2
                                      : shape.code == encoding::utf8                                     ? 1
                                                                                                         : 4;
             const auto first = pick(coded.bytes.size() / unit) * unit;
             const auto length = std::min((pick(16) + 1) * unit, coded.bytes.size() - first);
             std::fill_n(coded.bytes.begin() + static_cast<std::ptrdiff_t>(first), length, '\0');
             const auto sound = static_cast<std::size_t>(std::count_if(
                 coded.ended.begin() + header_lines, coded.ended.end(), [&](std::size_t ended) { return ended <= first; }));
             return std::pair{coded.bytes, expectation{base.first(sound), true, true, first >= coded.ended[5], 0, {}}};
         }},
        {"one line in the code page inside a marked UTF-8 journal", 20, [&](const base_journal& base) {
             const auto k = pick(base.count());
             const auto i = header_lines + k;
             auto coded = encode(base.text, {encoding::utf8, true});
             const auto& line = base.line(k);
             std::string narrow;
             put_text(narrow, line, encoding::code_page, [] {});
             coded.bytes.replace(coded.start[i], coded.ended[i] - 1 - coded.start[i], narrow);
             // Each byte of the code page above 0x7F is no UTF-8 of its own.
             std::wstring expected;
             for (const unsigned char byte : narrow.substr(text_column))
                 expected += byte < 0x80 ? static_cast<wchar_t>(byte) : L'\xFFFD';
             auto entries = base.all();
             auto& item = *std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
             item = reads_as(item, expected);
             return std::pair{coded.bytes, expectation{entries, true, false, true, 0, {}}};
         }},
        {"a journal in the code page", 12, [&](const base_journal& base) {
             auto entries = base.all();
             for (auto& item : entries) {
                 std::string narrow;
                 put_text(narrow, item.path, encoding::code_page, [] {});
                 const int size = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
                 item.path.assign(static_cast<std::size_t>(size), L'\0');
                 ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), item.path.data(), size);
             }
             return exact(base.text, {encoding::code_page, false}, entries, false);
         }},
        {"a journal in another encoding than its mark says, or without its mark", 24, [&](const base_journal& base) {
             static const std::pair<form, const char*> wrong[] = {
                 {{encoding::utf16le, false}, ""},         {{encoding::utf16be, false}, ""},
                 {{encoding::utf32le, false}, ""},         {{encoding::utf32be, false}, ""},
                 {{encoding::utf16le, false}, "\xFE\xFF"}, {{encoding::utf16be, false}, "\xFF\xFE"},
                 {{encoding::utf8, false}, "\xFF\xFE"},
             };
             const auto& [shape, mark] = wrong[pick(std::size(wrong))];
             return std::pair{mark + encode(base.text, shape).bytes, expectation{{}, true, true, false, 0, {}}};
         }},
        {"a journal cut short", 60, [&](const base_journal& base) {
             const auto coded = encode(base.text, pick_form(sound_forms));
             const auto cut = pick(coded.bytes.size());
             // A last line without its end may have lost part of its text: it does not count.
             const auto ended = [&](std::size_t i) { return coded.ended[i] <= cut; };
             std::size_t sound = 0;
             while (sound < base.count() && ended(header_lines + sound))
                 ++sound;
             bool stops = false;
             for (std::size_t i = 0; i < coded.start.size(); ++i)
                 stops = stops || (coded.first_char[i] <= cut && !ended(i));
             return std::pair{coded.bytes.substr(0, cut), expectation{base.first(sound), true, stops, ended(5), 0, {}}};
         }},
        {"flipped bits", 60, [&](const base_journal& base) {
             auto coded = encode(base.text, pick_form(marked_forms));
             const auto flips = pick(3) + 1;
             auto first = coded.bytes.size();
             for (std::size_t n = 0; n < flips; ++n) {
                 const auto at = pick(coded.bytes.size());
                 coded.bytes[at] = static_cast<char>(coded.bytes[at] ^ (1 << pick(8)));
                 first = std::min(first, at);
             }
             const auto sound = static_cast<std::size_t>(std::count_if(
                 coded.end.begin() + header_lines, coded.end.end(), [&](std::size_t end) { return end <= first; }));
             return std::pair{coded.bytes, expectation{base.first(sound), false, false, false, 2 * flips, base.all()}};
         }},
        {"random bytes written over, put in or taken out", 60, [&](const base_journal& base) {
             auto coded = encode(base.text, pick_form(marked_forms));
             const auto at = pick(coded.bytes.size());
             const auto length = std::min(pick(64) + 1, coded.bytes.size() - at);
             std::string noise(length, '\0');
             for (auto& c : noise)
                 c = static_cast<char>(random());
             switch (pick(3)) {
             case 0: coded.bytes.replace(at, length, noise); break;
             case 1: coded.bytes.insert(at, noise); break;
             case 2: coded.bytes.erase(at, length); break;
             }
             const auto sound = static_cast<std::size_t>(std::count_if(
                 coded.end.begin() + header_lines, coded.end.end(), [&](std::size_t end) { return end <= at; }));
             return std::pair{coded.bytes, expectation{base.first(sound), false, false, false, length + 1, base.all()}};
         }},
        {"two journals one after the other", 8, [&](const base_journal& base) {
             const auto& other = bases[pick(bases.size())];
             if (pick(2) == 0) {
                 // The second keeps its mark, which stands inside the text as a character.
                 const auto bytes = encode(base.text, sound_forms[0]).bytes + encode(other.text, sound_forms[0]).bytes;
                 return std::pair{bytes, expectation{base.all(), true, true, true, 0, {}}};
             }
             auto text = base.text;
             text.lines.insert(text.lines.end(), other.text.lines.begin(), other.text.lines.end());
             text.ends.insert(text.ends.end(), other.text.ends.begin(), other.text.ends.end());
             auto entries = base.all();
             entries.insert(entries.end(), other.entries.begin(), other.entries.end());
             return exact(text, pick_form(sound_forms), entries, false);
         }},
        {"a line of megabytes, or a text as long as a name can be", 10, [&, variant = 0](const base_journal& base) mutable {
             // No Windows name is longer than 32767 characters; one of that length may hold
             // thousands of folders. The next journal compares a file's name with the others.
             const std::size_t longest = 32767;
             const bool long_name = variant % 5 == 1 || variant % 5 == 2;
             auto k = pick(base.count());
             while (long_name && base.entries[k].kind != entry_kind::file)
                 k = pick(base.count());
             auto text = base.text;
             auto& line = text.lines[header_lines + k];
             const auto shape = pick_form(marked_forms);
             std::wstring huge = L"C:";
             while (huge.size() < (long_name ? longest : 1'000'000))
                 huge += L"\\" + (variant % 5 == 2 ? L"a" : name(random));
             switch (variant++ % 5) {
             case 0:  // longer than any name: no entry
                 line = line.substr(0, text_column) + huge;
                 return exact(text, shape, base.first(k), true);
             case 1:
             case 2: {  // as long as a name can be: an entry like any other
                 huge.resize(longest);
                 if (huge.back() == L' ' || huge.back() == L'\\' || (huge.back() >= 0xD800 && huge.back() <= 0xDBFF))
                     huge.back() = L'x';
                 line = line.substr(0, text_column) + huge;
                 auto entries = base.all();
                 auto& item = *std::next(entries.begin(), static_cast<std::ptrdiff_t>(k));
                 item = reads_as(item, huge);
                 return exact(text, shape, entries, false);
             }
             case 3:  // no entry at all
                 line = huge;
                 return exact(text, shape, base.first(k), true);
             default:  // a remark after the header
                 text.lines.insert(text.lines.begin() + header_lines, L"// " + huge);
                 text.ends.push_back(L"\r\n");
                 return exact(text, shape, base.all(), false);
             }
         }},
    };

    testing_support::watchdog watch(std::chrono::seconds(60));
    int cases = 0;
    for (const auto& damage : damages) {
        for (int n = 0; n < damage.count; ++n) {
            const auto& base = bases[pick(bases.size())];
            const std::string name = std::string(damage.what) + " #" + std::to_string(n);
            watch.step(name);
            auto [bytes, expect] = damage.make(base);
            check({name, std::move(bytes), std::move(expect)});
            ++cases;
            if (HasFatalFailure())
                return;
        }
    }
    EXPECT_GE(cases, 500);
}

} // namespace
