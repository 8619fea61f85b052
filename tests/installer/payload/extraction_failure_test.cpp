#include "installer/payload/extraction_failure.hpp"

#include "installer/payload/compress_error.hpp"

#include <gtest/gtest.h>

#include <future>

TEST(extraction_failure, code_texts_as_the_user_sees_them) {
    const std::pair<std::error_code, const wchar_t*> cases[] = {
        {{5, std::system_category()}, L"1:00000005"},
        {{static_cast<int>(0x80070020), std::system_category()}, L"1:80070020"},
        {{13, std::generic_category()}, L"2:0000000D"},
        {make_error_code(compress_error::invalid_checksum), L"3"},
        {make_error_code(compress_error::verification_failed), L"4"},
        {std::make_error_code(std::future_errc::broken_promise), L"7"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(extraction_code_text(code), text) << code.category().name() << " " << code.value();
}
