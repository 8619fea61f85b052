// The world of one journal test: a fresh folder, and the process's temporary folder pointed
// into it, so that the backups a test makes are its own to count.
#pragma once

#include <gtest/gtest.h>

#include "foundation/app/initialization.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "support/environment_scope.hpp"
#include "support/test_folder.hpp"

class journal_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(temp_);
        std::filesystem::create_directories(root_);
        tmp_.emplace(L"TMP", temp_.c_str());
        ASSERT_EQ(std::filesystem::temp_directory_path(), temp_ / L"");
    }

    void TearDown() override { tmp_.reset(); }

    // The backups ("vd-*.tmp") lying in the temporary folder.
    std::vector<std::filesystem::path> backups() const {
        std::vector<std::filesystem::path> found;
        for (const auto& item : std::filesystem::directory_iterator(temp_)) {
            const auto name = item.path().filename().wstring();
            if (name.starts_with(L"vd-") && name.ends_with(L".tmp"))
                found.push_back(item.path());
        }
        return found;
    }

    testing_support::test_folder world_;
    std::filesystem::path temp_ = world_ / L"temp";
    std::filesystem::path root_ = world_ / L"root";

private:
    std::optional<testing_support::environment_scope> tmp_;
};
