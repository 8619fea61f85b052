#include "foundation/system/registry.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

namespace {

// A key of the test's own under HKEY_CURRENT_USER, removed with everything in it at the end.
class registry_test : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = L"Software\\Vandrel Tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::wstring(info->name(), info->name() + std::strlen(info->name()));
        key_ = vd::reg_create_key(HKEY_CURRENT_USER, path_);
        ASSERT_TRUE(key_);
    }

    void TearDown() override {
        key_ = vd::reg_key();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vandrel Tests");
    }

    // Stores a value exactly as given, bypassing the checks of the class under test.
    void put_raw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    std::pair<DWORD, DWORD> type_and_size(const wchar_t* name) {
        DWORD type = 0;
        DWORD size = 0;
        EXPECT_EQ(::RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        return {type, size};
    }

    std::wstring path_;
    vd::reg_key key_;
};

template <class F>
DWORD thrown_code(F&& f) {
    try {
        f();
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().category(), std::system_category());
        return static_cast<DWORD>(e.code().value());
    }
    ADD_FAILURE() << "nothing thrown";
    return 0;
}

TEST_F(registry_test, keys_open_create_and_are_absent_without_an_exception) {
    EXPECT_FALSE(vd::reg_open_key(HKEY_CURRENT_USER, path_ + L"\\Missing"));
    EXPECT_FALSE(key_.open_subkey(L"Missing"));
    EXPECT_FALSE(key_.open_subkey(L"Missing\\Deeper"));

    const vd::reg_key created = key_.create_subkey(L"Child\\Grandchild");
    ASSERT_TRUE(created);
    created.set_string(L"Marker", L"first");

    // Creating what exists opens it, values and all.
    const vd::reg_key again = vd::reg_create_key(HKEY_CURRENT_USER, path_ + L"\\Child\\Grandchild");
    std::wstring marker;
    ASSERT_TRUE(again.get_string(L"Marker", marker));
    EXPECT_EQ(marker, L"first");
}

