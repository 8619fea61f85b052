// The stand-in uninstaller says that uninstalling is not this installer's work, and ends with 0.
#include "support/started_program.hpp"

#include <gtest/gtest.h>

#include "foundation/language/version_info.hpp"

TEST(uninstall_standin, says_uninstalling_is_not_part_of_the_installer) {
    EXPECT_EQ(vd::file_version_info(L"" STELVANE_UNINSTALLER_EXE).string_value(L"FileDescription"),
              L"Stelvane 8.01 Uninstaller");

    testing_support::started_program run(STELVANE_UNINSTALLER_EXE, L"");
    ASSERT_TRUE(run) << "error " << ::GetLastError();
    const auto box = run.answer_box();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"Stelvane 8.01 Uninstaller");
    EXPECT_NE(box->text.find(L"not part of this installer"), std::wstring::npos) << box->text;
    EXPECT_EQ(run.exit_code(), 0);
}
