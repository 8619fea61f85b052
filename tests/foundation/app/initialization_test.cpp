#include "foundation/app/initialization.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>

#include <windows.h>

TEST(initialization, common_controls_older_than_6_stop_the_start_up_on_windows_only) {
    struct verdict {
        std::uint32_t version;
        bool on_wine;
        bool accepted;
    };
    for (const verdict& v : {verdict{0x60000, false, true}, verdict{0x6000A, true, true},
                             verdict{0x50052, false, false}, verdict{0x5FFFF, false, false},
                             verdict{0x50051, true, true}, verdict{0, true, false}}) {
        EXPECT_EQ(vd::details::common_controls_accepted(v.version, v.on_wine), v.accepted)
            << std::hex << v.version << (v.on_wine ? " on Wine" : " on Windows");
    }
    const std::uint32_t own = vd::comctl32_version();
    EXPECT_TRUE(vd::details::common_controls_accepted(own, vd::details::running_on_wine())) << std::hex << own;
}

TEST(initialization, application_id_comes_from_the_version_block_before_the_file_name) {
    const std::filesystem::path renamed = L"C:\\Downloads\\setup (2).v8.exe";
    EXPECT_EQ(vd::details::application_id_from(vd::file_version_info(L"" STELVANE_SETUP_EXE), renamed), L"Stelvane8");

    // A system library names its product but no application.
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const vd::version_info kernel = vd::file_version_info(std::wstring(system) + L"\\kernel32.dll");
    ASSERT_NE(kernel.product_name(), L"");
    EXPECT_EQ(vd::details::application_id_from(kernel, renamed), kernel.product_name());

    // This test program has no version block.
    EXPECT_EQ(vd::details::application_id_from(vd::module_version_info(), renamed), L"setup (2).v8");
}

TEST(initialization, a_guard_runs_its_body_once_unless_the_body_throws) {
    INIT_ONCE guard = INIT_ONCE_STATIC_INIT;
    int runs = 0;
    const auto failing = [&] {
        ++runs;
        throw std::runtime_error("first try");
    };
    EXPECT_THROW(vd::run_once(guard, failing), std::runtime_error);
    vd::run_once(guard, [&] { ++runs; });
    EXPECT_NO_THROW(vd::run_once(guard, failing));
    EXPECT_EQ(runs, 2) << "a failed run is tried again, a completed one never";
}
