#include "foundation/text/txtf.hpp"

#include "foundation/text/conversions.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <iterator>
#include <string>
#include <vector>

namespace {

using testing_support::read_file;
using testing_support::test_folder;
using testing_support::write_file;
using wide_codecvt = std::codecvt<wchar_t, char, std::mbstate_t>;
using narrow_codecvt = std::codecvt<char, char, std::mbstate_t>;

std::locale with_facet(std::uint32_t mode) {
    return std::locale(std::locale::classic(), new vd::txtf::codecvt<wchar_t>(mode, std::locale::classic()));
}
std::locale with_char_facet(std::uint32_t mode) {
    return std::locale(std::locale::classic(), new vd::txtf::codecvt<char>(mode, std::locale::classic()));
}

// The whole of bytes through the facet at once, as a file of those bytes would read.
std::wstring decode(std::string_view bytes, std::uint32_t mode = vd::txtf::mode_auto) {
    const std::locale locale = with_facet(mode);
    const auto& facet = std::use_facet<wide_codecvt>(locale);
    std::mbstate_t state{};
    std::wstring text(bytes.size() + 2, L'\0');
    const char* from_next = nullptr;
    wchar_t* to_next = nullptr;
    facet.in(state, bytes.data(), bytes.data() + bytes.size(), from_next, text.data(),
             text.data() + text.size(), to_next);
    text.resize(to_next - text.data());
    return text;
}

std::string encode(std::wstring_view text, std::uint32_t mode) {
    const std::locale locale = with_facet(mode);
    const auto& facet = std::use_facet<wide_codecvt>(locale);
    std::mbstate_t state{};
    std::string bytes(text.size() * facet.max_length(), '\0');
    const wchar_t* from_next = nullptr;
    char* to_next = nullptr;
    EXPECT_EQ(facet.out(state, text.data(), text.data() + text.size(), from_next, bytes.data(),
                        bytes.data() + bytes.size(), to_next), std::codecvt_base::ok);
    bytes.resize(to_next - bytes.data());
    return bytes;
}

// The classic locale's code-page converter follows the run-time library's locale, which the
// UI language moves.
class c_locale_scope {
public:
    c_locale_scope() : previous_(std::setlocale(LC_CTYPE, nullptr)) { std::setlocale(LC_CTYPE, "C"); }
    ~c_locale_scope() { std::setlocale(LC_CTYPE, previous_.c_str()); }

private:
    std::string previous_;
};

template <class Stream>
auto read_all(Stream& stream) {
    using char_type = typename Stream::char_type;
    std::basic_string<char_type> text{std::istreambuf_iterator<char_type>(stream), {}};
    return text;
}

} // namespace

TEST(txtf, mode_words_are_normalised) {
    using vd::txtf::details::normalize_mode;
    EXPECT_EQ(normalize_mode(3), 0u);
    EXPECT_EQ(normalize_mode(0x30), 0u);
    EXPECT_EQ(normalize_mode(0xC0), 0u);
    EXPECT_EQ(normalize_mode(0xC00), 0u);
    EXPECT_EQ(normalize_mode(8), 0x28u);
    EXPECT_EQ(normalize_mode(0x458), 0x468u);
    EXPECT_EQ(normalize_mode(0x200 | 0x1000 | 0x802), 0x1A02u); // bit 9 and bits 12-31 pass
}

TEST(txtf, cr_lf_and_cr_lf_each_read_as_one_line_end) {
    EXPECT_EQ(decode("a\rb"), L"a\nb");
    EXPECT_EQ(decode("a\nb"), L"a\nb");
    EXPECT_EQ(decode("a\r\nb"), L"a\nb");
    EXPECT_EQ(decode("a\r\n\r\n"), L"a\n\n");
    EXPECT_EQ(decode("a\r\rb"), L"a\n\nb");
    // The LF of CR LF is dropped once; the next LF is an empty line of its own.
    EXPECT_EQ(decode("a\r\n\nb"), L"a\n\nb");
    // A CR LF split across two reads is still one line end.
    const std::locale locale = with_facet(vd::txtf::mode_auto);
    const auto& facet = std::use_facet<wide_codecvt>(locale);
    std::mbstate_t state{};
    const std::string bytes = "a\r\nb";
    wchar_t text[4]{};
    const char* from_next = nullptr;
    wchar_t* to_next = nullptr;
    facet.in(state, bytes.data(), bytes.data() + 2, from_next, text, text + 4, to_next);
    facet.in(state, from_next, bytes.data() + bytes.size(), from_next, to_next, text + 4, to_next);
    EXPECT_EQ(std::wstring(text, to_next), L"a\nb");
    // In the LF and CR modes every CR and every LF is a line end.
    EXPECT_EQ(decode("a\r\nb", vd::txtf::mode_lf), L"a\n\nb");
}

