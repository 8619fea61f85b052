// The end-to-end tests, or with "--screenshots FOLDER" the screenshot tour of the wizard, or
// with "--benchmark SETUP INSTALL_FOLDER" one installation for the benchmark.
#include "e2e/installation_benchmark.hpp"
#include "e2e/screenshot_tour.hpp"
#include "e2e/wizard_driver.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "foundation/text/conversions.hpp"

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring_view(argv[1]) == L"--screenshots")
        return e2e::take_screenshots(e2e::windows_path(vd::wide_to_utf8(argv[2])));
    if (argc == 4 && std::wstring_view(argv[1]) == L"--benchmark")
        return e2e::benchmark_installation(e2e::windows_path(vd::wide_to_utf8(argv[2])), argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
