#include "support/test_folder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <windows.h>

namespace fs = std::filesystem;

namespace testing_support {

test_folder::test_folder(const fs::path& parent) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    std::string name = "vdtest-";
    if (info)
        name += std::string(info->test_suite_name()) + "-" + info->name() + "-";
    for (auto& c : name) {
        if (c == '/')
            c = '_';
    }
    name += std::to_string(random() % 1000000);
    path_ = parent / name;
    fs::create_directories(path_);
}

test_folder::~test_folder() {
    std::error_code ignored;
    // Files the tests made read-only must not keep the folder from going.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator(); it.increment(ignored))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path_, ignored);
}

void write_file(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

removed_at_end::~removed_at_end() {
    for (const auto& path : paths_) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

} // namespace testing_support
