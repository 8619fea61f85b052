// What a dialog procedure returns for a message it handled. Most messages take their result
// from the window's DWLP_MSGRESULT slot once the procedure returns TRUE; a few carry it in the
// return value itself, and storing it there would be lost.
#pragma once

#include <windows.h>

namespace vd {

// For WM_VKEYTOITEM, WM_CHARTOITEM, WM_QUERYDRAGICON, WM_COMPAREITEM, WM_INITDIALOG and the
// WM_CTLCOLOR messages (whose result is a brush) the value itself; for every other message
// TRUE, with the value stored as the message result.
INT_PTR set_dlg_msg_result(HWND dialog, UINT message, LONG_PTR value);

} // namespace vd
