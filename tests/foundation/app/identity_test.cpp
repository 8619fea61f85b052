#include "foundation/app/identity.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <windows.h>

#include "foundation/system/registry.hpp"
#include "support/test_folder.hpp"

namespace {

TEST(identity, display_name_of_the_product_and_assertion_for_unknown_codes) {
    EXPECT_EQ(vd::product_display_name(0x308), L"Stelvane 8");
    for (const std::uint32_t code : {0u, 0x307u, 0x309u, 0x10308u}) {
        try {
            vd::product_display_name(code);
            ADD_FAILURE() << "no assertion for " << code;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Debug Assertion Failed!");
        }
    }
}

// The path value lives under HKEY_LOCAL_MACHINE "Software\Vandrel", which the program names
// itself: the test writes it there (the Wine user is an administrator) and puts back what it
// found.
class installed_path_test : public ::testing::Test {
protected:
    static constexpr const wchar_t* value_name = L"Stelvane 8 Path";

    void SetUp() override {
        created_maker_key_ = !vd::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
        key_ = vd::reg_create_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
        had_value_ = key_.get_string(value_name, saved_value_);
    }

    void TearDown() override {
        if (had_value_)
            key_.set_string(value_name, saved_value_);
        else
            ::RegDeleteValueW(key_.get(), value_name);
        key_ = vd::reg_key();
        // Only when nothing else has appeared in it meanwhile.
        if (created_maker_key_ && is_empty(L"Software\\Vandrel"))
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
    }

    static bool is_empty(const wchar_t* path) {
        const vd::reg_key key = vd::reg_open_key(HKEY_LOCAL_MACHINE, path);
        DWORD subkeys = 0;
        DWORD values = 0;
        return key && ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               subkeys == 0 && values == 0;
    }

    vd::reg_key key_;
    bool created_maker_key_ = false;
    bool had_value_ = false;
    std::wstring saved_value_;
    testing_support::test_folder folder_;
};

TEST_F(installed_path_test, recorded_path_is_read_back_only_while_it_exists) {
    ::RegDeleteValueW(key_.get(), value_name);
    EXPECT_EQ(vd::installed_app_path(0x308), L"");

    const auto program = folder_ / L"Stelvane.exe";
    testing_support::write_file(program, "MZ");
    key_.set_string(value_name, program.wstring());
    EXPECT_EQ(vd::installed_app_path(0x308), program.wstring());

    // A folder counts as well.
    key_.set_string(value_name, folder_.path().wstring());
    EXPECT_EQ(vd::installed_app_path(0x308), folder_.path().wstring());

    key_.set_string(value_name, program.wstring());
    std::filesystem::remove(program);
    EXPECT_EQ(vd::installed_app_path(0x308), L"");

    // Not a text: the same as no value.
    const DWORD number = 1;
    ::RegSetValueExW(key_.get(), value_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(vd::installed_app_path(0x308), L"");

    // A code outside the product table is an assertion inside, an empty path outside.
    EXPECT_EQ(vd::installed_app_path(0), L"");
}

} // namespace
