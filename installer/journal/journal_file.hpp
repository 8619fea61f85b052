// "Uninstall.ulog", the file in which a finished installation describes itself for the
// uninstaller and for the next installation: UTF-16 little-endian with FF FE and CR LF, six
// header lines beginning with "// Uninstall Log File v1", then one line per journal entry,
// "0003:0101:1 -- C:\Program Files\Vandrel\Stelvane 8\Stelvane.exe". uninstall_log::write and
// uninstall_log::read write and read it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "installer/journal/uninstall_log.hpp"

// The file's name, beside the uninstaller.
inline constexpr wchar_t journal_file_name[] = L"Uninstall.ulog";

namespace journal_details {

// The entry's line without its line end: "{:04}:{:04x}:{}", index, kind and payload kind, done,
// then " -- " and the path (or the registry key, class registration or DirectX text).
std::wstring entry_line(std::size_t index, const uninstall_log::entry& item);

// The entry that a line of the file stands for; nothing for a line that is not one, or whose
// text is longer than any path. A line that ends right after "--" (a link that was never made)
// is an entry with an empty path.
std::optional<uninstall_log::entry> parse_entry_line(std::wstring_view line);

} // namespace journal_details
