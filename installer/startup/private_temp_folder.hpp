// The installer's own folder inside the user's temporary folder. Every temporary file that the
// installer trusts later lies in it: the work folder with the DirectX set-up that it loads and
// runs, the journal's backups that a rollback moves back into the installation, and the saved
// Uninstall key that a rollback restores. Any program of the user may delete and replace what
// lies in the temporary folder itself; this folder only administrators and the system may
// open. While it is held it is the process's temporary folder (TMP and TEMP), so the work
// folder, the backups and the programs the installer starts all land in it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/system/unique_any.hpp"

class private_temp_folder {
public:
    // Creates a new folder "vandrel_setup_{" + random UUID + "}" in the temporary folder with
    // vd::admin_only_security and makes it the temporary folder. Never takes over a folder that
    // exists. Throws std::system_error (std::filesystem::filesystem_error when there is no
    // temporary folder) and leaves nothing behind.
    private_temp_folder();
    // TMP and TEMP as they were; the folder goes when nothing is left in it, as the work
    // folder does: a backup that a rollback could not put back stays for the user to find.
    ~private_temp_folder();
    private_temp_folder(const private_temp_folder&) = delete;
    private_temp_folder& operator=(const private_temp_folder&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    void release() noexcept;

    std::filesystem::path path_;
    // Open without delete sharing: the user, who may delete and rename anything in the
    // temporary folder, can neither move this folder away nor put another in its place.
    vd::unique_file pin_;
    std::optional<std::wstring> saved_tmp_;
    std::optional<std::wstring> saved_temp_;
};
