// A folder tree as an outsider sees it: every folder and file below a root, with each file's
// size, CRC-32 and attributes and each folder's attributes, to tell whether anything was
// added, removed or changed between two moments.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

namespace testing_support {

struct tree_item {
    bool folder = false;
    std::uintmax_t size = 0;
    std::uint32_t crc = 0;
    DWORD attributes = 0;
    bool operator==(const tree_item&) const = default;
};

// Paths in lower case, as Windows compares them; the root itself is an item too. A missing
// root gives an empty tree.
using file_tree = std::map<std::wstring, tree_item>;

file_tree capture_tree(const std::filesystem::path& root);

// One line for each path added, removed or changed from before to after; empty when equal.
std::vector<std::wstring> tree_differences(const file_tree& before, const file_tree& after);

} // namespace testing_support
