// The library's own start-up, run once per process before the program entry: the exception
// translator, the maker's data folders, the common controls 6, the application id, this
// process's place among the running instances and the COM support library's error handler.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <windows.h>

#include "foundation/language/version_info.hpp"

namespace vd {

// Runs body the first time it is called for guard and returns at once on every later call;
// concurrent callers wait until the first run is over. An exception that leaves body leaves
// the guard unrun, so that a later call tries again, and goes on to the caller. The guard's own
// calls cannot fail on a valid guard: if they do, nothing can be trusted and the process aborts.
template <class Body>
void run_once(INIT_ONCE& guard, Body&& body) {
    BOOL pending = FALSE;
    if (!::InitOnceBeginInitialize(&guard, 0, &pending, nullptr))
        std::abort();
    if (!pending)
        return;
    try {
        body();
    } catch (...) {
        if (!::InitOnceComplete(&guard, INIT_ONCE_INIT_FAILED, nullptr))
            std::abort();
        throw;
    }
    if (!::InitOnceComplete(&guard, 0, nullptr))
        std::abort();
}

// The application initialisation; only its first call in a process does anything. When the
// data folders cannot be found or the common controls are older than 6.0 it shows
// "Initialization Error" and ends the process with exit code -11.
void initialize_application();

// (major << 16) | minor of the comctl32 that this process has loaded or would load; 0 when it
// cannot be asked.
std::uint32_t comctl32_version();

namespace details {

// Whether the process runs on Wine (its ntdll exports wine_get_version).
bool running_on_wine() noexcept;

// Whether the common controls that report version are good enough. Windows needs 6.0. Wine's
// comctl32 has the controls of 6.0, task dialogs included, but its DllGetVersion answers 5.81,
// even for the side-by-side 6.0 copy that the manifest loads; there a 5.x is accepted.
bool common_controls_accepted(std::uint32_t version, bool on_wine) noexcept;

// The application id that a version block gives the program at path: its "ApplicationId",
// else its "ProductName", else the program file's stem.
std::wstring application_id_from(const version_info& block, const std::filesystem::path& program);

} // namespace details

} // namespace vd
