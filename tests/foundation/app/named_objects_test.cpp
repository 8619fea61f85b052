#include "foundation/app/named_objects.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <sddl.h>

#include "foundation/app/identity.hpp"
#include "foundation/system/security.hpp"

namespace {

std::wstring unique_name(const wchar_t* what) {
    static int serial = 0;
    return L"VdNamedObjectsTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + what + L"-" +
           std::to_wstring(++serial);
}

// The instance semaphore is named once per process from the id of that moment.
const std::wstring& test_application_id() {
    if (vd::application_id().empty())
        vd::details::set_application_id(unique_name(L"app"));
    return vd::application_id();
}

// The helper program, built beside this one.
std::filesystem::path helper_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    while (::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())) == buffer.size())
        buffer.resize(buffer.size() * 2);
    return std::filesystem::path(buffer.data()).parent_path() / NAMED_OBJECTS_HELPER;
}

// One run of the helper; killed when the test leaves it running.
class helper_process {
public:
    explicit helper_process(const std::wstring& arguments) {
        std::wstring command = L"\"" + helper_path().wstring() + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &started)) {
            process_.reset(started.hProcess);
            thread_.reset(started.hThread);
        }
    }
    helper_process(const helper_process&) = delete;
    helper_process& operator=(const helper_process&) = delete;
    ~helper_process() {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
            kill();
    }

    explicit operator bool() const noexcept { return static_cast<bool>(process_); }

    DWORD exit_code() {
        ::WaitForSingleObject(process_.get(), INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    // Ends the process without its exit destructors.
    void kill() {
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), INFINITE);
    }

    HANDLE get() const noexcept { return process_.get(); }

private:
    vd::unique_handle process_;
    vd::unique_handle thread_;
};

// The two events of a helper that waits: it sets ready, the test sets quit.
class helper_events {
public:
    helper_events()
        : ready_name_(unique_name(L"ready")), quit_name_(unique_name(L"quit")),
          ready_(::CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str())),
          quit_(::CreateEventW(nullptr, TRUE, FALSE, quit_name_.c_str())) {}

    std::wstring arguments() const { return ready_name_ + L" " + quit_name_; }

    // False when the helper ended before it was ready.
    bool wait_until_ready(const helper_process& helper) const {
        const HANDLE either[] = {ready_.get(), helper.get()};
        return ::WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
    }

    void quit() const { ::SetEvent(quit_.get()); }

private:
    std::wstring ready_name_;
    std::wstring quit_name_;
    vd::unique_handle ready_;
    vd::unique_handle quit_;
};

// Whether the calling thread really owns the mutex its holder claims: a recursive acquisition
// succeeds at once, where a mutex held elsewhere times out and an abandoned one says so.
bool held_by_this_thread(HANDLE mutex) {
    if (::WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0)
        return false;
    ::ReleaseMutex(mutex);
    return true;
}

} // namespace

TEST(named_objects, every_process_of_the_application_is_counted_while_it_runs) {
    const std::wstring& id = test_application_id();
    // Earlier tests of this process may have left a killed helper's unit behind.
    const LONG alone = vd::running_instance_count();
    ASSERT_GE(alone, 1) << "this process counts itself";

    {
        helper_events events;
        helper_process other(L"hold " + id + L" " + events.arguments());
        ASSERT_TRUE(other) << ::GetLastError();
        ASSERT_TRUE(events.wait_until_ready(other));
        EXPECT_EQ(vd::running_instance_count(), alone + 1);
        events.quit();
        EXPECT_EQ(other.exit_code(), static_cast<DWORD>(alone + 1)) << "the other process saw both";
        EXPECT_EQ(vd::running_instance_count(), alone) << "its unit went with its exit";
    }
    {
        // A process killed outright keeps its unit while this process holds the semaphore open.
        helper_events events;
        helper_process other(L"hold " + id + L" " + events.arguments());
        ASSERT_TRUE(events.wait_until_ready(other));
        other.kill();
        EXPECT_EQ(vd::running_instance_count(), alone + 1);
    }
    {
        // With no other handle left, the killed process's semaphore went with it.
        const std::wstring other_id = unique_name(L"other-app");
        helper_events events;
        helper_process killed(L"hold " + other_id + L" " + events.arguments());
        ASSERT_TRUE(events.wait_until_ready(killed));
        killed.kill();
        helper_process counter(L"count " + other_id);
        EXPECT_EQ(counter.exit_code(), 1u);
    }
}

