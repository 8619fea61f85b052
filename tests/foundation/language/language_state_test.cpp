#include "foundation/language/language_state.hpp"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <cstdlib>
#include <sstream>
#include <stdexcept>


namespace {

// Each test leaves the process-wide record and locales as it found them.
class language_state_test : public testing::Test {
protected:
    void SetUp() override {
        auto& state = vd::language_state::instance();
        saved_language_ = state.language;
        saved_module_ = state.module;
        saved_global_ = std::locale();
    }
    void TearDown() override {
        vd::set_ui_language(saved_language_);
        vd::language_state::instance().module = saved_module_;
        std::locale::global(saved_global_);
    }

private:
    std::uint32_t saved_language_ = 0;
    HMODULE saved_module_ = nullptr;
    std::locale saved_global_;
};

struct language_row {
    LANGID langid;
    std::uint32_t code_page;
};

constexpr std::array<language_row, 24> expected_rows = {{
    {0x040C, 1252}, {0x0409, 1252}, {0x0407, 1252}, {0x0C0A, 1252}, {0x0816, 1252}, {0x0413, 1252},
    {0x0406, 1252}, {0x041F, 1254}, {0x0402, 1251}, {0x0418, 1250}, {0x0804, 936},  {0x0410, 1252},
    {0x0405, 1250}, {0x0414, 1252}, {0x0408, 1253}, {0x0415, 1250}, {0x040D, 1255}, {0x042A, 1258},
    {0x0411, 932},  {0x040E, 1250}, {0x081A, 1250}, {0x0401, 1256}, {0x0424, 1250}, {0x0419, 1251},
}};

// A collate facet that no language locale has: shows whether the global locale was replaced.
struct marker_collate : std::collate<char> {};

// Wine has no locale data for some legacy LCIDs that Windows still knows (0x081A sr-Latn-CS).
bool system_knows(LANGID langid) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    return ::LCIDToLocaleName(MAKELCID(langid, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) > 0;
}

bool global_has_marker() {
    return dynamic_cast<const marker_collate*>(&std::use_facet<std::collate<char>>(std::locale())) != nullptr;
}

// Every column of one row, and the record set_ui_language builds from it.
void check_language(std::uint32_t index) {
    const auto& row = expected_rows[index];
    EXPECT_EQ(vd::language_langid(index), row.langid);
    const LCID lcid = vd::language_lcid(index);
    EXPECT_EQ(LANGIDFROMLCID(lcid), row.langid);
    EXPECT_FALSE(vd::native_language_name(lcid).empty());
    EXPECT_FALSE(vd::language_locale_name(index).empty());

    vd::set_ui_language(index);
    const auto& state = vd::language_state::instance();
    EXPECT_EQ(state.language, index);
    EXPECT_EQ(state.lcid, lcid);
    EXPECT_EQ(state.code_page, row.code_page);
    EXPECT_EQ(state.right_to_left, index == vd::ui_language_hebrew || index == vd::ui_language_arabic);
    EXPECT_EQ(vd::resource_module(), ::GetModuleHandleW(nullptr));
}

constexpr std::uint32_t serbian = 20;

} // namespace

TEST_F(language_state_test, every_language_has_its_langid_lcid_code_page_and_name) {
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        SCOPED_TRACE(index);
        if (index != serbian)
            check_language(index);
    }
    EXPECT_EQ(vd::native_language_name(MAKELCID(0x040C, SORT_DEFAULT)), L"fran\u00E7ais");
    EXPECT_EQ(vd::native_language_name(0xFFFF), L"");
}

TEST_F(language_state_test, serbian_keeps_the_langid_of_its_string_tables) {
    EXPECT_EQ(vd::language_langid(serbian), 0x081A);
    if (!system_knows(0x081A)) {
        // What the language state does without locale data: the system's own code page.
        vd::set_ui_language(serbian);
        EXPECT_EQ(vd::language_state::instance().code_page, ::GetACP());
        GTEST_SKIP() << "Wine: no locale data for LANGID 081A (Serbian, Latin, Serbia and Montenegro)";
    }
    check_language(serbian);
}

TEST_F(language_state_test, only_arabic_and_hebrew_read_right_to_left) {
    LOCALESIGNATURE signature{};
    const bool reported = ::GetLocaleInfoW(0x0401, LOCALE_FONTSIGNATURE, reinterpret_cast<LPWSTR>(&signature),
                                           sizeof(signature) / sizeof(wchar_t)) != 0;
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index)
        EXPECT_EQ(vd::is_rtl_language(index), index == 16 || index == 21) << index;
    if (!reported)
        GTEST_SKIP() << "Wine: no font signature for Arabic; only the fallback answer was checked";
    EXPECT_NE(signature.lsUsb[3] & (1u << 27), 0u);
}

