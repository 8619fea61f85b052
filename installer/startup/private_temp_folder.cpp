#include "installer/startup/private_temp_folder.hpp"

#include "foundation/app/initialization.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/environment.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/security.hpp"
#include "installer/journal/held_files.hpp"
#include "installer/payload/linked_folders.hpp"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <windows.h>

namespace fs = std::filesystem;

namespace {

void create_admin_only_folder(const fs::path& path) {
    try {
        vd::admin_only_security security;
        if (!::CreateDirectoryW(path.c_str(), security.attributes()))
            vd::throw_system_error();
    } catch (long hr) {
        vd::throw_system_error(static_cast<DWORD>(hr));
    }
}

bool is_reparse_point(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &information, sizeof information))
        vd::throw_system_error();
    return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool owned_by_administrators(HANDLE folder) {
    try {
        if (vd::is_owner(folder, vd::make_sid(vd::well_known_sid::administrators).get()))
            return true;
        // Wine keeps no owner that a program asks for: it shows a file's Unix owner, as the
        // token's user for the account that runs Wine and as Anonymous Logon for any other. That
        // user, a member of Administrators in every Wine process, owns every folder made here.
        return vd::details::running_on_wine() &&
               vd::is_owner(folder, vd::make_sid(vd::well_known_sid::token_user).get());
    } catch (long hr) {
        vd::throw_system_error(static_cast<DWORD>(hr));
    }
}

// The folder that the handle holds is the one made at intended: reached through no link, itself
// none, and owned by Administrators, which no user's process can make it. Its path, as checked.
fs::path checked_path(HANDLE folder, const fs::path& intended) {
    fs::path path = vd::final_path(folder);
    if (is_reparse_point(folder) || !vd::same_path_text(path, intended))
        vd::throw_system_error(reparse_point_encountered);
    if (!owned_by_administrators(folder))
        vd::throw_system_error(ERROR_INVALID_OWNER);
    return path;
}

} // namespace

fs::path system_temp_folder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = ::GetSystemWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
        if (length == 0)
            vd::throw_system_error();
        const bool whole = length < folder.size();
        folder.resize(length);
        if (whole)
            return fs::path(folder) / L"Temp";
    }
}

private_temp_folder::private_temp_folder(const fs::path& parent)
    : saved_tmp_(vd::environment_value(L"TMP")), saved_temp_(vd::environment_value(L"TEMP")) {
    const auto id = boost::uuids::to_wstring(boost::uuids::random_generator()());
    const fs::path intended = parent / (L"vandrel_setup_{" + id + L"}");
    create_admin_only_folder(intended);
    // The one moment the folder is reached by its path: everything after goes through the handle.
    pin_.reset(::CreateFileW(intended.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!pin_) {
        const DWORD error = ::GetLastError();
        ::RemoveDirectoryW(intended.c_str());
        vd::throw_system_error(error);
    }
    try {
        path_ = checked_path(pin_.get(), intended);
        if (!vd::set_environment_value(L"TMP", path_.wstring()) || !vd::set_environment_value(L"TEMP", path_.wstring()))
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
    vd::set_environment_value(L"TMP", saved_tmp_);
    vd::set_environment_value(L"TEMP", saved_temp_);
    // A folder with something left in it refuses, and stays: then it goes at the next restart,
    // once the files that other programs held have gone (what else is left keeps it; only
    // administrators can have put anything in it, so its path can be handed to the restart).
    if (pin_ && !dispose_held(pin_.get()) && !path_.empty())
        delete_at_restart(path_);
    pin_.reset();
}