TEST(txtf, every_encoding_with_its_mark_reads_the_same) {
    const std::wstring expected = L"\u00E9\U0001F600\nA\n";
    const std::vector<std::string> files = {
        std::string("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE\x0D\x00\x0A\x00\x41\x00\x0A\x00", 16),
        std::string("\xFE\xFF\x00\xE9\xD8\x3D\xDE\x00\x00\x0D\x00\x0A\x00\x41\x00\x0A", 16),
        "\xEF\xBB\xBF\xC3\xA9\xF0\x9F\x98\x80\r\nA\r",
        "\xC3\xA9\xF0\x9F\x98\x80\nA\n",
        std::string("\xFF\xFE\x00\x00\xE9\x00\x00\x00\x00\xF6\x01\x00\x0D\x00\x00\x00\x0A\x00\x00\x00"
                    "\x41\x00\x00\x00\x0D\x00\x00\x00", 28),
        std::string("\x00\x00\xFE\xFF\x00\x00\x00\xE9\x00\x01\xF6\x00\x00\x00\x00\x0A\x00\x00\x00\x41"
                    "\x00\x00\x00\x0A", 24),
    };
    test_folder folder;
    const auto file = folder / "text.txt";
    for (const auto& bytes : files) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        write_file(file, bytes);
        vd::txtf::wifstream wide(file);
        EXPECT_EQ(read_all(wide), expected);
        EXPECT_FALSE(wide.bad());

        // Without a buffer the stream converts one unit at a time: pairs and line ends that
        // straddle calls must come out the same.
        vd::txtf::wifstream unbuffered;
        unbuffered.rdbuf()->pubsetbuf(nullptr, 0);
        unbuffered.open(file);
        EXPECT_EQ(read_all(unbuffered), expected);

        vd::txtf::ifstream narrow(file);
        EXPECT_EQ(read_all(narrow), "\xC3\xA9\xF0\x9F\x98\x80\nA\n");
        vd::txtf::ifstream narrow_unbuffered;
        narrow_unbuffered.rdbuf()->pubsetbuf(nullptr, 0);
        narrow_unbuffered.open(file);
        EXPECT_EQ(read_all(narrow_unbuffered), "\xC3\xA9\xF0\x9F\x98\x80\nA\n");
    }
}

TEST(txtf, journal_style_file_round_trips) {
    test_folder folder;
    const auto file = folder / "Uninstall.ulog";
    const std::vector<std::wstring> lines = {L"// Uninstall Log File v1", L"0000:00ff:1 -- C:\\\u00C9t\u00E9\\\U0001F600", L""};
    {
        std::wofstream out(file, std::ios_base::out | std::ios_base::binary);
        vd::txtf::imbue_utf16(out);
        out.exceptions(std::ios_base::failbit | std::ios_base::badbit);
        for (const auto& line : lines)
            out << line << L'\n';
        out.close();
    }
    const std::string bytes = read_file(file);
    EXPECT_EQ(bytes.substr(0, 6), std::string("\xFF\xFE/\0/\0", 6));
    EXPECT_EQ(bytes.substr(bytes.size() - 12), std::string("\x3D\xD8\x00\xDE\r\0\n\0\r\0\n\0", 12));

    vd::txtf::wifstream in(file);
    in.exceptions(std::ios_base::badbit);
    std::vector<std::wstring> read;
    for (std::wstring line; std::getline(in, line, L'\n');)
        read.push_back(line);
    EXPECT_EQ(read, lines);
    EXPECT_TRUE(in.eof());

    // A CR alone writes nothing: "\n" brings the line end, and a CR first must not lose the mark.
    vd::txtf::wofstream with_cr(file);
    with_cr << L"a\r\n" << L"\r\nb";
    with_cr.close();
    EXPECT_EQ(read_file(file), std::string("\xFF\xFE" "a\0\r\0\n\0\r\0\n\0b\0", 14));
    EXPECT_EQ(encode(L"\r\nx", vd::txtf::mode_utf16), std::string("\xFF\xFE\r\0\n\0x\0", 8));

    // A stream that already converts keeps its facet.
    std::wifstream reopened(file, std::ios_base::in | std::ios_base::binary);
    vd::txtf::imbue_utf16(reopened);
    vd::txtf::imbue_auto(reopened);
    const auto* facet = dynamic_cast<const vd::txtf::codecvt<wchar_t>*>(&std::use_facet<wide_codecvt>(reopened.getloc()));
    ASSERT_NE(facet, nullptr);
    EXPECT_EQ(facet->mode(), vd::txtf::mode_utf16);
}

