#include "foundation/system/security.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <sddl.h>

#include "support/test_folder.hpp"

namespace {

// One entry of an ACL as the tests compare it.
struct entry_view {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;

    bool operator==(const entry_view&) const = default;
};

void PrintTo(const entry_view& entry, std::ostream* out) {
    *out << "{type " << int(entry.type) << ", flags " << int(entry.flags) << ", mask " << std::hex << entry.mask
         << std::dec << ", " << std::string(entry.sid.begin(), entry.sid.end()) << "}";
}

std::wstring text_of(PSID sid) {
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return L"?";
    const vd::unique_local text_holder{text};
    return text;
}

// Read with the imported functions, so that a fault of the unit under test cannot hide itself.
std::vector<entry_view> entries_of(PACL acl) {
    std::vector<entry_view> result;
    ACL_SIZE_INFORMATION size{};
    if (!acl || !::GetAclInformation(acl, &size, sizeof size, AclSizeInformation))
        return result;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* raw = nullptr;
        ::GetAce(acl, i, &raw);
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        result.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                          ace->Header.AceType <= ACCESS_DENIED_ACE_TYPE ? text_of(&ace->SidStart) : L"-"});
    }
    return result;
}

constexpr wchar_t users[] = L"S-1-5-32-545";
constexpr wchar_t administrators[] = L"S-1-5-32-544";
constexpr wchar_t everyone[] = L"S-1-1-0";
constexpr wchar_t local_system[] = L"S-1-5-18";

struct sid_from_text {
    explicit sid_from_text(const wchar_t* text) {
        PSID converted = nullptr;
        ::ConvertStringSidToSidW(text, &converted);
        holder.reset(converted);
        sid = converted;
    }
    vd::unique_local holder;
    PSID sid = nullptr;
};

// An ACL built by the system's own functions from the entries given.
std::vector<BYTE> make_acl(const std::vector<entry_view>& entries) {
    std::vector<BYTE> block(1024);
    auto* acl = reinterpret_cast<PACL>(block.data());
    ::InitializeAcl(acl, static_cast<DWORD>(block.size()), ACL_REVISION);
    for (const auto& entry : entries) {
        const sid_from_text sid(entry.sid.c_str());
        if (entry.type == ACCESS_ALLOWED_ACE_TYPE)
            ::AddAccessAllowedAceEx(acl, ACL_REVISION, entry.flags, entry.mask, sid.sid);
        else
            ::AddAccessDeniedAceEx(acl, ACL_REVISION, entry.flags, entry.mask, sid.sid);
    }
    return block;
}

constexpr BYTE allowed = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE denied = ACCESS_DENIED_ACE_TYPE;
constexpr BYTE folder_inheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// The binding is process-wide: every test that swaps its lookups puts the system's back.
class security_binding : public ::testing::Test {
protected:
    void TearDown() override { vd::advapi32::rebind({}); }

    static inline std::vector<std::string> asked_for;
    static inline int module_lookups = 0;
    static inline const char* hidden_export = nullptr;

    static HMODULE no_module() {
        ++module_lookups;
        return nullptr;
    }
    static FARPROC recording_lookup(HMODULE module, const char* name) {
        asked_for.emplace_back(name);
        if (hidden_export && std::strcmp(name, hidden_export) == 0)
            return nullptr;
        return ::GetProcAddress(module, name);
    }
    void hide_export(const char* name) {
        asked_for.clear();
        hidden_export = name;
        vd::advapi32::rebind({nullptr, recording_lookup});
    }
    int times_asked_for(const char* name) const { return static_cast<int>(std::count(asked_for.begin(), asked_for.end(), name)); }
};

} // namespace

