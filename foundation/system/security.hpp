// Windows security for the installer: the administrator test, privileges of the process token,
// opening files and folders to BUILTIN\Users, who owns a file or folder, and the access list
// that opens a named kernel object to every account.
//
// None of advapi32's token, SID, ACL and descriptor functions is imported: each is looked up by
// name on first use, so that a system without one of them still starts. Inside this unit a
// failure travels as a plain `long` (an HRESULT); the public operations catch it and answer
// with a plain result, only make_sid, make_sid_dacl, make_everyone_dacl and is_owner let it
// out.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

namespace vd {

namespace details {

struct free_block {
    void operator()(void* block) const noexcept { std::free(block); }
};

} // namespace details

// A zero-filled block of the C heap; ACLs and descriptors live in these.
using heap_block = std::unique_ptr<void, details::free_block>;
using unique_acl = std::unique_ptr<ACL, details::free_block>;

// Throws E_OUTOFMEMORY (as a long) when the block cannot be had.
heap_block make_zeroed_block(std::size_t size);

// How a held SID was made, which decides how it is released.
enum class sid_kind : int {
    allocated = 0, // AllocateAndInitializeSid: released with FreeSid
    heap = 1,      // a heap block of ours: released with free
};

// Owns one SID.
class sid_holder {
public:
    sid_holder() noexcept = default;
    sid_holder(PSID sid, sid_kind kind) noexcept : sid_(sid), kind_(kind) {}
    sid_holder(sid_holder&& other) noexcept;
    sid_holder& operator=(sid_holder&& other) noexcept;
    sid_holder(const sid_holder&) = delete;
    sid_holder& operator=(const sid_holder&) = delete;
    ~sid_holder() { reset(); }

    explicit operator bool() const noexcept { return sid_ != nullptr; }
    PSID get() const noexcept { return sid_; }
    sid_kind kind() const noexcept { return kind_; }
    void reset() noexcept;

private:
    PSID sid_ = nullptr;
    sid_kind kind_ = sid_kind::allocated;
};

// Owns an absolute security descriptor in a heap block.
class security_descriptor {
public:
    // An empty descriptor: no owner, group or DACL. Throws the long on failure.
    security_descriptor();
    // The file's or folder's descriptor with its DACL only. Throws the long on failure.
    static security_descriptor of_file(const wchar_t* path);

    security_descriptor(security_descriptor&&) noexcept = default;
    security_descriptor& operator=(security_descriptor&&) noexcept = default;

    PSECURITY_DESCRIPTOR get() const noexcept { return block_.get(); }

private:
    explicit security_descriptor(heap_block block) noexcept : block_(std::move(block)) {}
    heap_block block_;
};

// The principals make_sid can produce.
enum class well_known_sid {
    everyone,       // S-1-1-0
    administrators, // S-1-5-32-544
    users,          // S-1-5-32-545
    token_user,     // the user of the current thread's (or else the process's) token
};

// True when the caller's token is a member of BUILTIN\Administrators. Never throws.
bool is_user_admin();

// Switches a privilege of the process token on or off ("SeRestorePrivilege"). False on any
// failure, a privilege the token does not hold included. Never throws.
bool enable_privilege(const wchar_t* name, bool enable);

// Gives BUILTIN\Users one access-allowed entry with this mask and these inheritance flags in the
// DACL of a file or folder, replacing whatever Users held. True when the new DACL was written;
// on false the object's security is unchanged. Never throws.
bool grant_users_access(const wchar_t* path, std::uint32_t mask, std::uint32_t inheritance);

// The same through a handle of the file or folder, opened with READ_CONTROL and WRITE_DAC: the
// DACL is read and written on the object that the handle holds, so that nothing can be put in
// its place between the two. Never throws.
bool grant_users_access(HANDLE object, std::uint32_t mask, std::uint32_t inheritance);

// An ACL with one entry allowing Everyone the mask. Throws the long on failure.
unique_acl make_everyone_dacl(std::uint32_t mask);

// An ACL with one entry allowing the SID the mask 3 (the administrator test's own mapping).
unique_acl make_sid_dacl(PSID sid);

// An ACL allowing BUILTIN\Administrators and LocalSystem, and no one else, full access to a
// folder and everything made inside it. Throws the long on failure.
unique_acl make_admin_only_dacl();

// The security of a folder that only administrators and the system may open or change: owned
// by BUILTIN\Administrators, with the DACL of make_admin_only_dacl protected from whatever the
// folder above would pass on. Only an administrator's elevated token may give a new folder
// this owner. Throws the long on failure.
class admin_only_security {
public:
    admin_only_security();
    admin_only_security(const admin_only_security&) = delete;
    admin_only_security& operator=(const admin_only_security&) = delete;

