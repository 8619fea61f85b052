// Links to folders, as any user can make them: the tests of what the installer does with a
// folder that is a reparse point.
#pragma once

#include <filesystem>

namespace testing_support {

// Makes link a symbolic link to the folder target. Throws std::runtime_error when it cannot.
void make_folder_link(const std::filesystem::path& link, const std::filesystem::path& target);

// Removes the link itself, never what it leads to.
void remove_folder_link(const std::filesystem::path& link);

// A link removed when it goes, before any folder that holds it is removed: the standard
// library's remove_all does not see the link under Wine and would empty its target.
class folder_link {
public:
    folder_link(std::filesystem::path link, const std::filesystem::path& target) : link_(std::move(link)) {
        make_folder_link(link_, target);
    }
    ~folder_link() { remove_folder_link(link_); }
    folder_link(const folder_link&) = delete;
    folder_link& operator=(const folder_link&) = delete;

private:
    std::filesystem::path link_;
};

} // namespace testing_support
