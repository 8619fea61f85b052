// The installer's own temporary folder: made new in the system's temporary folder whatever TMP
// says, the process's temporary folder while it is held, shut to everyone but administrators
// and the system, refused when it is not the folder made, and gone afterwards.
#include "installer/startup/private_temp_folder.hpp"

#include "foundation/app/initialization.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/path.hpp"
#include "foundation/system/security.hpp"
#include "installer/payload/linked_folders.hpp"
#include "support/environment_scope.hpp"
#include "support/folder_link.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <knownfolders.h>
#include <sddl.h>
#include <windows.h>

namespace fs = std::filesystem;
using testing_support::environment_value;

namespace {

// The folder's owner and DACL as the file system keeps them, in the system's text form.
std::wstring security_text_of(const fs::path& folder) {
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    ::GetFileSecurityW(folder.c_str(), wanted, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    wchar_t* text = nullptr;
    if (!size || !::GetFileSecurityW(folder.c_str(), wanted, descriptor.data(), size, &size) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, wanted, &text, nullptr))
        return L"?";
    const vd::unique_local text_holder{text};
    return text;
}

} // namespace

TEST(private_temp_folder, holds_every_temporary_file_and_goes_afterwards) {
    // The user's temporary folder, which the user names and may fill with links, is not used.
    const testing_support::test_folder users_folder;
    const testing_support::environment_scope tmp(L"TMP", users_folder.path().c_str());
    const testing_support::environment_scope temp(L"TEMP", users_folder.path().c_str());
    const fs::path parent = vd::known_folder_path(FOLDERID_Windows) / L"Temp";
    fs::path made;
    std::wstring kept;
    {
        const private_temp_folder folder;
        made = folder.path();
        EXPECT_TRUE(fs::is_directory(made));
        EXPECT_TRUE(vd::same_path(made.parent_path(), parent)) << made;
        EXPECT_TRUE(fs::is_empty(users_folder.path()));
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

        kept = security_text_of(made);
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(environment_value(L"TMP"), users_folder.path().wstring());
    EXPECT_EQ(environment_value(L"TEMP"), users_folder.path().wstring());

    // Owned by Administrators; protected; full access for Administrators and SYSTEM alone,
    // passed on to everything inside.
    if (kept.starts_with(L"O:S-1-5-21-") && vd::details::running_on_wine())
        GTEST_SKIP() << "Wine: a folder's security comes from its Unix owner and mode bits; the descriptor given "
                        "at its creation is not kept (" << testing::PrintToString(kept) << ")";
    EXPECT_EQ(kept, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
}

// A folder that is not the one made (reached through a link) or whose owner cannot be read is
// refused: a clear error, nothing changed, and the folder made goes.
TEST(private_temp_folder, a_folder_that_fails_its_check_is_refused_and_removed) {
    const testing_support::test_folder folder;
    const auto real = folder / L"real";
    fs::create_directory(real);
    const testing_support::folder_link link(folder / L"link", real);
    const auto without_get_security_info = [](HMODULE module, const char* name) -> FARPROC {
        return std::strcmp(name, "GetSecurityInfo") == 0 ? nullptr : ::GetProcAddress(module, name);
    };
    const struct {
        const char* what;
        fs::path parent;
        vd::advapi32::binder lookups;
        DWORD error;
    } cases[] = {
        {"made through a link", folder / L"link", {}, reparse_point_encountered},
        {"owner unreadable", real, {nullptr, without_get_security_info}, static_cast<DWORD>(E_NOTIMPL)},
    };
    const auto tmp = environment_value(L"TMP");
    for (const auto& c : cases) {
        vd::advapi32::rebind(c.lookups);
        try {
            const private_temp_folder made(c.parent);
            ADD_FAILURE() << c.what << ": accepted " << made.path();
        } catch (const std::system_error& e) {
            EXPECT_EQ(static_cast<DWORD>(e.code().value()), c.error) << c.what << ": " << e.what();
        }
        vd::advapi32::rebind({});
        EXPECT_TRUE(fs::is_empty(real)) << c.what;
        EXPECT_EQ(environment_value(L"TMP"), tmp) << c.what;
    }
}