TEST(named_objects, mutex_held_released_and_abandoned_by_another_process) {
    const std::wstring name = unique_name(L"mutex");
    vd::named_mutex mine(name.c_str(), false, true);
    ASSERT_NE(mine.handle(), nullptr) << ::GetLastError();

    bool waiter_owned = false;
    {
        helper_events events;
        // Declared before the helper, so that a failing test kills the helper (abandoning the
        // mutex) before it waits for this thread.
        std::jthread waiter;
        helper_process holder(L"own " + name + L" " + events.arguments());
        ASSERT_TRUE(events.wait_until_ready(holder));

        EXPECT_FALSE(mine.try_lock());
        EXPECT_FALSE(mine.owned());
        waiter = std::jthread([&] {
            vd::named_mutex waiting(name.c_str(), true, true);
            waiter_owned = waiting.owned() && held_by_this_thread(waiting.handle());
        });
        events.quit();
        EXPECT_EQ(holder.exit_code(), 1u) << "the helper owned the mutex";
        waiter.join();
    }
    EXPECT_TRUE(waiter_owned) << "the waiting constructor took the mutex once it was released";
    EXPECT_TRUE(mine.try_lock()) << "the waiting thread released it when its holder went";
    mine.unlock();

    {
        helper_events events;
        helper_process holder(L"own " + name + L" " + events.arguments());
        ASSERT_TRUE(events.wait_until_ready(holder));
        holder.kill();
    }
    vd::named_mutex after_death(name.c_str(), true, true);
    EXPECT_TRUE(after_death.owned() && held_by_this_thread(after_death.handle()))
        << "an abandoned mutex is taken at once";
}

namespace {

// The access list of a kernel object, read with the imported functions.
bool only_everyone_with(HANDLE object, ACCESS_MASK mask) {
    DWORD size = 0;
    ::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (size == 0 || !::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor.data(), size, &size) ||
        !::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || !present || !dacl ||
        dacl->AceCount != 1)
        return false;
    void* entry = nullptr;
    ::GetAce(dacl, 0, &entry);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(&allowed->SidStart, &text);
    const vd::unique_local text_holder{text};
    return allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && allowed->Mask == mask && text &&
           std::wstring(text) == L"S-1-1-0";
}

// Plays a system whose advapi32 cannot be loaded; the real binding comes back at the end.
struct advapi32_missing {
    advapi32_missing() { vd::advapi32::rebind({[]() -> HMODULE { return nullptr; }, nullptr}); }
    ~advapi32_missing() { vd::advapi32::rebind({}); }
};

} // namespace

TEST(named_objects, global_objects_are_open_to_everyone) {
    const std::wstring mutex_name = unique_name(L"open-mutex");
    const vd::unique_handle mutex{vd::create_global_mutex(FALSE, mutex_name.c_str())};
    ASSERT_TRUE(mutex) << ::GetLastError();
    EXPECT_TRUE(only_everyone_with(mutex.get(), MUTEX_ALL_ACCESS));
    const vd::unique_handle same_mutex{vd::create_global_mutex(FALSE, mutex_name.c_str())};
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    const vd::unique_handle by_name{::OpenMutexW(SYNCHRONIZE, FALSE, (L"Global\\" + mutex_name).c_str())};
    EXPECT_TRUE(by_name);

    const std::wstring semaphore_name = unique_name(L"open-semaphore");
    const vd::unique_handle semaphore{vd::create_global_semaphore(0, 10, semaphore_name.c_str())};
    ASSERT_TRUE(semaphore) << ::GetLastError();
    EXPECT_TRUE(only_everyone_with(semaphore.get(), SEMAPHORE_ALL_ACCESS));

    const advapi32_missing missing;
    const std::wstring unsecured = unique_name(L"unsecured");
    EXPECT_EQ(vd::create_global_mutex(FALSE, unsecured.c_str()), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CAN_NOT_COMPLETE));
    EXPECT_EQ(vd::create_global_semaphore(0, 1, unsecured.c_str()), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CAN_NOT_COMPLETE));
    vd::named_mutex empty(unsecured.c_str(), true, true);
    EXPECT_FALSE(empty.owned());
    EXPECT_FALSE(empty.try_lock());
}

TEST(named_objects, a_semaphore_holder_undoes_its_units) {
    struct case_row {
        LONG count;
        std::int32_t units;
        LONG count_after;
    };
    const case_row rows[] = {
        {5, 3, 2},  // added units are taken back
        {5, -2, 7}, // taken units are given back
        {2, 4, 2},  // fewer units left than added: the count stays as it was
        {3, 0, 3},
    };
    for (const auto& row : rows) {
        const vd::unique_handle semaphore{::CreateSemaphoreW(nullptr, row.count, 100, nullptr)};
        ASSERT_TRUE(semaphore);
        HANDLE copy = nullptr;
        ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), semaphore.get(), ::GetCurrentProcess(), &copy, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS));
        { vd::named_semaphore holder(vd::unique_handle{copy}, row.units); }
        LONG count = -1;
        ::ReleaseSemaphore(semaphore.get(), 1, &count);
        EXPECT_EQ(count, row.count_after) << "count " << row.count << ", units " << row.units;
    }
}
