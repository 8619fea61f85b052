#include "foundation/ui/dialog_result.hpp"

namespace vd {

INT_PTR set_dlg_msg_result(HWND dialog, UINT message, LONG_PTR value) {
    switch (message) {
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return value;
    default:
        ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, value);
        return TRUE;
    }
}

} // namespace vd
