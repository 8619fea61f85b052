// The installer's own folder inside the system's temporary folder. Every temporary file that
// the installer trusts later lies in it: the work folder with the DirectX set-up that it loads
// and runs, the journal's backups that a rollback moves back into the installation, and the
// saved Uninstall key that a rollback restores. The user's temporary folder (TMP and TEMP) is
// the user's to name and to fill with links, so it is never used; in the system's, any user may
// add entries but none may rename or delete another's, and this folder only administrators and
// the system may open. While it is held it is the process's temporary folder (TMP and TEMP), so
// the work folder, the backups and the programs the installer starts all land in it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/system/unique_any.hpp"

// "Temp" in the system's Windows folder (the shared one, not a session's own). Throws
// std::system_error.
std::filesystem::path system_temp_folder();

class private_temp_folder {
public:
    // Creates a new folder "vandrel_setup_{" + random UUID + "}" in parent with
    // vd::admin_only_security, checks through the handle held open that it is the folder made
    // (at the path intended, no reparse point, owned by Administrators) and makes that path the
    // temporary folder. Only tests name another parent. Never takes over a folder that exists.
    // Throws std::system_error (reparse_point_encountered or ERROR_INVALID_OWNER for a
    // folder that fails the check) and leaves nothing behind.
    explicit private_temp_folder(const std::filesystem::path& parent = system_temp_folder());
    // TMP and TEMP as they were; the folder goes when nothing is left in it, as the work
    // folder does, else at the next restart once it is empty (a backup that another program
    // still has loaded goes then too).
    ~private_temp_folder();
    private_temp_folder(const private_temp_folder&) = delete;
    private_temp_folder& operator=(const private_temp_folder&) = delete;

    // The checked path, as the system gives it for the folder held.
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    void release() noexcept;

    std::filesystem::path path_;
    // Open without delete sharing: no one else can move this folder away or put another in its
    // place while it is held. Once held, the folder is removed through this handle, not by its
    // path.
    vd::unique_file pin_;
    std::optional<std::wstring> saved_tmp_;
    std::optional<std::wstring> saved_temp_;
};
