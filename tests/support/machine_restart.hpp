// What the system is told to delete at the next restart (the Session Manager's
// PendingFileRenameOperations), read as an outsider reads it, and the restart itself: under Wine,
// wineboot -r in the prefix does what Windows does at boot with that list. It acts on the whole
// prefix: a test that restarts runs with nothing beside it.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace testing_support {

// The paths the next restart deletes (an operation with no new name), in the order it takes them.
std::vector<std::filesystem::path> deleted_at_restart();

// Runs wineboot -r and waits for its end: its exit code, nothing when it did not end.
std::optional<int> restart_machine();

// Takes out of the restart's list, when it goes, every operation on a path below folder: what a
// test handed to the restart, and did not see restarted, would otherwise outlive it.
class restart_list_cleanup {
public:
    explicit restart_list_cleanup(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~restart_list_cleanup();
    restart_list_cleanup(const restart_list_cleanup&) = delete;
    restart_list_cleanup& operator=(const restart_list_cleanup&) = delete;

private:
    std::filesystem::path folder_;
};

} // namespace testing_support