TEST(security, well_known_sids_and_their_texts) {
    EXPECT_EQ(vd::sid_to_string(vd::make_sid(vd::well_known_sid::everyone).get()), everyone);
    EXPECT_EQ(vd::sid_to_string(vd::make_sid(vd::well_known_sid::administrators).get()), administrators);
    const auto users_sid = vd::make_sid(vd::well_known_sid::users);
    EXPECT_EQ(vd::sid_to_string(users_sid.get()), users);
    EXPECT_EQ(users_sid.kind(), vd::sid_kind::allocated);

    const auto user = vd::make_sid(vd::well_known_sid::token_user);
    EXPECT_EQ(user.kind(), vd::sid_kind::heap);
    const std::wstring user_text = vd::current_user_sid_string();
    EXPECT_EQ(user_text.rfind(L"S-1-", 0), 0u) << std::string(user_text.begin(), user_text.end());
    EXPECT_EQ(vd::sid_to_string(user.get()), user_text);

    EXPECT_EQ(vd::sid_to_string(nullptr), L"");
    EXPECT_THROW(vd::advapi32::GetLengthSid(nullptr), long);
    EXPECT_FALSE(vd::advapi32::EqualSid(users_sid.get(), user.get()));
}

TEST(security, everyone_dacl_and_object_descriptor) {
    const vd::unique_acl acl = vd::make_everyone_dacl(MUTEX_ALL_ACCESS);
    ASSERT_TRUE(acl);
    EXPECT_EQ(acl->AclSize, 28);
    EXPECT_TRUE(::IsValidAcl(acl.get()));
    EXPECT_EQ(entries_of(acl.get()), (std::vector<entry_view>{{allowed, 0, 0x1F0001, everyone}}));

    const sid_from_text admins(administrators);
    EXPECT_EQ(entries_of(vd::make_sid_dacl(admins.sid).get()), (std::vector<entry_view>{{allowed, 0, 3, administrators}}));

    // As the named objects use it: an empty descriptor that carries only this DACL.
    const vd::security_descriptor descriptor;
    vd::advapi32::SetSecurityDescriptorDacl(descriptor.get(), acl.get());
    EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.get()));
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(dacl, acl.get());
    PSID owner = nullptr;
    BOOL owner_defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &owner_defaulted));
    EXPECT_EQ(owner, nullptr);

    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    const std::wstring name = L"Local\\vdtest-security-" + std::to_wstring(::GetCurrentProcessId());
    const vd::unique_handle mutex(::CreateMutexW(&attributes, FALSE, name.c_str()));
    EXPECT_TRUE(mutex);
}

TEST(security, user_is_admin_under_wine) {
    // The test prefix's user is always an administrator.
    EXPECT_TRUE(vd::is_user_admin());
}

