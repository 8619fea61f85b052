// The points at which an installation over a previous one can fail, and how each is made to
// fail from outside the installer, as the world would: a file held open by another program, a
// file where a folder must be, a full disk, a damaged byte in the payload, a DirectX set-up that
// fails, a registry key gone or broken, a folder where a file must be written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/fault_machine.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/payload_support.hpp"

namespace e2e {

// A file that the installation writes over the previous installation, in the order it
// writes them. Shared files that the previous installation made are skipped, so they are
// none of these.
struct written_file {
    std::size_t record = 0;
    payload_kind kind = payload_kind::ordinary;
    std::wstring name;
    // Empty for a set-up file: its work folder is named anew by every run.
    std::filesystem::path target;
    std::uint64_t size = 0;
    // The previous installation's copy; 0 when there is none.
    std::uint64_t previous_size = 0;
    // On the small disk (with the installation folder and the temporary folder), or on C:.
    bool on_small_disk = false;
    // The first file written into a folder below a base folder: that folder may be a file.
    bool first_in_folder = false;
};

struct installation_plan {
    std::filesystem::path setup;
    std::string stored;
    testing_support::parsed_payload payload;
    std::filesystem::path install_folder;
    std::filesystem::path temporary_folder;
    std::filesystem::path small_disk;
    // The small disk has a size limit, so that it can be filled.
    bool small_disk_limited = false;
    std::vector<written_file> written;
};

// What the installation writes over the previous installation, which must be in place.
installation_plan make_plan(const std::filesystem::path& setup, const std::filesystem::path& install_folder,
                            const std::filesystem::path& temporary_folder, const std::wstring& samples_name);

enum class failure {
    held_without_sharing,  // another program has the file open and shares nothing
    held_for_reading,      // another program reads the file and shares reading only
    folder_is_a_file,      // a file stands where the file's folder must be
    full_disk,             // the disk fills up while the file (or the backup of its old copy) is written
    damaged_byte,          // a byte of the file's content is damaged in the payload
    failing_directx,       // the DirectX set-up reports a failure
    no_uninstall_key,      // the system's Uninstall key is gone
    maker_key_link,        // the maker's key is a registry link that cannot be followed
    registration_log_folder,  // a folder stands where the program writes its registration log
    journal_new_folder,       // a folder stands where the new journal is written
};

enum class later_step { start_menu_link, desktop_link, directx, uninstall_key, program_path_value, registration, journal };

struct fault_point {
    std::string id;       // the test's name
    std::wstring where;   // the file or step, for the report
    failure how;
    std::optional<std::size_t> file;  // into installation_plan::written
    std::optional<later_step> step;
};

std::wstring describe(failure how);

// The status line that the step closes with its status word.
std::wstring step_line(later_step step);

// Every written file in every way it can be made to fail, then every later step.
std::vector<fault_point> every_point(const installation_plan& plan);
// A fixed few of those: every kind of file, every way of failing and every later step at
// least once.
std::vector<fault_point> quick_points(const installation_plan& plan);

// The code text that a failed extraction shows for this way of failing (a pattern).
std::wstring expected_code(failure how);

// Makes one point fail: the world is prepared when it is built (files and folders, a full
// disk, the installer to run); hold() takes the files that stay open, once the state before
// the run has been read; after_start() changes the registry once the installer has read it at
// start-up; release() lets the files go. What the registry lost comes back when it goes;
// files and folders come back with the next restore of the previous installation.
class fault_injection {
public:
    fault_injection(const installation_plan& plan, const fault_point& point);
    ~fault_injection();
    fault_injection(const fault_injection&) = delete;
    fault_injection& operator=(const fault_injection&) = delete;

    const std::filesystem::path& setup() const noexcept { return setup_; }
    void hold();
    void after_start();
    void release() noexcept;

private:
    const installation_plan& plan_;
    const fault_point& point_;
    std::filesystem::path setup_;
    std::filesystem::path variant_;
    std::unique_ptr<disk_filler> filler_;
    vd::unique_file held_;
    bool uninstall_key_moved_ = false;
    bool maker_key_linked_ = false;
};

} // namespace e2e
