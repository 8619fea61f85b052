#include "support/file_tree.hpp"

#include <zlib.h>

#include <algorithm>
#include <cwctype>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::wstring lower(std::wstring text) {
    std::ranges::transform(text, text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

// The CRC-32 of a file's bytes; a file that cannot be read (held open without sharing) counts
// as 0, which differs from its CRC when it is read again.
std::uint32_t crc_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    uLong crc = ::crc32(0, nullptr, 0);
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(block), static_cast<uInt>(in.gcount()));
    return static_cast<std::uint32_t>(crc);
}

std::wstring describe(const tree_item& item) {
    if (item.folder)
        return L"folder, attributes " + std::to_wstring(item.attributes);
    return std::to_wstring(item.size) + L" bytes, CRC " + std::to_wstring(item.crc) + L", attributes " +
           std::to_wstring(item.attributes);
}

} // namespace

file_tree capture_tree(const fs::path& root) {
    file_tree tree;
    const auto add = [&](const fs::path& path) {
        std::error_code error;
        tree_item item;
        item.attributes = ::GetFileAttributesW(path.c_str());
        item.folder = fs::is_directory(path, error);
        if (!item.folder) {
            item.size = fs::file_size(path, error);
            item.crc = crc_of(path);
        }
        tree[lower(path.wstring())] = item;
    };
    std::error_code error;
    if (!fs::exists(root, error))
        return tree;
    add(root);
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        add(it->path());
    return tree;
}

std::vector<std::wstring> tree_differences(const file_tree& before, const file_tree& after) {
    std::vector<std::wstring> lines;
    for (const auto& [path, item] : before) {
        const auto found = after.find(path);
        if (found == after.end())
            lines.push_back(L"removed: " + path);
        else if (!(found->second == item))
            lines.push_back(L"changed: " + path + L" (" + describe(item) + L" -> " + describe(found->second) + L")");
    }
    for (const auto& [path, item] : after) {
        if (!before.contains(path))
            lines.push_back(L"added: " + path + L" (" + describe(item) + L")");
    }
    return lines;
}

} // namespace testing_support
