// The other process of the named-object tests. Modes:
//   count ID                       exits with running_instance_count() under application id ID
//   hold ID READY QUIT             counts itself under ID, sets event READY, waits for event
//                                  QUIT, exits with the count it saw
//   own MUTEX READY QUIT           takes the global mutex MUTEX, sets READY, waits for QUIT,
//                                  exits 1 when it owned the mutex (released on the way out)
// The test ends a "hold" or "own" process either through QUIT (exit destructors run) or by
// killing it (they do not). Any other command line exits with 100.
#include <string_view>

#include <windows.h>

#include "foundation/app/identity.hpp"
#include "foundation/app/named_objects.hpp"
#include "foundation/system/unique_any.hpp"

namespace {

constexpr int usage_error = 100;

int wait_for_quit(const wchar_t* ready_name, const wchar_t* quit_name) {
    const vd::unique_handle ready{::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready_name)};
    const vd::unique_handle quit{::OpenEventW(SYNCHRONIZE, FALSE, quit_name)};
    if (!ready || !quit)
        return usage_error;
    ::SetEvent(ready.get());
    return ::WaitForSingleObject(quit.get(), INFINITE) == WAIT_OBJECT_0 ? 0 : usage_error;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view mode = argc > 1 ? argv[1] : L"";
    if (mode == L"count" && argc == 3) {
        vd::details::set_application_id(argv[2]);
        return vd::running_instance_count();
    }
    if (mode == L"hold" && argc == 5) {
        vd::details::set_application_id(argv[2]);
        const LONG count = vd::running_instance_count();
        return wait_for_quit(argv[3], argv[4]) == 0 ? count : usage_error;
    }
    if (mode == L"own" && argc == 5) {
        vd::named_mutex mutex(argv[2], true, true);
        const int owned = mutex.owned() ? 1 : 0;
        return wait_for_quit(argv[3], argv[4]) == 0 ? owned : usage_error;
    }
    return usage_error;
}
