// A handled message's result goes where the dialog manager reads it: the return value for the
// messages answered through it, DWLP_MSGRESULT for the rest.
#include "foundation/ui/dialog_result.hpp"

#include <gtest/gtest.h>

#include "support/test_windows.hpp"

TEST(dialog_result, goes_where_the_dialog_manager_reads_it) {
    testing_support::unique_window dialog{::CreateWindowExW(0, WC_DIALOG, L"", WS_POPUP, 0, 0, 100, 100, nullptr,
                                                            nullptr, nullptr, nullptr)};
    ASSERT_TRUE(dialog) << "error " << ::GetLastError();
    constexpr LONG_PTR untouched = 0x5A5A;
    const struct {
        UINT message;
        LONG_PTR value;
        INT_PTR returned;
        LONG_PTR stored;
    } cases[] = {
        {WM_VKEYTOITEM, -2, -2, untouched},         {WM_COMPAREITEM, -1, -1, untouched},
        {WM_INITDIALOG, FALSE, FALSE, untouched},   {WM_CTLCOLORSTATIC, 0x0B0B0B, 0x0B0B0B, untouched},
        {WM_COMMAND, 0, TRUE, 0},                   {WM_NOTIFY, 7, TRUE, 7},
    };
    for (const auto& c : cases) {
        ::SetWindowLongPtrW(dialog.get(), DWLP_MSGRESULT, untouched);
        EXPECT_EQ(vd::set_dlg_msg_result(dialog.get(), c.message, c.value), c.returned) << c.message;
        EXPECT_EQ(::GetWindowLongPtrW(dialog.get(), DWLP_MSGRESULT), c.stored) << c.message;
    }
}
