#include "foundation/text/conversions.hpp"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace {

std::wstring from_utf8(std::string_view bytes) {
    return vd::utf8_to_wide(bytes.data(), bytes.data() + bytes.size());
}

std::string to_utf8(std::wstring_view units) {
    return vd::wide_to_utf8(units.data(), units.data() + units.size());
}

// CP_THREAD_ACP follows the thread locale: the narrow tests run on French's Windows-1252.
class thread_locale_scope {
public:
    explicit thread_locale_scope(LCID lcid) : previous_(::GetThreadLocale()) { ::SetThreadLocale(lcid); }
    ~thread_locale_scope() { ::SetThreadLocale(previous_); }

private:
    LCID previous_;
};

} // namespace

TEST(conversions, utf8_decoder_rejects_what_is_not_strict_utf8) {
    struct sample {
        std::string bytes;
        std::int32_t result;
        std::size_t consumed;
    };
    const sample samples[] = {
        {"", vd::details::utf8_exhausted, 0},
        {"A", 0x41, 1},
        {"\xC3\xA9", 0xE9, 2},
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"\x80", vd::details::utf8_invalid, 1},        // continuation byte as lead
        {"\xC1\xBF", vd::details::utf8_invalid, 1},    // overlong two-byte lead
        {"\xE0\x9F\xBF", vd::details::utf8_invalid, 3}, // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", vd::details::utf8_invalid, 4},
        {"\xF4\x90\x80\x80", vd::details::utf8_invalid, 4}, // above U+10FFFF
        {"\xF5\x80\x80\x80", vd::details::utf8_invalid, 1},
        {"\xED\xA0\x80", vd::details::utf8_invalid, 3}, // a surrogate
        {"\xE2\x82", vd::details::utf8_exhausted, 2},
        {"\xE2\x41", vd::details::utf8_invalid, 2},
    };
    for (const auto& [bytes, result, consumed] : samples) {
        const char* cursor = bytes.data();
        EXPECT_EQ(vd::details::decode_utf8_code_point(cursor, bytes.data() + bytes.size()), result) << bytes;
        EXPECT_EQ(static_cast<std::size_t>(cursor - bytes.data()), consumed) << bytes;
    }
}

TEST(conversions, utf8_to_wide_drops_what_it_cannot_decode) {
    EXPECT_EQ(from_utf8("\xC3\xA9"), L"\u00E9");
    EXPECT_EQ(from_utf8("\xC0\x80"), L"");
    EXPECT_EQ(from_utf8("\xED\xA0\x80"), L"");
    EXPECT_EQ(from_utf8("\xF0\x9F\x98\x80"), std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)}));
    EXPECT_EQ(from_utf8("\xE2\x82"), L"");
    EXPECT_EQ(from_utf8("\xE2\x41"), L""); // the 41 goes with the broken sequence
    EXPECT_EQ(from_utf8("a\xFF" "b\xC3\xA9\xE2\x82"), L"ab\u00E9");
    EXPECT_EQ(from_utf8(std::string_view("x\0y", 3)), std::wstring(L"x\0y", 3));
}

TEST(conversions, wide_to_utf8_drops_lone_surrogates) {
    EXPECT_EQ(to_utf8(std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)})), "\xF0\x9F\x98\x80");
    EXPECT_EQ(to_utf8(std::wstring({wchar_t(0xDE00)})), "");
    EXPECT_EQ(to_utf8(std::wstring({wchar_t(0xD83D), L'A'})), ""); // the A goes with the lone high surrogate
    EXPECT_EQ(to_utf8(std::wstring({L'A', wchar_t(0xD83D)})), "A");
    EXPECT_EQ(to_utf8(std::wstring({wchar_t(0xDE00), L'B', wchar_t(0xD800), wchar_t(0xDC00)})), "B\xF0\x90\x80\x80");
    EXPECT_EQ(to_utf8(L"\u007F\u0080\u07FF\u0800\uFFFF"), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");

    const std::wstring text = L"Stelvane \u00E9\u20AC\u05D0\U0010FFFF\U0001F600";
    EXPECT_EQ(from_utf8(to_utf8(text)), text);
    EXPECT_EQ(vd::wide_to_utf8(std::wstring_view(L"\u00E9")), "\xC3\xA9");
}

