/* A library that tells that it was loaded: on loading it leaves an empty file named after itself
   with ".loaded" added, beside itself. The tests copy it under the names of other libraries into
   folders where none of those may be taken from. It imports kernel32 alone and starts without the
   C run time, so that a copy may bear any library's name (msvcrt's too). */
#include <windows.h>

/* For a library that needs a companion beside it: the import that binds the two. */
__declspec(dllexport) int library_marker_present(void) {
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    wchar_t path[MAX_PATH + 8];
    DWORD length;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcpyW(path + length, L".loaded");
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
