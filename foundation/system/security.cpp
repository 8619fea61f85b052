#include "foundation/system/security.hpp"

#include "foundation/system/library.hpp"

#include <array>
#include <atomic>
#include <cstddef>

#include <aclapi.h>
#include <sddl.h>

namespace vd {

namespace advapi32 {

namespace {

// One cache slot per function we call; the names are the library's exports.
enum entry : std::size_t {
    OpenProcessToken_entry,
    OpenThreadToken_entry,
    GetTokenInformation_entry,
    AllocateAndInitializeSid_entry,
    IsValidSid_entry,
    GetLengthSid_entry,
    EqualSid_entry,
    FreeSid_entry,
    CopySid_entry,
    AddAccessAllowedAce_entry,
    AddAccessAllowedAceEx_entry,
    AddAce_entry,
    InitializeAcl_entry,
    GetAce_entry,
    GetAclInformation_entry,
    GetSecurityDescriptorDacl_entry,
    GetSecurityDescriptorControl_entry,
    SetSecurityDescriptorControl_entry,
    InitializeSecurityDescriptor_entry,
    SetSecurityDescriptorDacl_entry,
    SetSecurityDescriptorGroup_entry,
    SetSecurityDescriptorOwner_entry,
    IsValidSecurityDescriptor_entry,
    AccessCheck_entry,
    ImpersonateSelf_entry,
    RevertToSelf_entry,
    CheckTokenMembership_entry,
    LookupPrivilegeValueW_entry,
    AdjustTokenPrivileges_entry,
    GetFileSecurityW_entry,
    SetFileSecurityW_entry,
    ConvertSidToStringSidW_entry,
    GetSecurityInfo_entry,
    SetSecurityInfo_entry,
    entry_count
};

constexpr std::array<const char*, entry_count> export_names = {
    "OpenProcessToken",
    "OpenThreadToken",
    "GetTokenInformation",
    "AllocateAndInitializeSid",
    "IsValidSid",
    "GetLengthSid",
    "EqualSid",
    "FreeSid",
    "CopySid",
    "AddAccessAllowedAce",
    "AddAccessAllowedAceEx",
    "AddAce",
    "InitializeAcl",
    "GetAce",
    "GetAclInformation",
    "GetSecurityDescriptorDacl",
    "GetSecurityDescriptorControl",
    "SetSecurityDescriptorControl",
    "InitializeSecurityDescriptor",
    "SetSecurityDescriptorDacl",
    "SetSecurityDescriptorGroup",
    "SetSecurityDescriptorOwner",
    "IsValidSecurityDescriptor",
    "AccessCheck",
    "ImpersonateSelf",
    "RevertToSelf",
    "CheckTokenMembership",
    "LookupPrivilegeValueW",
    "AdjustTokenPrivileges",
    "GetFileSecurityW",
    "SetFileSecurityW",
    "ConvertSidToStringSidW",
    "GetSecurityInfo",
    "SetSecurityInfo",
};

HMODULE system_find_module() {
    // The program imports advapi32, so it is there; were it not, only the system's own copy.
    HMODULE module = ::GetModuleHandleW(L"advapi32.dll");
    return module ? module : load_system_library(L"advapi32.dll");
}

FARPROC system_find_export(HMODULE module, const char* name) {
    return ::GetProcAddress(module, name);
}

// Racing threads store the same values; atomics only keep that race defined.
struct binding_state {
    std::atomic<HMODULE (*)()> find_module{system_find_module};
    std::atomic<FARPROC (*)(HMODULE, const char*)> find_export{system_find_export};
    std::atomic<HMODULE> module{nullptr};
    std::array<std::atomic<FARPROC>, entry_count> entries{};
};

binding_state& state() {
    static binding_state instance;
    return instance;
}

[[noreturn]] void throw_hresult(HRESULT value) {
    throw static_cast<long>(value);
}

[[noreturn]] void throw_error(DWORD error) {
    throw_hresult(HRESULT_FROM_WIN32(error));
}

template <class Function>
Function* bind(entry slot) {
    auto& binding = state();
    FARPROC found = binding.entries[slot].load(std::memory_order_relaxed);
    if (!found) {
        HMODULE module = binding.module.load(std::memory_order_relaxed);
        if (!module) {
            module = binding.find_module.load()();
            binding.module.store(module, std::memory_order_relaxed);
        }
        if (!module)
            throw_hresult(E_UNEXPECTED);
        found = binding.find_export.load()(module, export_names[slot]);
        binding.entries[slot].store(found, std::memory_order_relaxed);
        if (!found)
            throw_hresult(E_NOTIMPL);
    }
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(found));
}

// decltype only names the system's declaration: nothing is imported.
#define VD_BOUND(name) bind<decltype(::name)>(name##_entry)

void check_sid(PSID sid) {
    if (!sid || !VD_BOUND(IsValidSid)(sid))
        throw_hresult(E_INVALIDARG);
}

} // namespace

unique_handle OpenProcessToken(HANDLE process, DWORD desired_access) {
    auto function = VD_BOUND(OpenProcessToken);
    HANDLE token = nullptr;
    if (!function(process, desired_access, &token))
        throw_error(::GetLastError());
    return unique_handle(token);
}

unique_handle OpenThreadToken(HANDLE thread, bool open_as_self) {
    auto function = VD_BOUND(OpenThreadToken);
    HANDLE token = nullptr;
    if (!function(thread, TOKEN_QUERY, open_as_self, &token)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_NO_TOKEN)
            return OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY);
        throw_error(error);
    }
    return unique_handle(token);
}