    PSECURITY_DESCRIPTOR get() const noexcept { return descriptor_.get(); }
    // For CreateDirectoryW; handles are not inherited.
    SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }

private:
    // The descriptor points at the owner and the list: they live as long as it does.
    sid_holder owner_;
    unique_acl dacl_;
    security_descriptor descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// Throws the long on failure, after releasing what it had built.
sid_holder make_sid(well_known_sid kind);

// Whether the SID owns the file or folder that the handle holds, opened with READ_CONTROL.
// Throws the long when the owner cannot be read.
bool is_owner(HANDLE object, PSID sid);

// "S-1-5-21-…" of the token's user; empty on failure.
std::wstring current_user_sid_string();

// The SID's standard text form; empty on failure.
std::wstring sid_to_string(PSID sid);

namespace details {

// The DACL that grant_users_access writes: the old list's explicit entries before its first
// inherited one, the new Users entry, then the rest; every earlier Users entry left out. A null
// old list stands for a missing or null DACL. Throws the long on failure.
unique_acl dacl_with_users_entry(PACL old_dacl, PSID users, std::uint32_t mask, std::uint32_t inheritance);

// SE_DACL_AUTO_INHERITED when the descriptor's DACL is auto-inherited, else SE_DACL_PROTECTED
// when it is protected, else 0; 0 too on a system without GetSecurityDescriptorControl.
SECURITY_DESCRIPTOR_CONTROL dacl_mark_of(PSECURITY_DESCRIPTOR descriptor);

// Carries the old descriptor's auto-inherited (before protected) mark over to the new one.
// A system without the control functions skips this; other failures throw the long.
void pass_on_dacl_control(PSECURITY_DESCRIPTOR from, PSECURITY_DESCRIPTOR to);

} // namespace details

// advapi32 bound at run time by name. Each function bears the name of the one it calls and
// throws a long HRESULT when that call fails:
//   E_UNEXPECTED  advapi32.dll could not be obtained
//   E_NOTIMPL     the library has no such export
//   E_INVALIDARG  a null or invalid SID given to GetLengthSid or EqualSid
//   HRESULT_FROM_WIN32(GetLastError()) the call returned FALSE
// A lookup that fails is tried again on the next call; one that succeeds is kept for the
// life of the process. The library is never freed.
namespace advapi32 {

unique_handle OpenProcessToken(HANDLE process, DWORD desired_access);
// TOKEN_QUERY; a thread without a token of its own gets the process token.
unique_handle OpenThreadToken(HANDLE thread, bool open_as_self);
// TokenUser. With a null buffer this is a size query: a too small buffer is no failure.
void GetTokenInformation(HANDLE token, void* buffer, DWORD size, DWORD* needed);
// The other six sub-authorities are 0.
sid_holder AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub_authority0,
                                    DWORD sub_authority1);
DWORD GetLengthSid(PSID sid);
bool EqualSid(PSID first, PSID second);
// Frees nothing when the function cannot be bound. Never throws.
void FreeSid(PSID sid) noexcept;
void CopySid(DWORD length, PSID destination, PSID source);
void AddAccessAllowedAce(PACL acl, DWORD mask, PSID sid);
// Falls back to AddAccessAllowedAce for flags 0 or a system without the Ex export.
void AddAccessAllowedAceEx(PACL acl, DWORD flags, DWORD mask, PSID sid);
// Appends the entry.
void AddAce(PACL acl, void* entry, DWORD size);
void InitializeAcl(PACL acl, DWORD size);
void* GetAce(PACL acl, DWORD index);
void GetAclInformation(PACL acl, void* information, DWORD size, ACL_INFORMATION_CLASS information_class);
void GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl, BOOL* defaulted);
void GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL* control,
                                  DWORD* revision);
void SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                  SECURITY_DESCRIPTOR_CONTROL bits);
void InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
// DACL present, not defaulted.
void SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, PACL dacl);
void SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR descriptor, PSID group);
void SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner);
// Throws only when the function cannot be bound.
bool IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
// Desired access 1.
void AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE token, GENERIC_MAPPING* mapping,
                 PRIVILEGE_SET* privileges, DWORD* privileges_length, DWORD* granted, BOOL* status);
// SecurityImpersonation.
void ImpersonateSelf();
// Never throws: unbound, it sets ERROR_CALL_NOT_IMPLEMENTED and returns FALSE.
BOOL RevertToSelf() noexcept;
bool CheckTokenMembership(HANDLE token, PSID sid);
LUID LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name);
// A privilege that could not be assigned (ERROR_NOT_ALL_ASSIGNED with TRUE) is a failure too.
void AdjustTokenPrivileges(HANDLE token, bool disable_all, TOKEN_PRIVILEGES* state, DWORD length,
                           TOKEN_PRIVILEGES* previous, DWORD* previous_length);
// DACL only. With a null descriptor this is a size query: a too small buffer is no failure.
void GetFileSecurityW(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, DWORD size, DWORD* needed);
// DACL only.
void SetFileSecurityW(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor);
std::wstring ConvertSidToStringSidW(PSID sid);
// SE_FILE_OBJECT, DACL only; *dacl points into the descriptor returned.
unique_local GetSecurityInfo(HANDLE object, PACL* dacl);
// SE_FILE_OBJECT, owner only; *owner points into the descriptor returned.
unique_local GetSecurityInfo(HANDLE object, PSID* owner);
// SE_FILE_OBJECT; the information is DACL_SECURITY_INFORMATION with any protection flag.
void SetSecurityInfo(HANDLE object, SECURITY_INFORMATION information, PACL dacl);

// How the binding finds the library and its exports; the tests swap these to play a system
// without advapi32.dll or without one of its exports.
struct binder {
    HMODULE (*find_module)() = nullptr;
    FARPROC (*find_export)(HMODULE module, const char* name) = nullptr;
};

// Installs a binder (a null member restores the system's own lookup) and forgets every module
// and entry found so far.
void rebind(const binder& lookups) noexcept;

} // namespace advapi32

} // namespace vd
