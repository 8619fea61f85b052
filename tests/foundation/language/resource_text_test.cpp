#include "foundation/language/resource_text.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "foundation/language/language_state.hpp"

namespace {

// The entries of tests/foundation/test_resources.rc.
constexpr std::uint32_t two_lines = 0x1230;        // "first line\nsecond line"
constexpr std::uint32_t trailing_break = 0x1231;   // "only line\n"
constexpr std::uint32_t no_break = 0x1232;         // "no line break"
constexpr std::uint32_t three_lines = 0x1233;      // "one\ntwo\nthree"
constexpr std::uint32_t plain = 0x1234;            // "entry 4 of block 0x124"
constexpr std::uint32_t three_fields = 0x1235;     // "alpha|beta|gamma"
constexpr std::uint32_t trailing_separator = 0x1236; // "alpha|beta|"
constexpr std::uint32_t left_out = 0x123F;         // empty: a block holds all 16 entries
constexpr std::uint32_t missing = 0x5670;          // no such block

// The entries come from the program's own module.
class resource_text_test : public testing::Test {
protected:
    void SetUp() override {
        saved_module_ = vd::language_state::instance().module;
        vd::language_state::instance().module = nullptr;
    }
    void TearDown() override { vd::language_state::instance().module = saved_module_; }

private:
    HMODULE saved_module_ = nullptr;
};

template <class Call>
std::string invalid_argument_of(Call call) {
    try {
        call();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST_F(resource_text_test, string_or_id_gives_empty_literal_or_entry_text) {
    EXPECT_STREQ(vd::string_or_id().c_str(), L"");
    EXPECT_STREQ(vd::string_or_id(0).c_str(), L"");
    EXPECT_STREQ(vd::string_or_id(nullptr).c_str(), L"");

    const wchar_t* literal = L"a caller's text";
    const vd::string_or_id text(literal);
    EXPECT_FALSE(text.is_id());
    EXPECT_EQ(text.c_str(), literal); // not copied

    const vd::string_or_id id(plain);
    EXPECT_TRUE(id.is_id());
    EXPECT_STREQ(id.c_str(), L"entry 4 of block 0x124");
    EXPECT_STREQ(id.c_str(), L"entry 4 of block 0x124"); // asking again refills the same text
    EXPECT_STREQ(vd::string_or_id(missing).c_str(), L"");
    EXPECT_STREQ(vd::string_or_id(left_out).c_str(), L"");
    EXPECT_STREQ(vd::string_or_id(MAKEINTRESOURCEW(three_fields)).c_str(), L"alpha|beta|gamma");

    EXPECT_EQ(vd::string_id_text(plain), L"entry 4 of block 0x124");
    EXPECT_EQ(vd::string_id_text(missing), L"");
    EXPECT_EQ(vd::string_id_text(left_out), L"");
    EXPECT_EQ(vd::string_id_text(0), L"");
    EXPECT_EQ(vd::string_id_text(0x1237), L"Gr\u00FC\u00DFe \u20AC");
}

TEST_F(resource_text_test, a_line_needs_exactly_one_line_break) {
    EXPECT_EQ(vd::string_line_text({two_lines, 0}), L"first line");
    EXPECT_EQ(vd::string_line_text({two_lines, 1}), L"second line");
    EXPECT_EQ(vd::string_line_text({two_lines, 7}), L"second line");
    EXPECT_EQ(vd::string_line_text({trailing_break, 0}), L"only line");
    EXPECT_EQ(vd::string_line_text({trailing_break, 1}), L"");

    for (const std::uint32_t id : {no_break, three_lines, missing, left_out, 0u})
        for (const std::uint8_t second : {0, 1})
            EXPECT_EQ(invalid_argument_of([&] { vd::string_line_text({id, second}); }), "invalid format string")
                << std::hex << id << " " << int(second);

    EXPECT_EQ(vd::split_line(L"\n", false), L"");
    EXPECT_EQ(vd::split_line(L"\nb", true), L"b");
    EXPECT_EQ(invalid_argument_of([] { vd::split_line(L"", false); }), "invalid format string");
}

TEST_F(resource_text_test, fields_are_counted_from_zero) {
    EXPECT_EQ(vd::string_field_text({three_fields, 0, L'|'}), L"alpha");
    EXPECT_EQ(vd::string_field_text({three_fields, 1, L'|'}), L"beta");
    EXPECT_EQ(vd::string_field_text({three_fields, 2, L'|'}), L"gamma");
    EXPECT_EQ(invalid_argument_of([] { vd::string_field_text({three_fields, 3, L'|'}); }), "invalid index");

    EXPECT_EQ(vd::string_field_text({trailing_separator, 1, L'|'}), L"beta");
    EXPECT_EQ(vd::string_field_text({trailing_separator, 2, L'|'}), L"");
    EXPECT_EQ(invalid_argument_of([] { vd::string_field_text({trailing_separator, 3, L'|'}); }), "invalid index");

    // Another separator sees one field.
    EXPECT_EQ(vd::string_field_text({three_fields, 0, L';'}), L"alpha|beta|gamma");
    // Missing and empty entries have an empty field 0 and nothing more.
    EXPECT_EQ(vd::string_field_text({missing, 0, L'|'}), L"");
    EXPECT_EQ(vd::string_field_text({0, 0, L'|'}), L"");
    EXPECT_EQ(vd::string_field_text({left_out, 0, L'|'}), L"");
    EXPECT_EQ(invalid_argument_of([] { vd::string_field_text({missing, 1, L'|'}); }), "invalid index");
    EXPECT_EQ(invalid_argument_of([] { vd::string_field_text({left_out, 1, L'|'}); }), "invalid index");
}

TEST_F(resource_text_test, resource_text_gives_the_text_of_its_alternative) {
    EXPECT_EQ(vd::resource_text(plain).str(), L"entry 4 of block 0x124");
    EXPECT_EQ(vd::resource_text(vd::string_line{two_lines, 1}).str(), L"second line");
    EXPECT_EQ(vd::resource_text(std::wstring(L"literal")).str(), L"literal");
    EXPECT_EQ(vd::resource_text(vd::string_field{three_fields, 1, L'|'}).str(), L"beta");
    EXPECT_THROW(vd::resource_text(vd::string_line{no_break, 0}).str(), std::invalid_argument);
}
