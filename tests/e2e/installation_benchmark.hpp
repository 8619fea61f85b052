// The benchmark mode of the end-to-end driver: one installation for benchmarks/installation.sh.
// It clears what an earlier run left (the product's registry values, its folders and links,
// the work folders in the temporary folder), so that every run is a first installation into a
// fresh folder, then drives the real installer as the tests do, as an advanced installation into
// the given folder. It prints one line: the seconds from the Install click until the install
// page says that the installation has ended, the idle wizard's working set just before the
// click and the peak working set after it, both in bytes.
#pragma once

#include <filesystem>

namespace e2e {

// 0 when the installation succeeded; the failure is printed otherwise.
int benchmark_installation(const std::filesystem::path& setup, const std::filesystem::path& install_folder);

} // namespace e2e
