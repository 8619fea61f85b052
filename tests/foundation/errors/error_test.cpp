#include "foundation/errors/error.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <expected>
#include <filesystem>
#include <ios>
#include <memory>
#include <stdexcept>
#include <utility>

#include <boost/system/system_error.hpp>

#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"

namespace {

template <class F>
std::error_code thrown_code(F&& f) {
    try {
        f();
    } catch (const std::system_error& e) {
        return e.code();
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

TEST(error, failures_are_thrown_as_system_errors_with_their_code) {
    EXPECT_EQ(thrown_code([] { vd::throw_system_error(ERROR_ACCESS_DENIED); }),
              std::error_code(5, std::system_category()));

    ::SetLastError(ERROR_FILE_EXISTS);
    EXPECT_EQ(thrown_code([] { vd::throw_system_error(); }),
              std::error_code(ERROR_FILE_EXISTS, std::system_category()));

    // An HRESULT keeps its 32-bit value; success codes, S_FALSE among them, return.
    EXPECT_NO_THROW(vd::throw_if_failed(S_OK));
    EXPECT_NO_THROW(vd::throw_if_failed(S_FALSE));
    EXPECT_EQ(thrown_code([] { vd::throw_if_failed(E_FAIL); }),
              std::error_code(static_cast<int>(0x80004005), std::system_category()));

    try {
        vd::assertion_failed();
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Debug Assertion Failed!");
    }
}

TEST(error, codes_are_found_in_every_exception_that_carries_one) {
    const std::error_code access_denied(5, std::system_category());
    EXPECT_EQ(vd::error_code_of(std::system_error(access_denied)), access_denied);
    EXPECT_EQ(vd::error_code_of(std::filesystem::filesystem_error("x", access_denied)), access_denied);
    EXPECT_EQ(vd::error_code_of(std::ios_base::failure("x")), std::make_error_code(std::io_errc::stream));

    EXPECT_EQ(vd::error_code_of(boost::system::system_error(5, boost::system::system_category())),
              access_denied);
    EXPECT_EQ(vd::error_code_of(boost::system::system_error(2, boost::system::generic_category())),
              std::error_code(2, std::generic_category()));

    EXPECT_EQ(vd::error_code_of(std::bad_expected_access<std::errc>(std::errc::no_such_file_or_directory)),
              std::error_code(2, std::generic_category()));
    EXPECT_EQ(vd::error_code_of(std::bad_expected_access<std::error_code>(access_denied)), access_denied);

    // Thrown by the standard library itself, as callers meet it.
    try {
        std::expected<int, std::errc> failed = std::unexpected(std::errc::permission_denied);
        (void)failed.value();
    } catch (const std::exception& e) {
        EXPECT_EQ(vd::error_code_of(e), std::error_code(13, std::generic_category()));
    }

    EXPECT_FALSE(vd::error_code_of(std::runtime_error("x")));
    EXPECT_FALSE(vd::error_code_of(std::bad_expected_access<int>(1)));
}

TEST(error, standard_error_numbers_map_to_win32_codes) {
    const std::pair<int, DWORD> pairs[] = {
        {0, 0},       {1, 5},       {2, 3},       {4, 10004},   {8, 11},      {9, 10009},
        {11, 1237},   {12, 8},      {13, 10013},  {14, 10014},  {16, 170},    {17, 183},
        {18, 17},     {22, 10022},  {23, 4},      {24, 10024},  {28, 112},    {32, 109},
        {33, 87},     {36, 32},     {38, 10063},  {40, 1},      {41, 145},    {42, 582},
        {100, 10048}, {101, 10049}, {102, 10047}, {103, 10037}, {105, 995},   {106, 10053},
        {107, 10061}, {108, 10054}, {109, 10039}, {110, 10065}, {112, 10036}, {113, 10056},
        {114, 10062}, {115, 10040}, {116, 10050}, {117, 10052}, {118, 10051}, {119, 10055},
        {123, 10042}, {126, 10057}, {128, 10038}, {129, 50},    {130, 10045}, {135, 10043},
        {136, 10041}, {138, 10060}, {140, 10035},
    };
    static_assert(std::size(pairs) == 51);
    int mapped = 0;
    for (int number = -1; number <= 200; ++number) {
        const auto found = std::find_if(std::begin(pairs), std::end(pairs),
                                        [&](const auto& pair) { return pair.first == number; });
        if (found == std::end(pairs)) {
            EXPECT_FALSE(vd::win32_error_of(number)) << number;
        } else {
            EXPECT_EQ(vd::win32_error_of(number), found->second) << number;
            ++mapped;
        }
    }
    EXPECT_EQ(mapped, 51);
}

TEST(error, exception_text_follows_the_code_the_exception_carries) {
    const auto ui_language = LANGIDFROMLCID(vd::language_state::instance().lcid);

    EXPECT_EQ(vd::exception_text(std::system_error(5, std::system_category())), vd::error_text(5));
    EXPECT_EQ(vd::exception_text(std::bad_expected_access<std::errc>(std::errc::no_such_file_or_directory)),
              vd::error_text(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(vd::exception_text(std::bad_expected_access<std::errc>(static_cast<std::errc>(3))), L"");
    EXPECT_EQ(vd::exception_text(std::system_error(13, std::generic_category())), vd::error_text(10013));

    EXPECT_EQ(vd::exception_text(std::ios_base::failure("x", std::error_code(5, std::system_category()))),
              vd::error_text(5));
    EXPECT_EQ(vd::exception_text(std::ios_base::failure("x", std::error_code(22, std::generic_category()))),
              vd::error_text(10022));
    EXPECT_EQ(vd::exception_text(std::ios_base::failure("x")), L"");

    EXPECT_EQ(vd::exception_text(std::invalid_argument("x")),
              vd::system_message_text(ERROR_INVALID_PARAMETER, ui_language));
    EXPECT_EQ(vd::exception_text(std::runtime_error("x")), L"");
    EXPECT_EQ(vd::exception_text(std::logic_error("x")), L"");
}

TEST(error, translator_is_replaced_and_the_previous_one_destroyed) {
    EXPECT_EQ(vd::translate_exception(std::runtime_error("x")), L"");

    auto first_alive = std::make_shared<int>();
    std::weak_ptr<int> first = first_alive;
    vd::set_exception_translator([held = std::move(first_alive)](const std::exception&) { return std::wstring(L"first"); });
    EXPECT_EQ(vd::translate_exception(std::runtime_error("x")), L"first");
    EXPECT_FALSE(first.expired());

    vd::set_exception_translator(vd::exception_text);
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(vd::translate_exception(std::system_error(5, std::system_category())), vd::error_text(5));

    vd::set_exception_translator(nullptr);
}

class wide_exception : public vd::exception {
public:
    explicit wide_exception(std::wstring message) : message_(std::move(message)) {}
    std::wstring message() const override {
        if (message_.empty())
            throw std::runtime_error("no message");
        return message_;
    }

private:
    std::wstring message_;
};

TEST(error, own_exception_gives_its_wide_message_in_utf8) {
    const wide_exception e(L"Caf\u00e9 \U0001F600");
    const char* text = e.what();
    EXPECT_STREQ(text, "Caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(e.what(), text) << "converted once and kept";

    // Without a message: the text of the std::exception part.
    const wide_exception without(L"");
    EXPECT_STREQ(without.what(), static_cast<const std::exception&>(without).std::exception::what());
}

} // namespace
