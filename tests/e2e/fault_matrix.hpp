// Fault injection over whole installations by the real installer, in a prefix of its own
// whose drive F: is a small disk: a previous installation is made there once, and every run
// starts from it. One test for each fault point and one for each damaged payload; a table of
// them all goes to the report file.
#pragma once

#include <filesystem>

namespace e2e {

// Makes the previous installation, registers the tests (every point and every damaged payload
// when every is set, else a fixed few of each), runs them and writes the report. The exit
// code of the test run.
int run_fault_matrix(bool every, const std::filesystem::path& report);

} // namespace e2e