TEST_F(language_state_test, an_index_outside_the_table_changes_nothing) {
    vd::set_ui_language(3);
    const auto& state = vd::language_state::instance();
    const LCID lcid = state.lcid;
    for (const std::uint32_t index : {24u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_THROW(vd::set_ui_language(index), std::out_of_range);
        EXPECT_THROW(vd::language_langid(index), std::out_of_range);
        EXPECT_THROW(vd::language_lcid(index), std::out_of_range);
        EXPECT_THROW(vd::is_rtl_language(index), std::out_of_range);
        EXPECT_THROW(vd::language_locale(index), std::out_of_range);
    }
    EXPECT_EQ(state.language, 3u);
    EXPECT_EQ(state.lcid, lcid);
}

TEST_F(language_state_test, the_same_language_again_recomputes_the_record_but_keeps_the_locales) {
    vd::set_ui_language(21);
    auto& state = vd::language_state::instance();
    const std::uint32_t lcid = state.lcid;
    const std::uint32_t code_page = state.code_page;
    state.lcid = 0;
    state.code_page = 0;
    state.right_to_left = false;
    state.module = reinterpret_cast<HMODULE>(0x10000);
    std::locale::global(std::locale(std::locale(), new marker_collate));
    const std::string c_locale = std::setlocale(LC_ALL, nullptr);

    vd::set_ui_language(21);
    EXPECT_EQ(state.lcid, lcid);
    EXPECT_EQ(state.code_page, code_page);
    EXPECT_TRUE(state.right_to_left);
    EXPECT_EQ(state.module, nullptr);
    EXPECT_TRUE(global_has_marker());
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), c_locale);

    vd::set_ui_language(1);
    EXPECT_FALSE(global_has_marker());
    EXPECT_FALSE(state.right_to_left);
}

TEST_F(language_state_test, numbers_keep_the_c_format_in_every_language) {
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        SCOPED_TRACE(index);
        vd::set_ui_language(index);
        char printed[32];
        std::snprintf(printed, sizeof(printed), "%.2f", 1234.5);
        EXPECT_STREQ(printed, "1234.50");
        wchar_t wide_printed[32];
        std::swprintf(wide_printed, std::size(wide_printed), L"%.1f", 2.5);
        EXPECT_STREQ(wide_printed, L"2.5");
        EXPECT_STREQ(std::localeconv()->decimal_point, ".");
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
        std::ostringstream stream;
        stream << 1234.5;
        EXPECT_EQ(stream.str(), "1234.5");
        EXPECT_EQ(std::strtod("0.25", nullptr), 0.25);
    }
}

TEST_F(language_state_test, a_locale_the_runtime_cannot_build_falls_back_quietly) {
    // The C++ run time reads the user's default locale from these; none of them is buildable.
    const char* variables[] = {"LC_ALL", "LC_COLLATE", "LANG"};
    std::array<std::string, 3> saved;
    for (std::size_t i = 0; i < 3; ++i) {
        const char* value = std::getenv(variables[i]);
        saved[i] = value ? std::string(variables[i]) + "=" + value : std::string(variables[i]) + "=";
        ::_putenv((std::string(variables[i]) + "=xx_YY.bogus").c_str());
    }
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        EXPECT_NO_THROW(vd::language_locale(index)) << index;
        EXPECT_NO_THROW(vd::apply_language_locale(index)) << index;
    }
    for (const auto& assignment : saved)
        ::_putenv(assignment.c_str());
    EXPECT_NO_THROW(vd::apply_language_locale(0));
}

TEST(language_state, default_ui_language_maps_the_user_language_within_the_mask) {
    constexpr std::uint32_t all = (1u << 24) - 1;
    constexpr std::uint32_t with_english = 0b11;
    struct sample {
        LANGID user;
        std::uint32_t mask;
        std::uint32_t index;
    };
    const sample samples[] = {
        {0x0804, all, 10},           // Chinese (PRC)
        {0x1004, all, 10},           // Chinese (Singapore)
        {0x0404, all, 1},            // Chinese (Taiwan) falls back
        {0x0C04, 1, 0},              // Chinese (Hong Kong) without English falls back to French
        {0x0804, with_english, 1},   // offered language bit clear
        {0x041E, with_english, 1},   // Thai is not a UI language
        {0x041E, 1, 0},
        {0x0809, all, 1},            // English (United Kingdom)
        {0x080A, all, 3},            // Spanish (Mexico)
        {0x0416, all, 4},            // Portuguese (Brazil)
        {0x0814, all, 13},           // Norwegian Nynorsk
        {0x041A, all, 20},           // Croatian shares primary id 26
        {0x0C0C, all, 0},            // French (Canada)
        {0x0401, all, 21},
        {0x0419, 0x3BDEBF, 1},       // Russian is not offered by the installer
        {0x040D, 0x3BDEBF, 16},
    };
    for (const auto& [user, mask, index] : samples)
        EXPECT_EQ(vd::details::ui_language_for(user, mask), index) << std::hex << user << " " << mask;

    // The record offers French alone, whatever the user speaks.
    EXPECT_EQ(vd::language_state::instance().mask, 1u);
    EXPECT_EQ(vd::default_ui_language(0), 0u);
}

TEST(language_state, the_locale_name_prefers_the_users_own_variant) {
    const LANGID user = ::GetUserDefaultLangID();
    wchar_t user_name[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(::LCIDToLocaleName(LOCALE_USER_DEFAULT, user_name, LOCALE_NAME_MAX_LENGTH, 0), 0);
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
        const bool same_language = PRIMARYLANGID(user) == PRIMARYLANGID(vd::language_langid(index));
        // An LCID the system does not know gives an empty name (the user's default locale).
        ::LCIDToLocaleName(same_language ? LOCALE_USER_DEFAULT : vd::language_langid(index), name, LOCALE_NAME_MAX_LENGTH, 0);
        std::string narrow;
        for (const wchar_t* c = name; *c; ++c)
            narrow.push_back(static_cast<char>(*c));
        EXPECT_EQ(vd::language_locale_name(index), narrow) << index;
    }
    if (PRIMARYLANGID(user) != LANG_FRENCH) {
        EXPECT_EQ(vd::language_locale_name(0), "fr-FR");
    }
}