TEST(txtf, char_streams_keep_utf8_inside) {
    test_folder folder;
    const auto file = folder / "text.txt";
    const std::string text = "\xC3\xA9\xF0\x9F\x98\x80\n";
    {
        vd::txtf::ofstream out(file, vd::txtf::mode_utf8 | vd::txtf::mode_lf);
        out << text;
    }
    EXPECT_EQ(read_file(file), "\xEF\xBB\xBF" + text);
    {
        vd::txtf::ofstream out(file, vd::txtf::mode_utf16 | vd::txtf::mode_no_signature | vd::txtf::mode_big_endian);
        out << text;
    }
    EXPECT_EQ(read_file(file), std::string("\x00\xE9\xD8\x3D\xDE\x00\x00\x0D\x00\x0A", 10));
    {
        // Bad internal UTF-8 goes out as U+FFFD, and the byte that broke a sequence is kept.
        vd::txtf::ofstream out(file, vd::txtf::mode_utf8 | vd::txtf::mode_no_signature);
        out << "\xC3" "A\xE0\x80\x80\xED\xA0\x80";
    }
    std::string replacements;
    for (int i = 0; i < 6; ++i)
        replacements += "\xEF\xBF\xBD";
    EXPECT_EQ(read_file(file), "\xEF\xBF\xBD" "A" + replacements);
    {
        vd::txtf::ofstream out(file);
        out << "A\n";
    }
    EXPECT_EQ(read_file(file), "A\r\n");
    vd::txtf::ifstream in(file);
    EXPECT_EQ(read_all(in), "A\n");
}

TEST(txtf, what_cannot_be_decoded_reads_as_replacement_character) {
    using vd::txtf::mode_utf8;
    EXPECT_EQ(decode("\xC0\x80", mode_utf8), std::wstring(1, L'\0')); // overlong, but read
    EXPECT_EQ(decode("\xED\xA0\x80\xED\xB0\x80", mode_utf8), L"\U00010000");
    EXPECT_EQ(decode("\xEF\xBF\xBE", mode_utf8), L"\uFFFD");
    EXPECT_EQ(decode("\x80" "A", mode_utf8), L"\uFFFD" "A");
    EXPECT_EQ(decode("\xED\xA0\x80" "ABC", mode_utf8), L"\uFFFD" "ABC"); // lone high surrogate
    // The byte that breaks a sequence is the next character, not part of the bad one.
    EXPECT_EQ(decode("\xC3\xA9\xE2\x82 x"), L"\u00E9\uFFFD x");
    EXPECT_EQ(decode(std::string("\xFF\xFE\x00\xDC\x41\x00\x3D\xD8\x42\x00", 10)), L"\uFFFDA\uFFFDB");
    EXPECT_EQ(decode(std::string("\xFF\xFE\x00\x00\x00\xD8\x00\x00\x00\x00\x11\x00", 12)), L"\uFFFD\uFFFD");

    // Bytes that are no UTF-8 settle the file on the code page, which reads every byte.
    const c_locale_scope c_locale;
    const std::string latin = "\xE9 A\xC3\xA9";
    std::wstring expected(latin.size(), L'\0');
    std::mbstate_t state{};
    const char* from_next = nullptr;
    wchar_t* to_next = nullptr;
    std::use_facet<wide_codecvt>(std::locale::classic())
        .in(state, latin.data(), latin.data() + latin.size(), from_next, expected.data(), expected.data() + expected.size(), to_next);
    expected.resize(to_next - expected.data());
    EXPECT_EQ(expected.size(), latin.size());
    EXPECT_EQ(decode(latin), expected);
}