TEST_F(security_binding, without_advapi32_every_operation_fails_quietly) {
    testing_support::test_folder folder;
    const auto file = folder / L"shared.dat";
    testing_support::write_file(file, "x");

    module_lookups = 0;
    vd::advapi32::rebind({no_module, nullptr});
    EXPECT_FALSE(vd::is_user_admin());
    EXPECT_FALSE(vd::enable_privilege(L"SeBackupPrivilege", true));
    EXPECT_FALSE(vd::grant_users_access(file.c_str(), FILE_ALL_ACCESS, 0));
    EXPECT_EQ(vd::current_user_sid_string(), L"");
    try {
        vd::make_everyone_dacl(MUTEX_ALL_ACCESS);
        ADD_FAILURE() << "make_everyone_dacl did not throw";
    } catch (long value) {
        EXPECT_EQ(static_cast<unsigned long>(value), 0x8000FFFFul);
    }
    EXPECT_EQ(vd::advapi32::RevertToSelf(), FALSE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    // A library not found is looked for again on each call.
    EXPECT_GT(module_lookups, 4);

    // Once the library shows up again, it is found.
    vd::advapi32::rebind({});
    EXPECT_TRUE(vd::make_everyone_dacl(MUTEX_ALL_ACCESS));
}

TEST_F(security_binding, exports_are_looked_up_once_and_missing_ones_each_time) {
    hide_export("ConvertSidToStringSidW");
    const auto sid = vd::make_sid(vd::well_known_sid::everyone);
    vd::make_everyone_dacl(1);
    vd::make_everyone_dacl(1);
    EXPECT_EQ(times_asked_for("InitializeAcl"), 1);
    EXPECT_EQ(vd::sid_to_string(sid.get()), L"");
    EXPECT_EQ(vd::sid_to_string(sid.get()), L"");
    EXPECT_EQ(times_asked_for("ConvertSidToStringSidW"), 2);
}

TEST_F(security_binding, admin_test_without_check_token_membership_uses_access_check) {
    hide_export("CheckTokenMembership");
    const bool admin = vd::is_user_admin();
    EXPECT_EQ(times_asked_for("AccessCheck"), 1);
    EXPECT_EQ(times_asked_for("RevertToSelf"), 1);
    EXPECT_TRUE(admin);
    // The impersonation ended with the test.
    vd::unique_handle token;
    EXPECT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST_F(security_binding, users_entry_without_add_access_allowed_ace_ex_has_no_inheritance) {
    hide_export("AddAccessAllowedAceEx");
    const auto users_sid = vd::make_sid(vd::well_known_sid::users);
    const auto acl = vd::details::dacl_with_users_entry(nullptr, users_sid.get(), FILE_ALL_ACCESS, folder_inheritance);
    EXPECT_EQ(entries_of(acl.get()), (std::vector<entry_view>{{allowed, 0, FILE_ALL_ACCESS, users}}));
}

namespace {

// The privilege's attributes in the process token; nothing when the token does not hold it.
std::optional<DWORD> privilege_attributes(const wchar_t* name) {
    LUID luid{};
    if (!::LookupPrivilegeValueW(nullptr, name, &luid))
        return std::nullopt;
    vd::unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::nullopt;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    std::optional<DWORD> found;
    if (::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const auto& item = privileges->Privileges[i];
            if (item.Luid.LowPart == luid.LowPart && item.Luid.HighPart == luid.HighPart)
                found = item.Attributes;
        }
    }
    return found;
}

} // namespace

TEST(security, privileges_switch_on_and_off_and_stay_held) {
    const wchar_t* name = L"SeBackupPrivilege";
    const auto before = privilege_attributes(name);
    if (!before)
        GTEST_SKIP() << "the test token does not hold SeBackupPrivilege";

    ASSERT_TRUE(vd::enable_privilege(name, true));
    EXPECT_EQ(privilege_attributes(name).value_or(0) & SE_PRIVILEGE_ENABLED, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    ASSERT_TRUE(vd::enable_privilege(name, false));
    ASSERT_TRUE(privilege_attributes(name));
    EXPECT_EQ(*privilege_attributes(name) & SE_PRIVILEGE_ENABLED, 0u);
    // Disabling what is already disabled changes nothing, so the system hands back no previous
    // state; the privilege must still be there to be switched on again.
    ASSERT_TRUE(vd::enable_privilege(name, false));
    ASSERT_TRUE(privilege_attributes(name));
    ASSERT_TRUE(vd::enable_privilege(name, true));
    EXPECT_EQ(privilege_attributes(name).value_or(0) & SE_PRIVILEGE_ENABLED, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));

    vd::enable_privilege(name, (*before & SE_PRIVILEGE_ENABLED) != 0);
}

TEST(security, privileges_the_token_lacks_or_that_do_not_exist_fail) {
    EXPECT_FALSE(vd::enable_privilege(L"SeNoSuchPrivilege", true));
    // Wine's administrator token, like a Windows administrator's, does not hold this one.
    const wchar_t* lacking = L"SeCreateTokenPrivilege";
    if (privilege_attributes(lacking))
        GTEST_SKIP() << "the test token holds SeCreateTokenPrivilege";
    EXPECT_FALSE(vd::enable_privilege(lacking, true));
    EXPECT_FALSE(vd::enable_privilege(lacking, false));
}

TEST(security, users_entry_replaces_earlier_ones_after_the_explicit_entries) {
    const auto users_sid = vd::make_sid(vd::well_known_sid::users);
    const auto merged = [&](const std::vector<entry_view>& old, DWORD mask, DWORD inheritance) {
        auto block = make_acl(old);
        return entries_of(vd::details::dacl_with_users_entry(reinterpret_cast<PACL>(block.data()), users_sid.get(),
                                                             mask, inheritance)
                              .get());
    };
    const entry_view e1{denied, 0, FILE_WRITE_DATA, everyone};
    const entry_view e2{allowed, folder_inheritance, FILE_ALL_ACCESS, administrators};
    const entry_view i1{allowed, INHERITED_ACE | folder_inheritance, FILE_ALL_ACCESS, local_system};
    const entry_view i2{allowed, INHERITED_ACE, FILE_GENERIC_READ, everyone};

    EXPECT_EQ(merged({e1, e2, i1, i2}, 0x13019F, 0),
              (std::vector<entry_view>{e1, e2, {allowed, 0, 0x13019F, users}, i1, i2}));

    // Whatever Users held, explicit or inherited, gives way to the one new entry.
    const entry_view old_users{allowed, 0, FILE_GENERIC_READ, users};
    const entry_view inherited_users{allowed, INHERITED_ACE, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users};
    EXPECT_EQ(merged({e1, old_users, e2, i1, inherited_users, i2}, FILE_ALL_ACCESS, folder_inheritance),
              (std::vector<entry_view>{e1, e2, {allowed, folder_inheritance, FILE_ALL_ACCESS, users}, i1, i2}));

    // A missing or null DACL leaves only the new entry.
    EXPECT_EQ(entries_of(vd::details::dacl_with_users_entry(nullptr, users_sid.get(), FILE_ALL_ACCESS, folder_inheritance).get()),
              (std::vector<entry_view>{{allowed, folder_inheritance, FILE_ALL_ACCESS, users}}));
}

TEST(security, entries_without_a_plain_sid_are_kept_as_they_are) {
    // An object entry without GUIDs: where a plain entry holds its SID, this one holds its flags
    // (0), and its SID follows them. It is no Users entry to drop, and no SID to read there.
    const sid_from_text users_sid(users);
    const DWORD sid_length = ::GetLengthSid(users_sid.sid);
    std::vector<BYTE> object_entry(sizeof(ACE_HEADER) + 2 * sizeof(DWORD) + sid_length);
    auto* header = reinterpret_cast<ACE_HEADER*>(object_entry.data());
    header->AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    header->AceSize = static_cast<WORD>(object_entry.size());
    const DWORD mask = FILE_GENERIC_READ;
    std::memcpy(object_entry.data() + sizeof(ACE_HEADER), &mask, sizeof mask);
    ::CopySid(sid_length, object_entry.data() + sizeof(ACE_HEADER) + 2 * sizeof(DWORD), users_sid.sid);

    std::vector<BYTE> block(256);
    auto* old = reinterpret_cast<PACL>(block.data());
    ASSERT_TRUE(::InitializeAcl(old, static_cast<DWORD>(block.size()), ACL_REVISION_DS));
    ASSERT_TRUE(::AddAce(old, ACL_REVISION_DS, MAXDWORD, object_entry.data(), header->AceSize));

    const auto acl = vd::details::dacl_with_users_entry(old, users_sid.sid, FILE_ALL_ACCESS, 0);
    ASSERT_TRUE(acl);
    const auto entries = entries_of(acl.get());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, ACCESS_ALLOWED_OBJECT_ACE_TYPE);
    EXPECT_EQ(entries[0].mask, FILE_GENERIC_READ);
    EXPECT_EQ(entries[1], (entry_view{allowed, 0, FILE_ALL_ACCESS, users}));
}

