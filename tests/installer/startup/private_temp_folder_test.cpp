// The installer's own temporary folder: made new, the process's temporary folder while it is
// held, shut to everyone but administrators and the system, and gone afterwards.
#include "installer/startup/private_temp_folder.hpp"

#include "foundation/app/initialization.hpp"
#include "foundation/system/path.hpp"
#include "support/environment_scope.hpp"
#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

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
    const auto tmp = environment_value(L"TMP");
    const auto temp = environment_value(L"TEMP");
    const fs::path parent = fs::temp_directory_path();
    fs::path made;
    std::wstring kept;
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

        kept = security_text_of(made);
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(environment_value(L"TMP"), tmp);
    EXPECT_EQ(environment_value(L"TEMP"), temp);

    // Owned by Administrators; protected; full access for Administrators and SYSTEM alone,
    // passed on to everything inside.
    if (kept.starts_with(L"O:S-1-5-21-") && vd::details::running_on_wine())
        GTEST_SKIP() << "Wine: a folder's security comes from its Unix owner and mode bits; the descriptor given "
                        "at its creation is not kept (" << testing::PrintToString(kept) << ")";
    EXPECT_EQ(kept, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
}

// Without a temporary folder there is no private one: a clear error, and nothing changed.
TEST(private_temp_folder, fails_without_a_temporary_folder) {
    testing_support::test_folder folder;
    const auto not_a_folder = folder / L"file";
    testing_support::write_file(not_a_folder, "x");
    {
        const testing_support::environment_scope tmp(L"TMP", not_a_folder.c_str());
        const testing_support::environment_scope temp(L"TEMP", not_a_folder.c_str());
        EXPECT_THROW(private_temp_folder(), std::system_error);
        EXPECT_EQ(environment_value(L"TMP"), not_a_folder.wstring());
    }
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder.path()), {}), std::vector<fs::path>{not_a_folder});
}
