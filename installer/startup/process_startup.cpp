#include "installer/startup/process_startup.hpp"

#include "foundation/app/initialization.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/system/library.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/app_context.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/dlg_main.hpp"

#include <cstdlib>
#include <locale>
#include <string>

#include <windows.h>

namespace {

INIT_ONCE process_once = INIT_ONCE_STATIC_INIT;

} // namespace

void restrict_library_search() {
    // Windows 7 has the function only with KB2533623; without it the program still starts, and
    // at least the current folder leaves the search.
    using set_default_dll_directories_function = BOOL(WINAPI*)(DWORD flags);
    const auto set_default_dll_directories = vd::find_export<set_default_dll_directories_function>(
        ::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (!set_default_dll_directories) {
        ::SetDllDirectoryW(L"");
        return;
    }
    // It refuses only flags it does not know; should it ever, the process ends here rather than
    // run as administrator with the search left open.
    if (!set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        vd::throw_system_error();
}

bool request_redirection_trust(set_mitigation_policy_function set_policy) {
    if (!set_policy)
        return false;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    return set_policy(ProcessRedirectionTrustPolicy, &policy, sizeof policy) != FALSE;
}

bool request_redirection_trust() {
    return request_redirection_trust(vd::find_export<set_mitigation_policy_function>(
        ::GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy"));
}

void processor_check() {
    if (::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
        return;
    ::MessageBoxW(nullptr,
                  L"This Version is not compatible with your Configuration.\n\n"
                  L"Cette version n'est pas compatible avec votre configuration.\n\n"
                  L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.",
                  nullptr, MB_ICONERROR);
    ::ExitProcess(1);
}

bool initialize_process() {
    vd::run_once(process_once, [] {
        ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        set_user_locale();
    });
    return true;
}

// MinGW's standard library knows only the classic locale by name, and the environment's
// default may be refused as well: the program starts in the classic locale then.
bool set_user_locale() {
    wchar_t buffer[LOCALE_NAME_MAX_LENGTH] = {};
    if (!::LCIDToLocaleName(LOCALE_USER_DEFAULT, buffer, LOCALE_NAME_MAX_LENGTH, 0))
        buffer[0] = L'\0';
    std::string name;
    for (const wchar_t* unit = buffer; *unit; ++unit)
        name += static_cast<char>(*unit & 0xFF);
    _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    for (const auto& candidate : {name, std::string()}) {
        try {
            std::locale::global(std::locale(candidate.c_str()));
            return true;
        } catch (const std::exception&) {
        }
    }
    std::locale::global(std::locale::classic());
    return true;
}

void initialize_application_once() {
    static INIT_ONCE application_once = INIT_ONCE_STATIC_INIT;
    initialize_process();
    vd::run_once(application_once, vd::initialize_application);
}

int run_installer() {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const vd::unique_hicon icon{static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(128), IMAGE_ICON, 0, 0, 0))};
    vd::app_context::set_icon([handle = icon.get()] { return handle; });
    auto& settings = installer_settings::instance();
    if (settings.initialize())
        ::DialogBoxParamW(vd::resource_module(), MAKEINTRESOURCEW(101), nullptr, basic_dialog::dialog_proc,
                          reinterpret_cast<LPARAM>(&dlg_main::instance()));
    vd::app_context::set_icon({});
    return 0;
}