void GetTokenInformation(HANDLE token, void* buffer, DWORD size, DWORD* needed) {
    auto function = VD_BOUND(GetTokenInformation);
    if (!function(token, TokenUser, buffer, size, needed)) {
        const DWORD error = ::GetLastError();
        if (!(error == ERROR_INSUFFICIENT_BUFFER && !buffer))
            throw_error(error);
    }
}

sid_holder AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub_authority0,
                                    DWORD sub_authority1) {
    auto function = VD_BOUND(AllocateAndInitializeSid);
    PSID sid = nullptr;
    if (!function(&authority, count, sub_authority0, sub_authority1, 0, 0, 0, 0, 0, 0, &sid))
        throw_error(::GetLastError());
    return sid_holder(sid, sid_kind::allocated);
}

DWORD GetLengthSid(PSID sid) {
    auto function = VD_BOUND(GetLengthSid);
    check_sid(sid);
    return function(sid);
}

bool EqualSid(PSID first, PSID second) {
    auto function = VD_BOUND(EqualSid);
    check_sid(first);
    check_sid(second);
    return function(first, second) != FALSE;
}

void FreeSid(PSID sid) noexcept {
    try {
        VD_BOUND(FreeSid)(sid);
    } catch (long) {
        // Without the function the SID cannot be freed; leaking it is all that is left.
    }
}

void CopySid(DWORD length, PSID destination, PSID source) {
    if (!VD_BOUND(CopySid)(length, destination, source))
        throw_error(::GetLastError());
}

void AddAccessAllowedAce(PACL acl, DWORD mask, PSID sid) {
    if (!VD_BOUND(AddAccessAllowedAce)(acl, ACL_REVISION, mask, sid))
        throw_error(::GetLastError());
}

void AddAccessAllowedAceEx(PACL acl, DWORD flags, DWORD mask, PSID sid) {
    if (flags == 0)
        return AddAccessAllowedAce(acl, mask, sid);
    decltype(::AddAccessAllowedAceEx)* function = nullptr;
    try {
        function = VD_BOUND(AddAccessAllowedAceEx);
    } catch (long value) {
        if (value != E_NOTIMPL)
            throw;
        // Systems before Windows 2000 lack the Ex form: the entry goes in without inheritance.
        return AddAccessAllowedAce(acl, mask, sid);
    }
    if (!function(acl, ACL_REVISION, flags, mask, sid))
        throw_error(::GetLastError());
}

void AddAce(PACL acl, void* entry, DWORD size) {
    if (!VD_BOUND(AddAce)(acl, ACL_REVISION, MAXDWORD, entry, size))
        throw_error(::GetLastError());
}

void InitializeAcl(PACL acl, DWORD size) {
    if (!VD_BOUND(InitializeAcl)(acl, size, ACL_REVISION))
        throw_error(::GetLastError());
}