TEST_F(registry_test, failures_other_than_absence_are_thrown) {
    // A volatile key can only have volatile children.
    HKEY raw_volatile = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(key_.get(), L"Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                &raw_volatile, nullptr),
              ERROR_SUCCESS);
    const vd::reg_key volatile_key(raw_volatile);
    EXPECT_EQ(thrown_code([&] { volatile_key.create_subkey(L"Child"); }),
              static_cast<DWORD>(ERROR_CHILD_MUST_BE_VOLATILE));

    // A name longer than the registry allows is not a missing key.
    const std::wstring too_long(300, L'x');
    EXPECT_NE(thrown_code([&] { key_.open_subkey(too_long); }), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Values of no key at all; the output stays as it was.
    const vd::reg_key none;
    std::wstring text = L"unchanged";
    EXPECT_EQ(thrown_code([&] { none.get_string(L"Value", text); }), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(text, L"unchanged");
    EXPECT_FALSE(none.get_dword(L"Value"));
}

TEST_F(registry_test, strings_are_written_with_their_nul_and_read_back) {
    key_.set_string(L"Three", L"abc");
    EXPECT_EQ(type_and_size(L"Three"), std::make_pair(DWORD{REG_SZ}, DWORD{8}));
    key_.set_string(L"Null", std::wstring_view());
    EXPECT_EQ(type_and_size(L"Null"), std::make_pair(DWORD{REG_SZ}, DWORD{0}));
    const std::wstring with_nul(L"a\0b", 3);
    key_.set_string(L"Embedded", with_nul);

    std::wstring out;
    ASSERT_TRUE(key_.get_string(L"Three", out));
    EXPECT_EQ(out, L"abc");
    out = L"stale";
    ASSERT_TRUE(key_.get_string(L"Null", out));
    EXPECT_EQ(out, L"");
    ASSERT_TRUE(key_.get_string(L"Embedded", out));
    EXPECT_EQ(out, with_nul);

    // Only the NUL: an empty text as well.
    put_raw(L"OnlyNul", REG_SZ, L"", 2);
    out = L"stale";
    ASSERT_TRUE(key_.get_string(L"OnlyNul", out));
    EXPECT_EQ(out, L"");

    // Expandable strings come back as stored.
    const wchar_t expandable[] = L"%SystemRoot%\\x";
    put_raw(L"Expand", REG_EXPAND_SZ, expandable, sizeof expandable);
    ASSERT_TRUE(key_.get_string(L"Expand", out));
    EXPECT_EQ(out, L"%SystemRoot%\\x");
}

TEST_F(registry_test, strings_that_are_not_texts_read_as_false_and_leave_the_output) {
    const wchar_t no_nul[] = {L'a', L'b'};
    put_raw(L"NoNul", REG_SZ, no_nul, sizeof no_nul);
    const wchar_t odd[] = L"ab";
    put_raw(L"Odd", REG_SZ, odd, 5);
    const wchar_t multi[] = L"a\0b\0";
    put_raw(L"Multi", REG_MULTI_SZ, multi, sizeof multi);
    const DWORD number = 1;
    put_raw(L"Number", REG_DWORD, &number, sizeof number);

    for (const wchar_t* name : {L"NoNul", L"Odd", L"Multi", L"Number", L"Missing"}) {
        std::wstring out = L"unchanged";
        EXPECT_FALSE(key_.get_string(name, out)) << name;
        EXPECT_EQ(out, L"unchanged") << name;
    }
}

TEST_F(registry_test, binaries_are_read_only_in_their_exact_size) {
    const std::array<std::uint32_t, 2> size{640, 480};
    key_.set_binary(size.data(), sizeof size, L"Size");
    EXPECT_EQ(type_and_size(L"Size"), std::make_pair(DWORD{REG_BINARY}, DWORD{sizeof size}));

    std::array<std::uint32_t, 2> out{};
    ASSERT_TRUE(key_.get_binary(out.data(), sizeof out, L"Size"));
    EXPECT_EQ(out, size);

    const std::array<std::uint8_t, 9> longer{1, 2, 3, 4, 5, 6, 7, 8, 9};
    key_.set_binary(longer.data(), sizeof longer, L"Longer");
    key_.set_string(L"Text", L"12345678");
    out = {7, 7};
    EXPECT_FALSE(key_.get_binary(out.data(), sizeof out, L"Longer"));
    EXPECT_FALSE(key_.get_binary(out.data(), sizeof out, L"Text"));
    EXPECT_FALSE(key_.get_binary(out.data(), sizeof out, L"Missing"));
    EXPECT_EQ(out, (std::array<std::uint32_t, 2>{7, 7}));
}

TEST_F(registry_test, dwords_read_strictly_and_get_dword_never_throws) {
    const DWORD value = 0x12345678;
    put_raw(L"Dword", REG_DWORD, &value, sizeof value);
    const std::uint64_t wide = 5;
    put_raw(L"Eight", REG_DWORD, &wide, sizeof wide);
    put_raw(L"BigEndian", REG_DWORD_BIG_ENDIAN, &value, sizeof value);
    key_.set_string(L"Text", L"1");

    DWORD out = 0;
    ASSERT_TRUE(key_.read_dword(L"Dword", out));
    EXPECT_EQ(out, value);
    EXPECT_EQ(key_.get_dword(L"Dword"), value);

    out = 99;
    EXPECT_FALSE(key_.read_dword(L"Missing", out));
    EXPECT_FALSE(key_.read_dword(L"BigEndian", out));
    EXPECT_FALSE(key_.read_dword(L"Text", out));
    EXPECT_EQ(thrown_code([&] { key_.read_dword(L"Eight", out); }), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(out, 99u);

    for (const wchar_t* name : {L"Missing", L"BigEndian", L"Text", L"Eight"})
        EXPECT_FALSE(key_.get_dword(name)) << name;
}

} // namespace
