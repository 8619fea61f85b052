// Links to folders, as any user can make them: the tests of what the installer does with a
// folder that is a reparse point.
#pragma once

#include <filesystem>

namespace testing_support {

enum class link_to { folder, file };

// Makes link a symbolic link to the folder (or the file) target. Throws std::runtime_error when
// it cannot.
void make_folder_link(const std::filesystem::path& link, const std::filesystem::path& target, link_to kind = link_to::folder);

// Renames the folder from to to as a program of the user's would, while the installer may hold
// it: under Wine by a program of the host's, beyond the reach of Wine's sharing rules. False
// when the system refused it (on Windows, a folder held without delete sharing).
bool move_folder_as_user(const std::filesystem::path& from, const std::filesystem::path& to);

// A folder whose time of last change is set far back, so that anything made or removed in it,
// even a file made and deleted again at once, shows.
class folder_watch {
public:
    explicit folder_watch(const std::filesystem::path& folder);
    ~folder_watch();
    folder_watch(const folder_watch&) = delete;
    folder_watch& operator=(const folder_watch&) = delete;

    void reset() const;
    bool changed() const;

private:
    void* folder_;
};

// Removes the link itself, never what it leads to.
void remove_folder_link(const std::filesystem::path& link, link_to kind = link_to::folder);

// A link removed when it goes, before any folder that holds it is removed: the standard
// library's remove_all does not see the link under Wine and would empty its target.
class folder_link {
public:
    folder_link(std::filesystem::path link, const std::filesystem::path& target, link_to kind = link_to::folder)
        : link_(std::move(link)), kind_(kind) {
        make_folder_link(link_, target, kind_);
    }
    ~folder_link();
    folder_link(const folder_link&) = delete;
    folder_link& operator=(const folder_link&) = delete;

private:
    std::filesystem::path link_;
    link_to kind_;
};

} // namespace testing_support
