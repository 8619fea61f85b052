// Named kernel objects shared between processes: the mutex that keeps a second installer out,
// and the semaphore in which every running process of one application id holds one unit, so
// that any of them can tell how many are running.
//
// "Global\" objects carry a DACL that opens them to Everyone, so that processes of different
// users (and of an elevated installer) meet in one object.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

namespace vd {

// The installer mutex's name for an application id: the id followed by
// ".{5ead623c-dfcd-474d-8e3c-e6978cac039e}". Global only through named_mutex's global flag.
std::wstring instance_mutex_name(std::wstring name);

// CreateMutexW / CreateSemaphoreW of "Global\" + name, open to Everyone. The last error is the
// creation's own (ERROR_ALREADY_EXISTS tells that the object was there); when the access list
// cannot be built the result is null with ERROR_CAN_NOT_COMPLETE.
HANDLE create_global_mutex(BOOL initial_owner, const wchar_t* name);
HANDLE create_global_semaphore(LONG initial, LONG maximum, const wchar_t* name);

// A named mutex and whether this holder owns it. A failed creation leaves an empty holder that
// never locks; nothing is thrown.
class named_mutex {
public:
    // With initial_owner on a mutex that already exists, waits until this thread owns it (or it
    // was abandoned by a process that died holding it).
    named_mutex(const wchar_t* name, bool initial_owner, bool global);
    named_mutex(const named_mutex&) = delete;
    named_mutex& operator=(const named_mutex&) = delete;
    // Releases the mutex when owned, then closes it.
    ~named_mutex();

    // Takes the mutex without waiting; an abandoned mutex counts as taken.
    bool try_lock();
    // Gives the mutex up while the holder lives on; try_lock takes it again.
    void unlock();

    HANDLE handle() const noexcept { return handle_.get(); }
    bool owned() const noexcept { return owned_; }

private:
    unique_handle handle_;
    bool owned_ = false;
};

// A semaphore and the units this process added to its count (positive) or took from it
// (negative) and still has to undo; the destructor undoes them and closes the handle.
class named_semaphore {
public:
    named_semaphore(unique_handle handle, std::int32_t units) noexcept
        : handle_(std::move(handle)), units_(units) {}
    named_semaphore(const named_semaphore&) = delete;
    named_semaphore& operator=(const named_semaphore&) = delete;
    ~named_semaphore();

    HANDLE handle() const noexcept { return handle_.get(); }
    std::int32_t units() const noexcept { return units_; }

private:
    unique_handle handle_;
    std::int32_t units_;
};

namespace details {

// This process's unit in "Global\" + application id + ".{a3526b56-ca7c-4e16-8a26-da7758a378fd}",
// built on first use with the application id of that moment and given back at process exit.
named_semaphore& instance_semaphore();

} // namespace details

// The processes of this application id that hold their unit, this one included; 0 when the
// semaphore could not be had. A process killed without its exit destructors stays counted
// until every handle to the semaphore is closed.
LONG running_instance_count();

} // namespace vd