void* GetAce(PACL acl, DWORD index) {
    void* found = nullptr;
    if (!VD_BOUND(GetAce)(acl, index, &found))
        throw_error(::GetLastError());
    return found;
}

void GetAclInformation(PACL acl, void* information, DWORD size, ACL_INFORMATION_CLASS information_class) {
    if (!VD_BOUND(GetAclInformation)(acl, information, size, information_class))
        throw_error(::GetLastError());
}

void GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl, BOOL* defaulted) {
    if (!VD_BOUND(GetSecurityDescriptorDacl)(descriptor, present, dacl, defaulted))
        throw_error(::GetLastError());
}

void GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL* control,
                                  DWORD* revision) {
    if (!VD_BOUND(GetSecurityDescriptorControl)(descriptor, control, revision))
        throw_error(::GetLastError());
}

void SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                  SECURITY_DESCRIPTOR_CONTROL bits) {
    if (!VD_BOUND(SetSecurityDescriptorControl)(descriptor, mask, bits))
        throw_error(::GetLastError());
}

void InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (!VD_BOUND(InitializeSecurityDescriptor)(descriptor, SECURITY_DESCRIPTOR_REVISION))
        throw_error(::GetLastError());
}

void SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, PACL dacl) {
    if (!VD_BOUND(SetSecurityDescriptorDacl)(descriptor, TRUE, dacl, FALSE))
        throw_error(::GetLastError());
}

void SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID group) {
    if (!VD_BOUND(SetSecurityDescriptorGroup)(descriptor, group, FALSE))
        throw_error(::GetLastError());
}

void SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner) {
    if (!VD_BOUND(SetSecurityDescriptorOwner)(descriptor, owner, FALSE))
        throw_error(::GetLastError());
}

bool IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    return VD_BOUND(IsValidSecurityDescriptor)(descriptor) != FALSE;
}

void AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE token, GENERIC_MAPPING* mapping,
                 PRIVILEGE_SET* privileges, DWORD* privileges_length, DWORD* granted, BOOL* status) {
    if (!VD_BOUND(AccessCheck)(descriptor, token, 1, mapping, privileges, privileges_length, granted, status))
        throw_error(::GetLastError());
}

void ImpersonateSelf() {
    if (!VD_BOUND(ImpersonateSelf)(SecurityImpersonation))
        throw_error(::GetLastError());
}

BOOL RevertToSelf() noexcept {
    try {
        return VD_BOUND(RevertToSelf)();
    } catch (long) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
}

bool CheckTokenMembership(HANDLE token, PSID sid) {
    BOOL member = FALSE;
    if (!VD_BOUND(CheckTokenMembership)(token, sid, &member))
        throw_error(::GetLastError());
    return member != FALSE;
}

LUID LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name) {
    LUID value{};
    if (!VD_BOUND(LookupPrivilegeValueW)(system, name, &value))
        throw_error(::GetLastError());
    return value;
}

void AdjustTokenPrivileges(HANDLE token, bool disable_all, TOKEN_PRIVILEGES* state, DWORD length,
                           TOKEN_PRIVILEGES* previous, DWORD* previous_length) {
    auto function = VD_BOUND(AdjustTokenPrivileges);
    // Success is told by the last error as well, so none may be left over from before.
    ::SetLastError(ERROR_SUCCESS);
    const BOOL done = function(token, disable_all, state, length, previous, previous_length);
    const DWORD error = ::GetLastError();
    if (!done || error != ERROR_SUCCESS)
        throw_error(error);
}

void GetFileSecurityW(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, DWORD size, DWORD* needed) {
    auto function = VD_BOUND(GetFileSecurityW);
    if (!function(path, DACL_SECURITY_INFORMATION, descriptor, size, needed)) {
        const DWORD error = ::GetLastError();
        if (!(error == ERROR_INSUFFICIENT_BUFFER && !descriptor))
            throw_error(error);
    }
}

void SetFileSecurityW(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor) {
    if (!VD_BOUND(SetFileSecurityW)(path, DACL_SECURITY_INFORMATION, descriptor))
        throw_error(::GetLastError());
}

