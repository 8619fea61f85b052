// The part of the machine that an installation touches, for the fault runs: the folders the
// payload, the links and the journal go to, the temporary folder, and the registry keys the
// installer writes. It is captured to tell whether a run changed anything, and saved once
// (every byte and attribute) so that each run can start from the same previous installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

#include "e2e/installed_product.hpp"
#include "support/file_tree.hpp"

namespace e2e {

inline constexpr wchar_t uninstall_root_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr wchar_t product_uninstall_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stelvane 8";
inline constexpr wchar_t maker_machine_key[] = L"Software\\Vandrel";

struct machine_state {
    std::vector<testing_support::file_tree> trees;
    registry_values uninstall_values;
    registry_values maker_values;
};

// One line for each difference; empty when the states are the same.
std::vector<std::wstring> machine_differences(const machine_state& before, const machine_state& after);

class watched_machine {
public:
    explicit watched_machine(std::vector<std::filesystem::path> roots) : roots_(std::move(roots)) {}

    machine_state capture() const;

    // Keeps every folder and file below the roots with its bytes and attributes, and the
    // values of the two keys.
    void save();
    // Makes the roots and the keys exactly what save() kept: what was added goes, what was
    // changed or removed comes back.
    void restore() const;

private:
    struct saved_item {
        std::filesystem::path path;
        bool folder = false;
        std::string bytes;
        DWORD attributes = 0;
    };

    std::vector<std::filesystem::path> roots_;
    std::vector<std::vector<saved_item>> saved_;
    registry_values uninstall_values_;
    registry_values maker_values_;
};

// Removes a file or a folder with everything in it, read-only or not; nothing for a missing one.
void remove_any(const std::filesystem::path& path);

// Writes a key's values anew: the key is removed with its subkeys and made again holding
// exactly these values.
void rewrite_key(HKEY root, const std::wstring& subkey, const registry_values& values);

// Bytes that a file of this size takes on the size-limited disk (whole 4096-byte pages).
std::uint64_t pages_of(std::uint64_t size);

// Fills the disk of folder with a file there so that exactly free_pages pages stay free; the
// file goes when the holder does. Throws when the disk has less room than that already.
class disk_filler {
public:
    disk_filler(const std::filesystem::path& file, std::uint64_t free_pages);
    ~disk_filler();
    disk_filler(const disk_filler&) = delete;
    disk_filler& operator=(const disk_filler&) = delete;

private:
    std::filesystem::path file_;
};

// The disk's free and total bytes.
std::pair<std::uint64_t, std::uint64_t> disk_space(const std::filesystem::path& folder);

} // namespace e2e
