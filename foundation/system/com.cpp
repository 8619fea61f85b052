#include "foundation/system/com.hpp"

#include <oleauto.h>

#include "foundation/errors/error.hpp"

namespace vd {

com_scope::com_scope(DWORD flags) {
    const HRESULT hr = ::CoInitializeEx(nullptr, flags);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        throw_system_error(static_cast<DWORD>(hr));
    active_ = SUCCEEDED(hr);
}

com_scope::~com_scope() {
    if (active_)
        ::CoUninitialize();
}

std::wstring bstr_to_wstring(BSTR text) {
    if (!text)
        return {};
    return std::wstring(text, ::SysStringLen(text));
}

void WINAPI details::throw_com_error(HRESULT hr, IErrorInfo* info) {
    if (info)
        info->Release();
    throw_system_error(static_cast<DWORD>(hr));
}

} // namespace vd