std::wstring ConvertSidToStringSidW(PSID sid) {
    wchar_t* text = nullptr;
    if (!VD_BOUND(ConvertSidToStringSidW)(sid, &text))
        throw_error(::GetLastError());
    const unique_local owner(text);
    return text;
}

// SE_FILE_OBJECT; owner and dacl point into the descriptor returned.
static unique_local query_security_info(HANDLE object, SECURITY_INFORMATION information, PSID* owner, PACL* dacl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        VD_BOUND(GetSecurityInfo)(object, SE_FILE_OBJECT, information, owner, nullptr, dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS)
        throw_error(status);
    return unique_local(descriptor);
}

unique_local GetSecurityInfo(HANDLE object, PACL* dacl) {
    return query_security_info(object, DACL_SECURITY_INFORMATION, nullptr, dacl);
}

unique_local GetSecurityInfo(HANDLE object, PSID* owner) {
    return query_security_info(object, OWNER_SECURITY_INFORMATION, owner, nullptr);
}

void SetSecurityInfo(HANDLE object, SECURITY_INFORMATION information, PACL dacl) {
    const DWORD status = VD_BOUND(SetSecurityInfo)(object, SE_FILE_OBJECT, information, nullptr, nullptr, dacl, nullptr);
    if (status != ERROR_SUCCESS)
        throw_error(status);
}

#undef VD_BOUND

void rebind(const binder& lookups) noexcept {
    auto& binding = state();
    binding.find_module.store(lookups.find_module ? lookups.find_module : system_find_module);
    binding.find_export.store(lookups.find_export ? lookups.find_export : system_find_export);
    binding.module.store(nullptr);
    for (auto& slot : binding.entries)
        slot.store(nullptr);
}

} // namespace advapi32

namespace {

[[noreturn]] void throw_hresult(HRESULT value) {
    throw static_cast<long>(value);
}

SID_IDENTIFIER_AUTHORITY nt_authority() {
    return SECURITY_NT_AUTHORITY;
}

sid_holder token_user_sid() {
    const unique_handle token = advapi32::OpenThreadToken(::GetCurrentThread(), true);
    DWORD needed = 0;
    advapi32::GetTokenInformation(token.get(), nullptr, 0, &needed);
    const heap_block information = make_zeroed_block(needed);
    advapi32::GetTokenInformation(token.get(), information.get(), needed, &needed);
    const PSID user = static_cast<TOKEN_USER*>(information.get())->User.Sid;
    const DWORD length = advapi32::GetLengthSid(user);
    heap_block copy = make_zeroed_block(length);
    advapi32::CopySid(length, copy.get(), user);
    return sid_holder(copy.release(), sid_kind::heap);
}

// Only these entry types keep their SID right after the mask; in the object types that place
// holds flags and GUIDs, which must not be read as a SID.
bool has_sid_after_mask(const ACE_HEADER& header) {
    switch (header.AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case SYSTEM_AUDIT_ACE_TYPE:
    case SYSTEM_ALARM_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case SYSTEM_AUDIT_CALLBACK_ACE_TYPE:
    case SYSTEM_ALARM_CALLBACK_ACE_TYPE:
        break;
    default:
        return false;
    }
    constexpr std::size_t sid_offset = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    constexpr std::size_t sid_fixed_part = 8; // revision, count, 6-byte authority
    if (header.AceSize < sid_offset + sid_fixed_part)
        return false;
    const auto* sid = reinterpret_cast<const BYTE*>(&header) + sid_offset;
    return sid_offset + sid_fixed_part + 4u * sid[1] <= header.AceSize;
}

bool is_entry_for(const ACE_HEADER& header, PSID sid) {
    if (!has_sid_after_mask(header))
        return false;
    auto* entry_sid = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(&header) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK));
    return advapi32::EqualSid(entry_sid, sid);
}

// Undoes ImpersonateSelf whatever leaves the scope.
class impersonation {
public:
    impersonation() = default;
    impersonation(const impersonation&) = delete;
    impersonation& operator=(const impersonation&) = delete;
    ~impersonation() {
        if (active_)
            advapi32::RevertToSelf();
    }
    void begin() {
        advapi32::ImpersonateSelf();
        active_ = true;
    }

private:
    bool active_ = false;
};