TEST(txtf, incomplete_last_character_ends_the_text) {
    test_folder folder;
    const auto file = folder / "cut.ulog";
    const std::vector<std::pair<std::string, std::wstring>> files = {
        {std::string("\xFF\xFE" "a\0\r\0\n\0b\0c", 11), L"a\nb"},
        {std::string("\xFF\xFE" "a\0\n\0b\0\x3D\xD8", 10), L"a\nb"},
        {std::string("\xFF\xFE\x00\x00" "a\0\0\0\n\0\0\0b\0\0\0c\0", 18), L"a\nb"},
        {"\xC3\xA9\r\nb\xF0\x9F\x98", L"\u00E9\nb"},
        {"\xEF\xBB\xBF" "a\nb\xE2\x82", L"a\nb"},
        {std::string("\xFF\xFE" "a", 3), L""},
    };
    for (const auto& [bytes, expected] : files) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        write_file(file, bytes);
        vd::txtf::wifstream wide(file);
        wide.exceptions(std::ios_base::badbit);
        EXPECT_EQ(read_all(wide), expected);
        vd::txtf::ifstream narrow(file);
        narrow.exceptions(std::ios_base::badbit);
        EXPECT_EQ(vd::utf8_to_wide(read_all(narrow)), expected);
    }

    // The journal reader's loop: every whole line, then a clean end of file.
    write_file(file, files.front().first);
    vd::txtf::wifstream in(file);
    in.exceptions(std::ios_base::badbit);
    std::vector<std::wstring> lines;
    for (std::wstring line; std::getline(in, line, L'\n');)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.bad());
}

TEST(txtf, characters_split_across_calls) {
    const std::locale locale = with_facet(vd::txtf::mode_utf8);
    const auto& facet = std::use_facet<wide_codecvt>(locale);
    const std::string bytes = "\xF0\x9F\x98\x80";
    const char* const end = bytes.data() + bytes.size();

    // One unit of room: the high surrogate first; the byte count is whole only with the low one.
    std::mbstate_t state{};
    wchar_t unit = 0;
    const char* from_next = nullptr;
    wchar_t* to_next = nullptr;
    EXPECT_EQ(facet.in(state, bytes.data(), end, from_next, &unit, &unit + 1, to_next), std::codecvt_base::partial);
    EXPECT_EQ(unit, 0xD83D);
    EXPECT_EQ(from_next, end - 1);
    EXPECT_EQ(facet.in(state, from_next, end, from_next, &unit, &unit + 1, to_next), std::codecvt_base::ok);
    EXPECT_EQ(unit, 0xDE00);
    EXPECT_EQ(from_next, end);
    std::mbstate_t fresh{};
    EXPECT_EQ(facet.length(fresh, bytes.data(), end, 1), 3);
    fresh = {};
    EXPECT_EQ(facet.length(fresh, bytes.data(), end, 2), 4);
    fresh = {};
    EXPECT_EQ(facet.length(fresh, bytes.data(), end - 1, 2), 0); // stops at the cut character

    // A high surrogate that ends the output waits for its partner; alone it cannot be unshifted.
    const std::locale plain = with_facet(vd::txtf::mode_utf8 | vd::txtf::mode_no_signature);
    const auto& writer = std::use_facet<wide_codecvt>(plain);
    std::mbstate_t out_state{};
    const wchar_t high = 0xD83D;
    const wchar_t low = 0xDE00;
    const wchar_t* units_next = nullptr;
    char out[8]{};
    char* out_next = nullptr;
    EXPECT_EQ(writer.out(out_state, &high, &high + 1, units_next, out, out + 8, out_next), std::codecvt_base::partial);
    EXPECT_EQ(units_next, &high + 1);
    EXPECT_EQ(out_next, out);
    std::mbstate_t copy = out_state;
    EXPECT_EQ(writer.unshift(copy, out, out + 8, out_next), std::codecvt_base::error);
    EXPECT_EQ(writer.out(out_state, &low, &low + 1, units_next, out, out + 8, out_next), std::codecvt_base::ok);
    EXPECT_EQ(std::string(out, out_next), bytes);

    // The char facet hands a character to a one-byte buffer one byte at a time.
    const std::locale narrow_locale = with_char_facet(vd::txtf::mode_utf16);
    const auto& narrow = std::use_facet<narrow_codecvt>(narrow_locale);
    const std::string utf16("\xE9\x00", 2);
    std::mbstate_t narrow_state{};
    std::string text;
    for (const char* from = utf16.data(); from != utf16.data() + utf16.size();) {
        char byte = 0;
        char* byte_next = nullptr;
        narrow.in(narrow_state, from, utf16.data() + utf16.size(), from, &byte, &byte + 1, byte_next);
        text.append(&byte, byte_next);
    }
    EXPECT_EQ(text, "\xC3\xA9");
}

TEST(txtf, code_page_output_replaces_what_it_cannot_hold) {
    const c_locale_scope c_locale;
    EXPECT_EQ(encode(L"A\u4E00\n", vd::txtf::mode_code_page), "A?\r\n");
    EXPECT_EQ(encode(L"A\n", vd::txtf::mode_code_page | vd::txtf::mode_lf), "A\n");
}