TEST(conversions, wide_to_narrow_uses_the_thread_code_page_without_best_fit) {
    const thread_locale_scope french(MAKELCID(0x040C, SORT_DEFAULT));
    CPINFOEXW info{};
    ASSERT_TRUE(::GetCPInfoExW(CP_THREAD_ACP, 0, &info));
    if (info.CodePage != 1252)
        GTEST_SKIP() << "Wine: the thread's ANSI code page does not follow SetThreadLocale (" << info.CodePage << ")";

    EXPECT_EQ(vd::wide_to_narrow(L"", 0), "");
    EXPECT_EQ(vd::wide_to_narrow(nullptr, 0), "");
    EXPECT_EQ(vd::wide_to_narrow(std::wstring_view(L"caf\u00E9 \u20AC")), "caf\xE9 \x80");
    // U+0100 would best-fit to 'A' and U+05D0 has no look-alike: both become the default character.
    const std::string unknown(1, static_cast<char>(info.DefaultChar[0]));
    EXPECT_EQ(vd::wide_to_narrow(std::wstring_view(L"\u0100")), unknown);
    EXPECT_EQ(vd::wide_to_narrow(std::wstring_view(L"x\u05D0y")), "x" + unknown + "y");
}

TEST(conversions, w2a_codecvt_converts_all_or_nothing) {
    const thread_locale_scope french(MAKELCID(0x040C, SORT_DEFAULT));
    CPINFOEXW info{};
    ASSERT_TRUE(::GetCPInfoExW(CP_THREAD_ACP, 0, &info));
    if (info.CodePage != 1252)
        GTEST_SKIP() << "Wine: the thread's ANSI code page does not follow SetThreadLocale (" << info.CodePage << ")";

    const vd::details::w2a_codecvt facet;
    EXPECT_EQ(facet.code_page(), static_cast<std::uint32_t>(CP_THREAD_ACP));
    EXPECT_EQ(facet.max_length(), 1);
    EXPECT_EQ(facet.encoding(), 0);
    EXPECT_FALSE(facet.always_noconv());

    std::mbstate_t state{};
    const char narrow[] = "d\xE9j\xE0";
    const char* narrow_next = nullptr;
    wchar_t wide[8] = {};
    wchar_t* wide_next = nullptr;
    ASSERT_EQ(facet.in(state, narrow, narrow + 4, narrow_next, wide, wide + 8, wide_next), std::codecvt_base::ok);
    EXPECT_EQ(std::wstring(wide, wide_next), L"d\u00E9j\u00E0");
    EXPECT_EQ(narrow_next, narrow + 4);

    // Too little room fails as a whole rather than converting a part.
    wchar_t small[2] = {};
    EXPECT_EQ(facet.in(state, narrow, narrow + 4, narrow_next, small, small + 2, wide_next), std::codecvt_base::error);
    EXPECT_EQ(wide_next, small);
    char out_small[2] = {};
    const wchar_t* wide_from_next = nullptr;
    char* out_next = nullptr;
    const std::wstring_view text = L"d\u00E9j\u00E0";
    EXPECT_EQ(facet.out(state, text.data(), text.data() + text.size(), wide_from_next, out_small, out_small + 2, out_next),
              std::codecvt_base::error);

    EXPECT_EQ(facet.length(state, narrow, narrow + 4, 10), 4);
    EXPECT_EQ(facet.length(state, narrow, narrow + 4, 3), 3);
    EXPECT_EQ(facet.length(state, narrow, narrow, 3), 0);
    char unshift[1];
    char* unshift_next = nullptr;
    EXPECT_EQ(facet.unshift(state, unshift, unshift + 1, unshift_next), std::codecvt_base::ok);
    EXPECT_EQ(unshift_next, unshift);
}