// The administrator test for systems without CheckTokenMembership: an access check against a
// descriptor that grants only Administrators.
bool admin_by_access_check() {
    // Declared in this order so that the impersonation ends before the token is closed.
    unique_handle token;
    impersonation self;
    try {
        self.begin();
        token = advapi32::OpenThreadToken(::GetCurrentThread(), false);
        const sid_holder administrators = make_sid(well_known_sid::administrators);
        const unique_acl acl = make_sid_dacl(administrators.get());
        const security_descriptor descriptor;
        advapi32::SetSecurityDescriptorDacl(descriptor.get(), acl.get());
        advapi32::SetSecurityDescriptorGroup(descriptor.get(), administrators.get());
        advapi32::SetSecurityDescriptorOwner(descriptor.get(), administrators.get());
        if (!advapi32::IsValidSecurityDescriptor(descriptor.get()))
            throw_hresult(E_UNEXPECTED);
        GENERIC_MAPPING mapping{1, 2, 0, 3};
        PRIVILEGE_SET privileges{};
        DWORD privileges_length = sizeof privileges;
        DWORD granted = 0;
        BOOL status = FALSE;
        advapi32::AccessCheck(descriptor.get(), token.get(), &mapping, &privileges, &privileges_length, &granted,
                              &status);
        return status != FALSE;
    } catch (long) {
        return false;
    }
}

} // namespace

heap_block make_zeroed_block(std::size_t size) {
    heap_block block(std::calloc(size ? size : 1, 1));
    if (!block)
        throw_hresult(E_OUTOFMEMORY);
    return block;
}

sid_holder::sid_holder(sid_holder&& other) noexcept
    : sid_(std::exchange(other.sid_, nullptr)), kind_(other.kind_) {}

sid_holder& sid_holder::operator=(sid_holder&& other) noexcept {
    if (this != &other) {
        reset();
        sid_ = std::exchange(other.sid_, nullptr);
        kind_ = other.kind_;
    }
    return *this;
}

void sid_holder::reset() noexcept {
    if (!sid_)
        return;
    if (kind_ == sid_kind::allocated)
        advapi32::FreeSid(sid_);
    else
        std::free(sid_);
    sid_ = nullptr;
}

security_descriptor::security_descriptor() : block_(make_zeroed_block(SECURITY_DESCRIPTOR_MIN_LENGTH)) {
    advapi32::InitializeSecurityDescriptor(block_.get());
}

security_descriptor security_descriptor::of_file(const wchar_t* path) {
    DWORD needed = 0;
    advapi32::GetFileSecurityW(path, nullptr, 0, &needed);
    heap_block block = make_zeroed_block(needed);
    advapi32::GetFileSecurityW(path, block.get(), needed, &needed);
    return security_descriptor(std::move(block));
}

sid_holder make_sid(well_known_sid kind) {
    switch (kind) {
    case well_known_sid::everyone:
        return advapi32::AllocateAndInitializeSid(SECURITY_WORLD_SID_AUTHORITY, 1, SECURITY_WORLD_RID, 0);
    case well_known_sid::administrators:
        return advapi32::AllocateAndInitializeSid(nt_authority(), 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                  DOMAIN_ALIAS_RID_ADMINS);
    case well_known_sid::users:
        return advapi32::AllocateAndInitializeSid(nt_authority(), 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                  DOMAIN_ALIAS_RID_USERS);
    case well_known_sid::token_user:
        return token_user_sid();
    }
    throw_hresult(E_INVALIDARG);
}

namespace {

unique_acl single_entry_dacl(PSID sid, std::uint32_t mask) {
    // The ACL header and the entry's own fields come to 16 bytes; the entry's SID follows.
    const DWORD size = advapi32::GetLengthSid(sid) + sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    unique_acl acl(static_cast<ACL*>(make_zeroed_block(size).release()));
    advapi32::InitializeAcl(acl.get(), size);
    advapi32::AddAccessAllowedAce(acl.get(), mask, sid);
    return acl;
}

} // namespace

