// A stand-in for the product's uninstaller, Uninstall.exe: the installer registers it as the
// product's "UninstallString" and writes its journal beside it, but removing the product is not
// this installer's work, so the stand-in only says so.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
    ::MessageBoxW(nullptr,
                  L"Uninstalling is not part of this installer.\n\n"
                  L"This is a stand-in of the Stelvane 8.01 Uninstaller; it removes nothing.",
                  L"Stelvane 8.01 Uninstaller", MB_OK | MB_ICONINFORMATION);
    return 0;
}
