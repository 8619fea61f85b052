#include "installer/startup/private_temp_folder.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/security.hpp"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <windows.h>

namespace fs = std::filesystem;

namespace {

std::optional<std::wstring> environment_value(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

bool set_environment_value(const wchar_t* name, const std::optional<std::wstring>& value) noexcept {
    return ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr) != FALSE;
}

void create_admin_only_folder(const fs::path& path) {
    try {
        vd::admin_only_security security;
        if (!::CreateDirectoryW(path.c_str(), security.attributes()))
            vd::throw_system_error();
    } catch (long hr) {
        vd::throw_system_error(static_cast<DWORD>(hr));
    }
}

} // namespace

private_temp_folder::private_temp_folder()
    : saved_tmp_(environment_value(L"TMP")), saved_temp_(environment_value(L"TEMP")) {
    const auto id = boost::uuids::to_wstring(boost::uuids::random_generator()());
    path_ = fs::temp_directory_path() / (L"vandrel_setup_{" + id + L"}");
    create_admin_only_folder(path_);
    try {
        pin_.reset(::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!pin_)
            vd::throw_system_error();
        if (!set_environment_value(L"TMP", path_.wstring()) || !set_environment_value(L"TEMP", path_.wstring()))
            vd::throw_system_error();
    } catch (...) {
        release();
        throw;
    }
}

private_temp_folder::~private_temp_folder() {
    release();
}

void private_temp_folder::release() noexcept {
    pin_.reset();
    set_environment_value(L"TMP", saved_tmp_);
    set_environment_value(L"TEMP", saved_temp_);
    std::error_code ignored;
    fs::remove(path_, ignored);
}
