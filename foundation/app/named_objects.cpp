#include "foundation/app/named_objects.hpp"

#include "foundation/app/identity.hpp"
#include "foundation/system/security.hpp"

namespace vd {

namespace {

constexpr wchar_t instance_mutex_suffix[] = L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
constexpr wchar_t instance_semaphore_suffix[] = L".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";

// Calls create with attributes that open the object to Everyone for mask.
template <class Create>
HANDLE create_open_to_everyone(std::uint32_t mask, Create create) {
    HANDLE handle = nullptr;
    DWORD error = ERROR_SUCCESS;
    try {
        const unique_acl dacl = make_everyone_dacl(mask);
        const security_descriptor descriptor;
        advapi32::SetSecurityDescriptorDacl(descriptor.get(), dacl.get());
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
        handle = create(&attributes);
        error = ::GetLastError();
    } catch (long) {
        handle = nullptr;
        error = ERROR_CAN_NOT_COMPLETE;
    }
    // Freeing the list and the descriptor may touch the last error; the caller still has to
    // see whether the object existed.
    ::SetLastError(error);
    return handle;
}

bool taken(DWORD wait_result) {
    // WAIT_ABANDONED: a previous owner ended without releasing; the mutex is ours all the same.
    return wait_result == WAIT_OBJECT_0 || wait_result == WAIT_ABANDONED;
}

named_semaphore make_instance_semaphore() {
    const std::wstring name = application_id() + instance_semaphore_suffix;
    unique_handle handle{create_global_semaphore(0, 0x7FFFFFFF, name.c_str())};
    const bool counted = handle && ::ReleaseSemaphore(handle.get(), 1, nullptr);
    return named_semaphore(std::move(handle), counted ? 1 : 0);
}

} // namespace

std::wstring instance_mutex_name(std::wstring name) {
    return std::move(name) + instance_mutex_suffix;
}

HANDLE create_global_mutex(BOOL initial_owner, const wchar_t* name) {
    const std::wstring full = std::wstring(L"Global\\") + name;
    return create_open_to_everyone(MUTEX_ALL_ACCESS, [&](SECURITY_ATTRIBUTES* attributes) {
        return ::CreateMutexW(attributes, initial_owner, full.c_str());
    });
}

HANDLE create_global_semaphore(LONG initial, LONG maximum, const wchar_t* name) {
    const std::wstring full = std::wstring(L"Global\\") + name;
    return create_open_to_everyone(SEMAPHORE_ALL_ACCESS, [&](SECURITY_ATTRIBUTES* attributes) {
        return ::CreateSemaphoreW(attributes, initial, maximum, full.c_str());
    });
}

named_mutex::named_mutex(const wchar_t* name, bool initial_owner, bool global)
    : handle_(global ? create_global_mutex(initial_owner, name) : ::CreateMutexW(nullptr, initial_owner, name)) {
    // An existing mutex is opened, not taken, even when initial ownership was asked for.
    if (handle_ && initial_owner && ::GetLastError() == ERROR_ALREADY_EXISTS)
        owned_ = taken(::WaitForSingleObject(handle_.get(), INFINITE));
    else
        owned_ = handle_ && initial_owner;
}

named_mutex::~named_mutex() {
    if (handle_ && owned_)
        ::ReleaseMutex(handle_.get());
}

bool named_mutex::try_lock() {
    owned_ = taken(::WaitForSingleObject(handle_.get(), 0));
    return owned_;
}

void named_mutex::unlock() {
    if (owned_)
        ::ReleaseMutex(handle_.get());
    owned_ = false;
}

named_semaphore::~named_semaphore() {
    const std::int32_t units = units_;
    if (units >= 1) {
        for (std::int32_t i = 0; i < units; ++i) {
            if (::WaitForSingleObject(handle_.get(), 0) != WAIT_OBJECT_0) {
                // The count ran out before our units did: leave it as it was rather than take
                // units that other processes added.
                if (i > 0)
                    ::ReleaseSemaphore(handle_.get(), i, nullptr);
                return;
            }
        }
        units_ = 0;
    } else if (units < 0) {
        if (::ReleaseSemaphore(handle_.get(), -units, nullptr))
            units_ = 0;
    }
}

named_semaphore& details::instance_semaphore() {
    static named_semaphore semaphore = make_instance_semaphore();
    return semaphore;
}

LONG running_instance_count() {
    const HANDLE semaphore = details::instance_semaphore().handle();
    LONG previous = 0;
    // The probe's own unit is taken back at once; what the release reports is the count before.
    if (::ReleaseSemaphore(semaphore, 1, &previous))
        ::WaitForSingleObject(semaphore, 0);
    return previous;
}

} // namespace vd