unique_acl make_everyone_dacl(std::uint32_t mask) {
    const sid_holder everyone = make_sid(well_known_sid::everyone);
    return single_entry_dacl(everyone.get(), mask);
}

unique_acl make_sid_dacl(PSID sid) {
    return single_entry_dacl(sid, 3);
}

unique_acl make_admin_only_dacl() {
    const sid_holder administrators = make_sid(well_known_sid::administrators);
    const sid_holder system = advapi32::AllocateAndInitializeSid(nt_authority(), 1, SECURITY_LOCAL_SYSTEM_RID, 0);
    constexpr DWORD entry_without_sid = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    const DWORD size = sizeof(ACL) + 2 * entry_without_sid + advapi32::GetLengthSid(administrators.get()) +
                       advapi32::GetLengthSid(system.get());
    unique_acl acl(static_cast<ACL*>(make_zeroed_block(size).release()));
    advapi32::InitializeAcl(acl.get(), size);
    constexpr DWORD inherited_below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    advapi32::AddAccessAllowedAceEx(acl.get(), inherited_below, FILE_ALL_ACCESS, administrators.get());
    advapi32::AddAccessAllowedAceEx(acl.get(), inherited_below, FILE_ALL_ACCESS, system.get());
    return acl;
}

admin_only_security::admin_only_security()
    : owner_(make_sid(well_known_sid::administrators)), dacl_(make_admin_only_dacl()) {
    advapi32::SetSecurityDescriptorOwner(descriptor_.get(), owner_.get());
    advapi32::SetSecurityDescriptorDacl(descriptor_.get(), dacl_.get());
    advapi32::SetSecurityDescriptorControl(descriptor_.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, descriptor_.get(), FALSE};
}

bool is_user_admin() {
    try {
        const sid_holder administrators = make_sid(well_known_sid::administrators);
        // A null token: the calling thread's effective one.
        return advapi32::CheckTokenMembership(nullptr, administrators.get());
    } catch (long) {
    }
    return admin_by_access_check();
}

bool enable_privilege(const wchar_t* name, bool enable) {
    try {
        const unique_handle token =
            advapi32::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
        const LUID privilege = advapi32::LookupPrivilegeValueW(nullptr, name);
        // The first request also tells whether the token holds the privilege at all.
        TOKEN_PRIVILEGES disabled{1, {{privilege, 0}}};
        advapi32::AdjustTokenPrivileges(token.get(), false, &disabled, sizeof disabled, nullptr, nullptr);
        // Built from known values only: a previous state handed back by the system is empty when
        // nothing changed, and its attributes could carry SE_PRIVILEGE_REMOVED.
        TOKEN_PRIVILEGES wanted{1, {{privilege, enable ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0}}};
        advapi32::AdjustTokenPrivileges(token.get(), false, &wanted, sizeof wanted, nullptr, nullptr);
        return true;
    } catch (long) {
        return false;
    }
}