TEST(security, auto_inheritance_is_passed_on_before_protection) {
    const auto control_after = [](SECURITY_DESCRIPTOR_CONTROL old_bits) {
        const vd::security_descriptor old_descriptor;
        if (old_bits)
            vd::advapi32::SetSecurityDescriptorControl(old_descriptor.get(), old_bits, old_bits);
        const vd::security_descriptor descriptor;
        vd::details::pass_on_dacl_control(old_descriptor.get(), descriptor.get());
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
        return control & (SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED);
    };
    EXPECT_EQ(control_after(SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED), SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED);
    EXPECT_EQ(control_after(SE_DACL_PROTECTED), SE_DACL_PROTECTED);
    EXPECT_EQ(control_after(0), 0);
}

namespace {

// The explicit Users entries in the DACL of a file or folder.
std::vector<entry_view> users_entries(const std::filesystem::path& path) {
    std::vector<entry_view> found;
    DWORD size = 0;
    ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (size && ::GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), size, &size) &&
        ::GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) && present) {
        for (const auto& entry : entries_of(dacl))
            if (entry.sid == users && !(entry.flags & INHERITED_ACE))
                found.push_back(entry);
    }
    return found;
}

vd::unique_file open_for_dacl(const std::filesystem::path& path, DWORD access) {
    return vd::unique_file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

} // namespace

