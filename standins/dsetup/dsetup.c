/* A stand-in for the DirectX set-up library "DSetup.dll", for builds and tests that carry no real
   DirectX redistributable. It answers like the real library: a version, one progress report
   through the caller's callback, and a result. Each variant is its own DLL, chosen at build time:
   STANDIN_VERSION and STANDIN_REVISION give the version it reports, STANDIN_RESULT what the set-up
   returns, STANDIN_COMPANION makes it need a companion library beside it (as the real library
   needs its own). The entry points it exports are named by its .def file. */
#include <windows.h>

#ifndef STANDIN_VERSION
#define STANDIN_VERSION 0x00040009
#endif
#ifndef STANDIN_REVISION
#define STANDIN_REVISION 903
#endif
#ifndef STANDIN_RESULT
#define STANDIN_RESULT 0
#endif

/* The set-up library's own codes for a call it refuses. */
#define DSETUPERR_CANTFINDDIR (-8)
#define DSETUPERR_INTERNAL (-9)

#ifdef STANDIN_COMPANION
/* Exported by the tests' marker library, which lies beside this one as "library_marker.dll". */
__declspec(dllimport) int library_marker_present(void);
#endif

typedef DWORD(WINAPI *dsetup_callback)(DWORD reason, DWORD message_type, LPSTR message, LPSTR name, void *info);

static HMODULE own_module;
static dsetup_callback registered_callback;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        own_module = instance;
    return TRUE;
}

int WINAPI DirectXSetupGetVersion(DWORD *version, DWORD *revision) {
    if (!version || !revision)
        return 0;
#ifdef STANDIN_COMPANION
    if (!library_marker_present())
        return 0;
#endif
    *version = STANDIN_VERSION;
    *revision = STANDIN_REVISION;
    return 1;
}

int WINAPI DirectXSetupSetCallback(dsetup_callback callback) {
    registered_callback = callback;
    return 0;
}

/* True when root names the folder this library was loaded from, where the set-up files lie. */
static BOOL is_own_folder(const wchar_t *root) {
    wchar_t path[MAX_PATH + 1] = {0};
    DWORD length = GetModuleFileNameW(own_module, path, MAX_PATH);
    if (!root || length == 0 || length >= MAX_PATH)
        return FALSE;
    while (length > 0 && path[length - 1] != L'\\')
        --length;
    if (length > 0)
        --length;
    return CompareStringOrdinal(path, (int)length, root, -1, TRUE) == CSTR_EQUAL;
}

int WINAPI DirectXSetupW(HWND owner, LPWSTR root_path, DWORD flags) {
    static char message[] = "Installing DirectX components";
    static char name[] = "DirectX";
    (void)owner;
    if (flags != 0x10018 || !is_own_folder(root_path))
        return DSETUPERR_CANTFINDDIR;
    /* 18: the progress report on which the caller lets its window messages through. */
    if (!registered_callback || registered_callback(18, 0, message, name, NULL) != 1)
        return DSETUPERR_INTERNAL;
    return STANDIN_RESULT;
}
