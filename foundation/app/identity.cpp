#include "foundation/app/identity.hpp"

#include <filesystem>
#include <system_error>

#include "foundation/errors/error.hpp"
#include "foundation/system/registry.hpp"

namespace vd {

namespace {

std::wstring& application_id_value() {
    static std::wstring id;
    return id;
}

} // namespace

const std::wstring& application_id() { return application_id_value(); }

void details::set_application_id(std::wstring id) { application_id_value() = std::move(id); }

std::wstring product_display_name(std::uint32_t code) {
    switch (code) {
    case 0x308:
        return L"Stelvane 8";
    default:
        assertion_failed();
    }
}

std::wstring installed_app_path(std::uint32_t code) {
    try {
        const reg_key maker = reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel");
        if (!maker)
            return {};
        std::wstring path;
        if (!maker.get_string(product_display_name(code) + L" Path", path))
            return {};
        // A program removed by hand leaves its value behind: only a path that exists counts.
        // A name with a NUL in it, or one without a drive and folder of its own, would find
        // some other file: the part before the NUL, or one beside wherever the installer runs.
        std::error_code ignored;
        if (path.empty() || path.find(L'\0') != std::wstring::npos || !std::filesystem::path(path).is_absolute() ||
            !std::filesystem::exists(path, ignored))
            return {};
        return path;
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace vd
