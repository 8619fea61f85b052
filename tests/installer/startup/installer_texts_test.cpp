// The installer's texts in its translated languages with their fallbacks, read from this test
// program's own string tables (test_strings.rc), and the real tables of the built installer.
#include "installer/startup/installer_texts.hpp"

#include <filesystem>

#include <gtest/gtest.h>

#include "foundation/language/language_state.hpp"
#include "foundation/language/version_info.hpp"
#include "foundation/system/unique_any.hpp"
#include "installer/startup/installer_settings.hpp"
#include "support/ui_language_scope.hpp"

namespace {

constexpr int french = 0, english = 1, german = 2, portuguese = 4, danish = 6;

using testing_support::ui_language_scope;

std::wstring text_in(int language, unsigned id) {
    ui_language_scope scope(language);
    return installer_settings::instance().load_string(id);
}

} // namespace

TEST(installer_texts, each_translated_language_reads_its_own_table) {
    const std::wstring english_text = text_in(english, 1000);
    EXPECT_EQ(english_text, L"Installer");
    int translated = 0;
    for (int language = 0; language < static_cast<int>(vd::ui_language_count); ++language) {
        const std::wstring text = text_in(language, 1000);
        if (has_translation(language)) {
            ++translated;
            if (language != english) {
                EXPECT_NE(text, english_text) << "language " << language;
            }
        } else {
            EXPECT_EQ(text, english_text) << "language " << language << " is not translated";
        }
    }
    EXPECT_EQ(translated, 11);
    EXPECT_EQ(text_in(french, 1000), L"Programme d'installation");
}

TEST(installer_texts, missing_empty_and_placeholder_entries_fall_back) {
    // Danish has a table of its own, but the installer does not speak Danish.
    EXPECT_EQ(std::wstring(find_resource_string(danish, 1013)), L"Danish 1013");
    EXPECT_EQ(text_in(danish, 1013), L"English 1013");

    EXPECT_EQ(text_in(german, 1008), L"English 1008") << "\"#\" in German";
    EXPECT_EQ(text_in(german, 1009), L"English 1009") << "empty in German";
    EXPECT_EQ(text_in(german, 1010), L"German 1010");
    EXPECT_EQ(text_in(german, 1011), L"French 1011") << "missing in German and English";

    EXPECT_EQ(text_in(english, 1010), L"French 1010") << "\"#\" in English";
    EXPECT_EQ(text_in(english, 1011), L"French 1011") << "empty in English";

    EXPECT_EQ(text_in(french, 1012), L"") << "French has no fallback";
    EXPECT_EQ(text_in(english, 1012), L"English 1012");
    EXPECT_EQ(text_in(german, 1014), L"") << "in no language";
    EXPECT_EQ(text_in(german, 0x12345), L"") << "not a 16-bit id";
}

TEST(installer_texts, block_languages_are_tried_from_exact_to_neutral) {
    ui_language_scope scope(portuguese);
    EXPECT_EQ(std::wstring(find_resource_string(portuguese, 1024)), L"exact");
    EXPECT_EQ(std::wstring(find_resource_string(portuguese, 1040)), L"default");
    EXPECT_EQ(std::wstring(find_resource_string(portuguese, 1056)), L"neutral");
    EXPECT_EQ(std::wstring(find_resource_string(portuguese, 1072)), L"language neutral");
}

TEST(installer_texts, entries_outside_a_damaged_block_are_missing) {
    ui_language_scope scope(english);
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const LANGID us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    std::wstring_view text;
    ASSERT_TRUE(string_from_block(module, 69, 0, us, text));
    EXPECT_EQ(text, L"ok");
    EXPECT_FALSE(string_from_block(module, 69, 1, us, text)) << "runs past the block's end";
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(string_from_block(module, 69, 5, us, text));
    EXPECT_EQ(installer_settings::instance().load_string(1089), L"");
}

TEST(installer_texts, title_and_product_name) {
    ui_language_scope scope(english);
    const installer_settings& settings = installer_settings::instance();
    EXPECT_EQ(settings.title(false), L"Installer");
    EXPECT_EQ(settings.title(true), L"Installer \u2013 Stelvane 8.01");
    EXPECT_EQ(product_name(true), L"Stelvane");
    EXPECT_EQ(product_name(false), L"Stelvane 8.01");
}

TEST(installer_texts, the_installer_speaks_its_eleven_languages) {
    const std::filesystem::path tables = STELVANE_STRING_TABLES;
    ASSERT_TRUE(std::filesystem::is_directory(tables)) << "the installer's string tables are missing: " << tables;

    const vd::unique_module setup_module{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    ASSERT_TRUE(setup_module) << "error " << ::GetLastError();
    const HMODULE setup = setup_module.get();
    for (int language = 0; language < static_cast<int>(vd::ui_language_count); ++language) {
        if (!has_translation(language))
            continue;
        ui_language_scope scope(language, setup);
        // The language's own block, without any fallback.
        std::wstring_view text;
        EXPECT_TRUE(string_from_block(setup, 1000 / 16 + 1, 1000 % 16,
                                      vd::language_langid(static_cast<std::uint32_t>(language)), text))
            << "language " << language;
        EXPECT_NE(text, L"#") << "language " << language;
    }
}

TEST(installer_texts, the_version_block_names_the_same_product) {
    const vd::version_info block = vd::file_version_info(L"" STELVANE_SETUP_EXE);
    EXPECT_EQ(block.file_version(), installer_version);
    EXPECT_EQ(block.product_name(), product_name(true));
    EXPECT_EQ(block.product_version(), L"8.01");
    EXPECT_EQ(block.string_value(L"ApplicationId"), L"Stelvane8");
    EXPECT_EQ(block.legal_copyright(), L"\u00a9 Vandrel. All rights reserved.");
    EXPECT_EQ(block.string_value(L"SpecialBuild"), L"");
    EXPECT_EQ(block.version_text(), product_name(false)) << "a release build has no marks";

    // The program reads its own block in place, as resource 1.
    const vd::unique_module setup_module{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    ASSERT_TRUE(setup_module) << "error " << ::GetLastError();
    const HMODULE setup = setup_module.get();
    const HRSRC found = ::FindResourceW(setup, MAKEINTRESOURCEW(1), RT_VERSION);
    ASSERT_NE(found, nullptr);
    const vd::version_info in_place({}, ::LockResource(::LoadResource(setup, found)),
                                    ::SizeofResource(setup, found));
    EXPECT_EQ(in_place.file_version(), installer_version);
    EXPECT_EQ(in_place.version_text(), product_name(false));
}
