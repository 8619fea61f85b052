// A fresh folder of the test's own, under the temporary folder unless told otherwise, removed
// when it goes.
#pragma once

#include <filesystem>
#include <vector>

namespace testing_support {

class test_folder {
public:
    test_folder() : test_folder(std::filesystem::temp_directory_path()) {}
    // Under another folder, for a test that the other tests' folders must not disturb.
    explicit test_folder(const std::filesystem::path& parent);
    ~test_folder();
    test_folder(const test_folder&) = delete;
    test_folder& operator=(const test_folder&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Removes each file or folder of paths (which may grow meanwhile) when it goes, read-only or
// not: for what a test puts in folders that are not its own.
class removed_at_end {
public:
    explicit removed_at_end(const std::vector<std::filesystem::path>& paths) : paths_(paths) {}
    ~removed_at_end();
    removed_at_end(const removed_at_end&) = delete;
    removed_at_end& operator=(const removed_at_end&) = delete;

private:
    const std::vector<std::filesystem::path>& paths_;
};

// Writes bytes to a file, creating its folders.
void write_file(const std::filesystem::path& file, std::string_view bytes);

// Reads a whole file.
std::string read_file(const std::filesystem::path& file);

} // namespace testing_support
