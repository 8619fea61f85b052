#include "installer/payload/compress_error.hpp"

#include <gtest/gtest.h>

TEST(compress_error, category_names_and_messages) {
    EXPECT_STREQ(compress_category().name(), "compress");
    EXPECT_EQ(compress_category().message(3), "invalid checksum");
    EXPECT_EQ(compress_category().message(4), "unknown error");
    EXPECT_EQ(compress_category().message(5), "interrupted");
    EXPECT_EQ(compress_category().message(6), "bzip2 error");
    EXPECT_EQ(compress_category().message(7), "unexpected error");
    EXPECT_EQ(compress_category().message(0), "unknown error");
    EXPECT_EQ(compress_category().message(-1), "unknown error");

    const std::error_code code = compress_error::interrupted;
    EXPECT_EQ(code.value(), 5);
    EXPECT_EQ(&code.category(), &compress_category());

    try {
        throw_compress_error(compress_error::unexpected);
        FAIL() << "nothing thrown";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), make_error_code(compress_error::unexpected));
    }
}