namespace details {

unique_acl dacl_with_users_entry(PACL old_dacl, PSID users, std::uint32_t mask, std::uint32_t inheritance) {
    ACL_SIZE_INFORMATION old_size{0, sizeof(ACL), 0};
    if (old_dacl)
        advapi32::GetAclInformation(old_dacl, &old_size, sizeof old_size, AclSizeInformation);
    // The old entries for Users are never copied, so this is never short.
    const DWORD size = old_size.AclBytesInUse + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + advapi32::GetLengthSid(users);
    unique_acl acl(static_cast<ACL*>(make_zeroed_block(size).release()));
    advapi32::InitializeAcl(acl.get(), size);

    // Explicit entries come before inherited ones; the new entry is explicit.
    DWORD index = 0;
    for (; old_dacl && index < old_size.AceCount; ++index) {
        auto* header = static_cast<ACE_HEADER*>(advapi32::GetAce(old_dacl, index));
        if (header->AceFlags & INHERITED_ACE)
            break;
        if (!is_entry_for(*header, users))
            advapi32::AddAce(acl.get(), header, header->AceSize);
    }
    advapi32::AddAccessAllowedAceEx(acl.get(), inheritance, mask, users);
    for (; old_dacl && index < old_size.AceCount; ++index) {
        auto* header = static_cast<ACE_HEADER*>(advapi32::GetAce(old_dacl, index));
        if (!is_entry_for(*header, users))
            advapi32::AddAce(acl.get(), header, header->AceSize);
    }
    return acl;
}

SECURITY_DESCRIPTOR_CONTROL dacl_mark_of(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    try {
        advapi32::GetSecurityDescriptorControl(descriptor, &control, &revision);
    } catch (long value) {
        if (value != E_NOTIMPL)
            throw;
        return 0;
    }
    // An auto-inherited list stays open to its parent even when it was also protected.
    if (control & SE_DACL_AUTO_INHERITED)
        return SE_DACL_AUTO_INHERITED;
    return control & SE_DACL_PROTECTED;
}

void pass_on_dacl_control(PSECURITY_DESCRIPTOR from, PSECURITY_DESCRIPTOR to) {
    try {
        const SECURITY_DESCRIPTOR_CONTROL mark = dacl_mark_of(from);
        if (mark == SE_DACL_AUTO_INHERITED) {
            constexpr SECURITY_DESCRIPTOR_CONTROL bits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED;
            advapi32::SetSecurityDescriptorControl(to, bits, bits);
        } else if (mark == SE_DACL_PROTECTED) {
            advapi32::SetSecurityDescriptorControl(to, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        }
    } catch (long value) {
        if (value != E_NOTIMPL)
            throw;
    }
}

} // namespace details

bool grant_users_access(const wchar_t* path, std::uint32_t mask, std::uint32_t inheritance) {
    try {
        const sid_holder users = make_sid(well_known_sid::users);
        const security_descriptor old_descriptor = security_descriptor::of_file(path);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL old_dacl = nullptr;
        advapi32::GetSecurityDescriptorDacl(old_descriptor.get(), &present, &old_dacl, &defaulted);
        // A null DACL (everyone may do anything) has no entries to keep.
        const unique_acl dacl =
            details::dacl_with_users_entry(present ? old_dacl : nullptr, users.get(), mask, inheritance);
        const security_descriptor descriptor;
        advapi32::SetSecurityDescriptorDacl(descriptor.get(), dacl.get());
        details::pass_on_dacl_control(old_descriptor.get(), descriptor.get());
        advapi32::SetFileSecurityW(path, descriptor.get());
        return true;
    } catch (long) {
        return false;
    }
}

bool grant_users_access(HANDLE object, std::uint32_t mask, std::uint32_t inheritance) {
    try {
        const sid_holder users = make_sid(well_known_sid::users);
        // A null DACL comes back as a null list, which has no entries to keep.
        PACL old_dacl = nullptr;
        const unique_local old_descriptor = advapi32::GetSecurityInfo(object, &old_dacl);
        const unique_acl dacl = details::dacl_with_users_entry(old_dacl, users.get(), mask, inheritance);
        // SetSecurityInfo takes the list's tie to its parent as flags, not as control bits.
        SECURITY_INFORMATION information = DACL_SECURITY_INFORMATION;
        const SECURITY_DESCRIPTOR_CONTROL mark = details::dacl_mark_of(old_descriptor.get());
        if (mark == SE_DACL_AUTO_INHERITED)
            information |= UNPROTECTED_DACL_SECURITY_INFORMATION;
        else if (mark == SE_DACL_PROTECTED)
            information |= PROTECTED_DACL_SECURITY_INFORMATION;
        advapi32::SetSecurityInfo(object, information, dacl.get());
        return true;
    } catch (long) {
        return false;
    }
}

bool is_owner(HANDLE object, PSID sid) {
    PSID owner = nullptr;
    const unique_local descriptor = advapi32::GetSecurityInfo(object, &owner);
    return owner && advapi32::EqualSid(owner, sid);
}

std::wstring sid_to_string(PSID sid) {
    try {
        return advapi32::ConvertSidToStringSidW(sid);
    } catch (long) {
        return {};
    }
}

std::wstring current_user_sid_string() {
    try {
        const sid_holder user = make_sid(well_known_sid::token_user);
        return advapi32::ConvertSidToStringSidW(user.get());
    } catch (long) {
        return {};
    }
}

} // namespace vd
