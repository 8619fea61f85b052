// COM for the code that talks to COM objects (the shell links): an apartment scope that
// balances its own initialisation, BSTR texts, and the handler through which the COM support
// library's smart pointers report a failure as the library's own exception.
#pragma once

#include <string>

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

namespace vd {

// CoInitializeEx(NULL, flags) for the life of the scope. S_OK and S_FALSE are balanced by
// CoUninitialize; RPC_E_CHANGED_MODE (the thread is in another apartment already) is accepted
// and nothing is undone for it; any other failure throws its HRESULT as a system error.
class com_scope {
public:
    explicit com_scope(DWORD flags);
    com_scope(const com_scope&) = delete;
    com_scope& operator=(const com_scope&) = delete;
    ~com_scope();

    // Whether this scope's initialisation counts and is undone by its destructor.
    bool active() const noexcept { return active_; }

private:
    bool active_ = false;
};

// All SysStringLen(text) characters, embedded NULs included; a null BSTR is empty.
std::wstring bstr_to_wstring(BSTR text);

namespace details {

// For _set_com_error_handler: throws the HRESULT as a system error with an empty text. The
// error information, which the handler is given to own, is released first.
[[noreturn]] void WINAPI throw_com_error(HRESULT hr, IErrorInfo* info);

} // namespace details

} // namespace vd
