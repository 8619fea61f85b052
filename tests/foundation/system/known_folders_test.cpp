#include "foundation/system/known_folders.hpp"

#include <gtest/gtest.h>

#include <system_error>

#include <knownfolders.h>

namespace fs = std::filesystem;

namespace {

TEST(known_folders, program_and_maker_folders) {
    // The tests start from main: the run time holds no wide program path and the system is asked.
    EXPECT_EQ(vd::module_path().filename(), L"foundation_tests.exe");
    EXPECT_TRUE(vd::module_path().is_absolute());

    struct folder_case {
        fs::path (*folder)();
        const KNOWNFOLDERID& id;
        std::wstring suffix;
    };
    for (const auto& [folder, id, suffix] : {folder_case{vd::documents_folder, FOLDERID_Documents, L""},
                                             folder_case{vd::common_data_folder, FOLDERID_ProgramData, L"\\Vandrel"},
                                             folder_case{vd::user_data_folder, FOLDERID_RoamingAppData, L"\\Vandrel"}}) {
        const fs::path known = vd::known_folder_path(id);
        ASSERT_TRUE(known.is_absolute()) << known;
        EXPECT_EQ(folder().native(), known.native() + suffix);
        EXPECT_EQ(folder(), folder());
    }

    // A folder id that no system defines.
    constexpr KNOWNFOLDERID unknown = {0x7d3e1f4a, 0x52b1, 0x4c8e, {0x9a, 0x60, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60}};
    try {
        vd::known_folder_path(unknown);
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().category(), std::system_category());
        EXPECT_LT(e.code().value(), 0) << std::hex << e.code().value();
    }
}

} // namespace
