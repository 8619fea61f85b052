// Another program that holds a file the installer writes, as a viewer or a scanner may: once the
// file holds the awaited bytes (whole, and let go of by the installer) it keeps the file open for
// reading, sharing reading and writing but not its deletion, so that nobody can delete, rename or
// replace it until the hold ends.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "foundation/system/unique_any.hpp"

namespace e2e {

class file_holder {
public:
    // Starts watching for the bytes at once.
    file_holder(std::filesystem::path file, std::string awaited);
    ~file_holder();
    file_holder(const file_holder&) = delete;
    file_holder& operator=(const file_holder&) = delete;

    // Stops watching and lets go of the file: true when it was held.
    bool release();

private:
    void watch();

    std::filesystem::path file_;
    std::string awaited_;
    std::atomic<bool> stop_ = false;
    vd::unique_file held_;
    std::thread watcher_;
};

} // namespace e2e
