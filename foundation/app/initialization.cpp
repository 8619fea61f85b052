#include "foundation/app/initialization.hpp"

#include <stdexcept>

#include <commctrl.h>
#include <comdef.h>
#include <shlwapi.h>

#include "foundation/app/identity.hpp"
#include "foundation/app/named_objects.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/com.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/library.hpp"
#include "foundation/system/unique_any.hpp"

namespace vd {

namespace details {

// The translator slot holds a callable; this one only forwards to the plain function.
struct translator_function {
    std::wstring (*function)(const std::exception&) noexcept;

    std::wstring operator()(const std::exception& e) const { return function(e); }
};

} // namespace details

namespace {

// What the program's user sees of a start-up that cannot go on: the system's own caption, no
// owner, as no window exists yet.
[[noreturn]] void initialization_failed() {
    ::MessageBoxW(nullptr, L"Initialization Error", nullptr, MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    std::exit(-11);
}

void run_application_initialization() {
    set_exception_translator(details::translator_function{&exception_text});

    try {
        // Only fills each folder's cache now, while a failure can still end the start-up.
        static_cast<void>(common_data_folder());
        static_cast<void>(user_data_folder());
        static_cast<void>(documents_folder());

        if (!details::common_controls_accepted(comctl32_version(), details::running_on_wine()))
            throw std::logic_error("logic error");

        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                           ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
        ::InitCommonControlsEx(&classes);
    } catch (const std::exception&) {
        initialization_failed();
    }

    details::set_application_id(details::application_id_from(module_version_info(), module_path()));

    // Named after the id just fixed; from here on this process is counted.
    static_cast<void>(details::instance_semaphore());

    _set_com_error_handler(details::throw_com_error);
}

} // namespace

void initialize_application() {
    static INIT_ONCE guard = INIT_ONCE_STATIC_INIT;
    run_once(guard, run_application_initialization);
}

std::uint32_t comctl32_version() {
    constexpr wchar_t name[] = L"Comctl32.dll";
    HMODULE module = ::GetModuleHandleW(name);
    // Only a module loaded here is freed again; one the process had stays.
    unique_module loaded_here;
    if (!module) {
        loaded_here.reset(load_system_library(name));
        module = loaded_here.get();
    }
    if (!module)
        return 0;

    const FARPROC found = ::GetProcAddress(module, "DllGetVersion");
    if (!found)
        return 0;
    const auto get_version = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(found));
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    if (FAILED(get_version(&info)))
        return 0;
    return (info.dwMajorVersion & 0xFFFF) << 16 | (info.dwMinorVersion & 0xFFFF);
}

bool details::running_on_wine() noexcept {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

bool details::common_controls_accepted(std::uint32_t version, bool on_wine) noexcept {
    return version >= 0x60000 || (on_wine && version >= 0x50000);
}

std::wstring details::application_id_from(const version_info& block, const std::filesystem::path& program) {
    if (std::wstring id = block.string_value(L"ApplicationId"); !id.empty())
        return id;
    if (std::wstring product = block.product_name(); !product.empty())
        return product;
    return program.stem().wstring();
}

} // namespace vd
