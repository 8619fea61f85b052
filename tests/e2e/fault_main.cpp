// The fault runs: "--every" for the whole matrix, "--report=FILE" for the table of outcomes;
// GoogleTest's own flags as well.
#include "e2e/fault_matrix.hpp"
#include "e2e/wizard_driver.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "foundation/text/conversions.hpp"

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    bool every = false;
    std::filesystem::path report;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        if (argument == L"--every")
            every = true;
        else if (argument.starts_with(L"--report="))
            report = e2e::windows_path(vd::wide_to_utf8(argument.substr(9)));
    }
    return e2e::run_fault_matrix(every, report);
}
