// Version resources (VS_VERSIONINFO blocks): this program's own, read in place, and copies of
// other files' blocks. They give the file version, the block's string values and the version
// text shown in captions and the About box. Only Unicode (code page 1200) strings are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace vd {

class version_info {
public:
    // Takes buffer as the block, or uses the size bytes at data in place when data is given
    // (the caller keeps them alive). A missing block (size 0) reads as empty everywhere.
    explicit version_info(std::vector<std::byte> buffer, const void* data = nullptr,
                          std::size_t size = 0);

    version_info(version_info&&) noexcept = default;
    version_info& operator=(version_info&&) noexcept = default;

    // Major, minor, build and revision from the highest 16 bits down; 0 without a fixed part.
    std::uint64_t file_version() const noexcept;

    // Whether the block has a fixed part: a file version of 0 is then the file's own (0.0.0.0),
    // not the lack of one.
    bool has_file_version() const noexcept { return fixed_ != nullptr; }

    // The named value of the first Unicode translation's string table; "" when absent.
    std::wstring string_value(std::wstring_view name) const;

    std::wstring product_name() const { return string_value(L"ProductName"); }
    std::wstring product_version() const { return string_value(L"ProductVersion"); }
    std::wstring legal_copyright() const { return string_value(L"LegalCopyright"); }

    // The product name as shown. Only other products of the maker name editions, so here it
    // is always ProductName.
    std::wstring edition_product_name() const;

    // Product name and version, with the block's pre-release, private and debug marks.
    std::wstring version_text() const;

    // The keys ("040004b0") of the Unicode translations, in the block's order.
    const std::vector<std::wstring>& translation_keys() const noexcept { return keys_; }

private:
    std::vector<std::byte> buffer_;
    const void* data_ = nullptr;
    std::size_t size_ = 0;
    const VS_FIXEDFILEINFO* fixed_ = nullptr;
    std::vector<std::wstring> keys_;
};

// This program's own block, used in place; it stays valid while the program runs.
version_info module_version_info();

// A copy of a file's block; empty when the file has none or cannot be read.
version_info file_version_info(const std::wstring& path);

// The raw block of a file, as GetFileVersionInfoW gives it; empty on any failure.
std::vector<std::byte> load_file_version_block(const std::wstring& path);

} // namespace vd
