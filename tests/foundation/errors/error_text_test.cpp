#include "foundation/errors/error_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "foundation/language/language_state.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

namespace {

constexpr DWORD e_fail = 0x80004005;
constexpr DWORD string_code = 0x28000000;

LANGID ui_language() { return LANGIDFROMLCID(vd::language_state::instance().lcid); }

// The system's text as FormatMessageW gives it, line break and all; empty when it has none.
std::wstring raw_message(DWORD code, LANGID language) {
    wchar_t buffer[4096];
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                          code, language, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    return std::wstring(buffer, length);
}

std::wstring without_line_end(std::wstring text) {
    text.erase(text.find_last_not_of(L" \r\n\t") + 1);
    return text;
}

TEST(error_text, system_texts_come_without_their_line_break) {
    const std::wstring raw = raw_message(ERROR_ACCESS_DENIED, 0);
    ASSERT_FALSE(raw.empty());
    const std::wstring text = vd::system_message_text(ERROR_ACCESS_DENIED, 0);
    EXPECT_EQ(text, without_line_end(raw));
    EXPECT_EQ(text.find_last_of(L"\r\n"), std::wstring::npos);

    // HRESULTs are passed on as they are.
    const std::wstring e_fail_raw = raw_message(e_fail, 0);
    EXPECT_EQ(vd::system_message_text(e_fail, 0), e_fail_raw.empty() ? L"Error" : without_line_end(e_fail_raw));

    // Error texts speak the UI language, or what the system chooses when it has none in it.
    const std::wstring in_ui_language = raw_message(ERROR_ACCESS_DENIED, ui_language());
    EXPECT_EQ(vd::error_text(ERROR_ACCESS_DENIED),
              without_line_end(in_ui_language.empty() ? raw : in_ui_language));
}

TEST(error_text, a_code_without_a_text_gives_the_text_of_e_fail) {
    // Bit 29 clear, so it goes to the system as it is.
    constexpr DWORD unknown = 0xDEADBEEF;
    ASSERT_TRUE(raw_message(unknown, 0).empty());
    EXPECT_EQ(vd::system_message_text(unknown, 0), vd::system_message_text(e_fail, 0));
    EXPECT_EQ(vd::error_text(unknown), vd::system_message_text(e_fail, ui_language()));
}

TEST(error_text, a_language_without_texts_falls_back_to_the_systems_choice) {
    for (const LANGID language : {MAKELANGID(LANG_SLOVENIAN, SUBLANG_DEFAULT), MAKELANGID(LANG_VIETNAMESE, SUBLANG_DEFAULT),
                                  MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT)}) {
        if (!raw_message(ERROR_ACCESS_DENIED, language).empty())
            continue;
        EXPECT_EQ(vd::system_message_text(ERROR_ACCESS_DENIED, language),
                  without_line_end(raw_message(ERROR_ACCESS_DENIED, 0)));
        return;
    }
    GTEST_SKIP() << "the system has message texts in every language tried";
}

// A copy of this program with a string table added, loaded as data and made the UI resource
// module, so that codes naming string-table entries have entries to find.
class string_table_test : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t self[MAX_PATH];
        ASSERT_NE(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
        const auto copy = folder_ / L"strings.exe";
        ASSERT_TRUE(::CopyFileW(self, copy.c_str(), FALSE));

        // Entries 1120 to 1135 form block 71; 1121 has a text, 1123 is there but empty.
        std::vector<wchar_t> block;
        for (int index = 0; index < 16; ++index) {
            const std::wstring text = index == 1 ? L"Entry 1121" : L"";
            block.push_back(static_cast<wchar_t>(text.size()));
            block.insert(block.end(), text.begin(), text.end());
        }
        vd::unique_resource_update update{::BeginUpdateResourceW(copy.c_str(), FALSE)};
        ASSERT_TRUE(update);
        ASSERT_TRUE(::UpdateResourceW(update.get(), RT_STRING, MAKEINTRESOURCEW(1121 / 16 + 1),
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block.data(),
                                      static_cast<DWORD>(block.size() * sizeof(wchar_t))));
        ASSERT_TRUE(::EndUpdateResourceW(update.release(), FALSE));

        module_.reset(::LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(module_);
        vd::language_state::instance().module = module_.get();
    }

    void TearDown() override {
        vd::language_state::instance().module = nullptr;
        module_.reset();
    }

    testing_support::test_folder folder_;
    vd::unique_module module_;
};

TEST_F(string_table_test, codes_with_bits_29_and_27_name_string_table_entries) {
    const std::wstring e_fail_text = vd::system_message_text(e_fail, ui_language());
    EXPECT_EQ(vd::error_text(string_code | 1121), L"Entry 1121");
    // Only the low 16 bits name the entry.
    EXPECT_EQ(vd::error_text(string_code | 0x00AB0000 | 1121), L"Entry 1121");

    // Missing and empty entries, and own codes without bit 27, have no text of their own.
    EXPECT_EQ(vd::error_text(string_code | 1122), e_fail_text);
    EXPECT_EQ(vd::error_text(string_code | 1123), e_fail_text);
    EXPECT_EQ(vd::error_text(0x20000000 | 1121), e_fail_text);
}

} // namespace
