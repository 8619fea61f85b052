// The built installer's string tables, read straight from its RT_STRING blocks: the same entries
// in all 24 languages, translations that keep English's {fmt} placeholders, a samples folder
// name that Windows accepts, and "#" throughout the languages the wizard does not speak.
#include "foundation/language/language_state.hpp"
#include "foundation/system/unique_any.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace {

constexpr unsigned first_id = 1000;
constexpr unsigned last_id = 1134;

// UI language indices whose tables hold real texts.
constexpr std::array<std::uint32_t, 11> translated = {0, 1, 2, 3, 4, 7, 9, 11, 12, 19, 21};

bool is_translated(std::uint32_t index) {
    return std::find(translated.begin(), translated.end(), index) != translated.end();
}

using table = std::map<unsigned, std::wstring>;

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::set<LANGID>*>(found)->insert(language);
    return TRUE;
}

// Every block of the id range and the languages it exists in.
std::map<unsigned, std::set<LANGID>> block_languages(HMODULE module) {
    std::map<unsigned, std::set<LANGID>> blocks;
    for (unsigned block = first_id / 16 + 1; block <= last_id / 16 + 1; ++block) {
        std::set<LANGID> languages;
        ::EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), collect_language,
                                 reinterpret_cast<LONG_PTR>(&languages));
        if (!languages.empty())
            blocks.emplace(block, std::move(languages));
    }
    return blocks;
}

// The non-empty entries of one language: entry n is at position n % 16 of block n / 16 + 1,
// each a count of UTF-16 units followed by the units.
table read_table(HMODULE module, LANGID language) {
    table entries;
    for (unsigned block = first_id / 16 + 1; block <= last_id / 16 + 1; ++block) {
        HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
        if (!found)
            continue;
        const auto* unit = static_cast<const WORD*>(::LockResource(::LoadResource(module, found)));
        const WORD* const end = unit + ::SizeofResource(module, found) / sizeof(WORD);
        for (unsigned id = (block - 1) * 16; id < block * 16 && unit < end; ++id) {
            const WORD length = *unit++;
            if (length != 0 && id >= first_id && id <= last_id)
                entries.emplace(id, std::wstring(reinterpret_cast<const wchar_t*>(unit), length));
            unit += length;
        }
    }
    return entries;
}

// The "{n}" fields of a text in order of their numbers; any other brace counts as "stray".
std::vector<std::wstring> placeholders(const std::wstring& text) {
    std::vector<std::wstring> fields;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != L'{' && text[at] != L'}')
            continue;
        const std::size_t close = text.find(L'}', at);
        const bool field = text[at] == L'{' && close != std::wstring::npos && close > at + 1 &&
                           std::all_of(text.begin() + at + 1, text.begin() + close,
                                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        fields.push_back(field ? text.substr(at, close - at + 1) : L"stray");
        if (field)
            at = close;
    }
    std::sort(fields.begin(), fields.end());
    return fields;
}

bool is_folder_name(const std::wstring& name) {
    return !name.empty() && name.back() != L' ' && name.back() != L'.' &&
           std::none_of(name.begin(), name.end(), [](wchar_t c) {
               return c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos;
           });
}

class string_tables : public testing::Test {
protected:
    void SetUp() override {
        setup_.reset(::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(setup_) << "error " << ::GetLastError();
        for (std::uint32_t index = 0; index < vd::ui_language_count; ++index)
            tables_[index] = read_table(setup_.get(), vd::language_langid(index));
        english_ = tables_[vd::ui_language_english];
        ASSERT_FALSE(english_.empty());
    }

    vd::unique_module setup_;
    std::array<table, vd::ui_language_count> tables_;
    table english_;
};

TEST_F(string_tables, every_block_exists_in_the_24_ui_languages_with_the_same_entries) {
    std::set<LANGID> ui_languages;
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index)
        ui_languages.insert(vd::language_langid(index));

    const auto blocks = block_languages(setup_.get());
    for (const auto& [id, text] : english_)
        EXPECT_TRUE(blocks.contains(id / 16 + 1)) << id;
    for (const auto& [block, languages] : blocks)
        EXPECT_EQ(languages, ui_languages) << "block " << block;

    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        std::vector<unsigned> ids, english_ids;
        for (const auto& entry : tables_[index])
            ids.push_back(entry.first);
        for (const auto& entry : english_)
            english_ids.push_back(entry.first);
        EXPECT_EQ(ids, english_ids) << "language " << index;
    }
}

TEST_F(string_tables, translations_keep_the_english_format_fields) {
    for (const std::uint32_t index : translated) {
        for (const auto& [id, text] : tables_[index]) {
            SCOPED_TRACE(testing::Message() << "language " << index << ", id " << id);
            EXPECT_NE(text, L"#");
            EXPECT_EQ(text.find(L'\uFFFD'), std::wstring::npos);
            EXPECT_EQ(placeholders(text), placeholders(english_.at(id)));
            EXPECT_NO_THROW((void)fmt::format(fmt::runtime(text), L"a", L"b"));
        }
    }
}

// The scripts are UTF-8 under their code-page pragma; read in any other code page, Arabic
// letters would come out as Latin ones.
TEST_F(string_tables, arabic_texts_are_in_arabic_script) {
    for (const auto& [id, text] : tables_[vd::ui_language_arabic])
        EXPECT_TRUE(std::ranges::any_of(text, [](wchar_t c) { return c >= 0x0600 && c <= 0x06FF; }))
            << id;
}

TEST_F(string_tables, the_samples_folder_name_is_a_valid_folder_name_in_every_translation) {
    for (const std::uint32_t index : translated) {
        ASSERT_TRUE(tables_[index].contains(1018)) << index;
        const std::wstring name = fmt::format(fmt::runtime(tables_[index].at(1018)), L"Stelvane");
        EXPECT_TRUE(is_folder_name(name)) << "language " << index;
    }
}

TEST_F(string_tables, languages_without_translation_hold_only_the_placeholder) {
    for (std::uint32_t index = 0; index < vd::ui_language_count; ++index) {
        if (is_translated(index))
            continue;
        for (const auto& [id, text] : tables_[index])
            EXPECT_EQ(text, L"#") << "language " << index << ", id " << id;
    }
}

} // namespace