TEST(security, users_are_granted_access_to_files_and_folders) {
    testing_support::test_folder folder;
    const auto shared_folder = folder / L"Shared";
    const auto shared_file = shared_folder / L"settings.ini";
    testing_support::write_file(shared_file, "[x]");

    EXPECT_TRUE(vd::grant_users_access(shared_folder.c_str(), FILE_ALL_ACCESS, folder_inheritance));
    EXPECT_TRUE(vd::grant_users_access(shared_file.c_str(), 0x13019F, 0));
    EXPECT_FALSE(vd::grant_users_access((folder / L"missing.txt").c_str(), 0x13019F, 0));

    // Wine keeps file ACLs only as far as the host file system lets it: look, don't insist.
    const auto on_file = users_entries(shared_file);
    if (on_file.empty())
        GTEST_SKIP() << "Wine: a file's DACL is made from its Unix mode bits; a written DACL is not kept";
    EXPECT_EQ(on_file, (std::vector<entry_view>{{allowed, 0, 0x13019F, users}}));
    EXPECT_EQ(users_entries(shared_folder), (std::vector<entry_view>{{allowed, folder_inheritance, FILE_ALL_ACCESS, users}}));

    // Granting again changes the one entry rather than adding a second.
    EXPECT_TRUE(vd::grant_users_access(shared_file.c_str(), FILE_GENERIC_READ, 0));
    EXPECT_EQ(users_entries(shared_file), (std::vector<entry_view>{{allowed, 0, FILE_GENERIC_READ, users}}));
}

TEST(security, admin_only_security_is_owned_by_administrators_and_shuts_out_everyone_else) {
    vd::admin_only_security security;
    const SECURITY_ATTRIBUTES* attributes = security.attributes();
    EXPECT_EQ(attributes->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_EQ(attributes->lpSecurityDescriptor, security.get());
    EXPECT_FALSE(attributes->bInheritHandle);
    ASSERT_TRUE(::IsValidSecurityDescriptor(security.get()));

    PSID owner = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(security.get(), &owner, &defaulted));
    EXPECT_EQ(text_of(owner), administrators);
    EXPECT_FALSE(defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(security.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(entries_of(dacl), (std::vector<entry_view>{{allowed, folder_inheritance, FILE_ALL_ACCESS, administrators},
                                                         {allowed, folder_inheritance, FILE_ALL_ACCESS, local_system}}));
}

TEST(security, users_are_granted_access_through_a_handle) {
    testing_support::test_folder folder;
    const auto shared_folder = folder / L"Shared";
    std::filesystem::create_directories(shared_folder);
    const auto handle = open_for_dacl(shared_folder, READ_CONTROL | WRITE_DAC);
    ASSERT_TRUE(handle) << ::GetLastError();
    EXPECT_TRUE(vd::grant_users_access(handle.get(), FILE_ALL_ACCESS, folder_inheritance));
    // A handle that may read the DACL but not write it.
    const auto reading = open_for_dacl(shared_folder, READ_CONTROL);
    ASSERT_TRUE(reading) << ::GetLastError();
    EXPECT_FALSE(vd::grant_users_access(reading.get(), FILE_ALL_ACCESS, folder_inheritance));

    const auto on_folder = users_entries(shared_folder);
    if (on_folder.empty())
        GTEST_SKIP() << "Wine: a file's DACL is made from its Unix mode bits; a written DACL is not kept";
    EXPECT_EQ(on_folder, (std::vector<entry_view>{{allowed, folder_inheritance, FILE_ALL_ACCESS, users}}));
}

TEST_F(security_binding, the_grant_through_a_handle_is_bound_at_run_time) {
    testing_support::test_folder folder;
    const auto handle = open_for_dacl(folder.path(), READ_CONTROL | WRITE_DAC);
    ASSERT_TRUE(handle) << ::GetLastError();
    hide_export("SetSecurityInfo");
    EXPECT_FALSE(vd::grant_users_access(handle.get(), FILE_ALL_ACCESS, folder_inheritance));
    EXPECT_EQ(times_asked_for("GetSecurityInfo"), 1);
    EXPECT_EQ(times_asked_for("SetSecurityInfo"), 1);
}
