// The About box (dialog 100): the installer's title, this program's version and copyright, and
// the maker's address. Run modally over the main window from its system menu.
#pragma once

#include <windows.h>

// The DLGPROC of the About box. OK and Esc close it with IDOK and IDCANCEL as results.
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
