#include "installer/journal/journal_file.hpp"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <istream>
#include <limits>
#include <locale>
#include <sstream>
#include <system_error>

#include <fmt/xchar.h>

#include "foundation/app/identity.hpp"
#include "foundation/text/txtf.hpp"
#include "installer/startup/installer_texts.hpp"

namespace {

constexpr std::wstring_view version_marker = L"Uninstall Log File v";
constexpr std::wstring_view install_marker = L"Install";
// Without their trailing blank: a line whose folder is empty loses it to the trim, and must
// still be found.
constexpr std::wstring_view install_path_marker = L"Install Path :";
constexpr std::wstring_view shortcut_path_marker = L"Shortcut Path :";

// No file system takes a longer name. A longer text can only be damage, and every file call
// made with it would fail all the same (Wine walks such a name for seconds before it does).
constexpr std::size_t longest_path = UNICODE_STRING_MAX_BYTES / sizeof(wchar_t);
// The longest line the writer makes: a name and what stands before it ("0003:0101:1 -- ",
// "// Shortcut Path : "), with room to spare. A longer line is damage, and is passed over as it
// is read: a file that is one line of gigabytes must not be held in memory.
constexpr std::size_t longest_line = longest_path + 64;

// A line read whole, a line of which only the beginning was kept, a last line without its
// end, or nothing left.
enum class line_read { whole, too_long, cut_short, end };

// Reads the next line into line, without its end. Of a line longer than longest_line only its
// beginning is kept; the rest is read and dropped.
line_read next_line(std::wistream& in, std::wstring& line) {
    line.resize(longest_line + 1);
    in.getline(line.data(), static_cast<std::streamsize>(line.size()), L'\n');
    const auto stored = static_cast<std::size_t>(in.gcount());
    if (stored == 0)
        return line_read::end;
    if (in.eof())
        return line_read::cut_short;
    if (!in.fail()) {
        line.resize(stored - 1);  // the line end was read too
        return line_read::whole;
    }
    line.resize(stored);
    in.clear();
    in.ignore(std::numeric_limits<std::streamsize>::max(), L'\n');
    return in.eof() ? line_read::cut_short : line_read::too_long;
}

// White space as the user's locale sees it, as for every other text the installer reads.
bool is_space(wchar_t c) {
    return std::use_facet<std::ctype<wchar_t>>(std::locale()).is(std::ctype_base::space, c);
}

std::wstring_view trim_left(std::wstring_view text) {
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    return text;
}

std::wstring_view trim_right(std::wstring_view text) {
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::wstring_view trim(std::wstring_view text) {
    return trim_left(trim_right(text));
}

// The text of a header line after its marker; nothing when the marker is not there.
std::optional<std::wstring_view> after(std::wstring_view line, std::wstring_view marker) {
    const auto at = line.find(marker);
    if (at == std::wstring_view::npos)
        return std::nullopt;
    return line.substr(at + marker.size());
}

// A folder named by an old header counts only while it is still there.
std::wstring existing_folder(std::wstring_view text) {
    text = trim(text);
    if (text.size() > longest_path)
        return {};
    const std::filesystem::path folder(text);
    std::error_code ec;
    return std::filesystem::status(folder, ec).type() == std::filesystem::file_type::directory ? folder.wstring()
                                                                                               : std::wstring();
}

std::wistringstream parser(std::wstring_view text) {
    std::wistringstream in{std::wstring(text)};
    in.imbue(std::locale::classic());
    return in;
}

// Reads what a journal file says into log; stops quietly at the first thing it cannot use.
void read_journal(uninstall_log& log, const std::wstring& path) {
    vd::txtf::wifstream in(path);
    in.exceptions(std::ios_base::badbit);
    int version = 0;
    int line_number = 0;
    std::wstring line;
    for (line_read read; (read = next_line(in, line)) != line_read::end;) {
        // The writer ends every line and never writes a NUL. A last line without its end is a
        // file cut short, whose text may be cut as well; a name with a NUL in it would stand
        // for the part before the NUL wherever it is used. Both are damage: reading stops.
        if (read == line_read::cut_short || line.find(L'\0') != std::wstring::npos)
            return;
        if (line.empty())
            continue;
        // Only a remark may be too long: any other line is then damage, or (the folders of
        // the header) names no folder.
        const bool too_long = read == line_read::too_long;
        std::wstring_view view = trim_right(line);
        if (view.starts_with(L"//")) {
            view.remove_prefix(std::min(view.find_first_not_of(L'/'), view.size()));
            view = trim_left(view);
            switch (line_number) {
            case 0: {
                const auto rest = after(view, version_marker);
                if (!rest || too_long)
                    return;
                auto number = parser(*rest);
                if (!(number >> version))
                    version = 0;
                if (version != 1)
                    return;
                break;
            }
            case 2: {
                auto rest = after(view, install_marker);
                if (!rest || too_long)
                    return;
                log.previous_install = trim(rest->substr(0, rest->find(L"--")));
                break;
            }
            case 3:
            case 4: {
                const auto rest = after(view, line_number == 3 ? install_path_marker : shortcut_path_marker);
                if (!rest)
                    return;
                (line_number == 3 ? log.install_path : log.shortcut_path) = too_long ? std::wstring() : existing_folder(*rest);
                break;
            }
            default:
                break;
            }
        } else {
            if (version != 1 || too_long)
                return;
            auto item = journal_details::parse_entry_line(view);
            if (!item)
                return;
            log.previous_entries.push_back(std::move(*item));
        }
        ++line_number;
    }
    log.desktop_shortcut = std::ranges::any_of(log.previous_entries, [](const uninstall_log::entry& item) {
        return item.kind == entry_kind::desktop_link;
    });
}

// Moves the new journal over the old one, which was left read-only; the old one keeps its
// attributes when the move fails.
bool replace_journal(const std::wstring& fresh, const std::wstring& journal) {
    const DWORD old_attributes = ::GetFileAttributesW(journal.c_str());
    if (old_attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(fresh.c_str(), journal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (old_attributes != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(journal.c_str(), old_attributes);
        return false;
    }
    ::SetFileAttributesW(journal.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return true;
}

} // namespace

bool uninstall_log::write(const std::wstring& journal, const std::wstring& install, const std::wstring& shortcuts) {
    // The previous installation's entries that this run did not repeat come first, so that the
    // uninstaller still removes what only the earlier installation made.
    merge_previous_entries();

    // The new journal is written beside the old one and then takes its place, so that a
    // journal that cannot be written whole leaves the previous one as it was.
    const std::wstring fresh = journal + L".new";
    ::SetFileAttributesW(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(fresh.c_str());
    bool written = false;
    try {
        {
            vd::txtf::wofstream out(fresh);
            out.exceptions(std::ios_base::failbit | std::ios_base::badbit);
            out << L"// Uninstall Log File v1\n"
                << L"// ############ WARNING: Do not delete or modify this file. ############\n"
                << L"// Install " << product_name(false);
            if (!previous_install.empty())
                out << L" -- Update (" << previous_install << L")";
            out << L"\n// Install Path : " << install << L"\n// Shortcut Path : " << shortcuts << L"\n// "
                << std::wstring(100, L'-') << L"\n";
            std::size_t index = 0;
            for (const auto& item : entries)
                out << journal_details::entry_line(index++, item) << L"\n";
            out.close();
        }
        written = replace_journal(fresh, journal);
    } catch (const std::exception&) {
        written = false;
    }
    if (!written)
        ::DeleteFileW(fresh.c_str());

    delete_backups();
    return written;
}

void uninstall_log::read(const std::wstring& path) {
    install_path.clear();
    shortcut_path.clear();
    desktop_shortcut = true;
    if (path.empty())
        return;
    try {
        read_journal(*this, path);
    } catch (const std::exception&) {
    }
}

namespace journal_details {

std::wstring entry_line(std::size_t index, const uninstall_log::entry& item) {
    const auto kind = static_cast<std::uint32_t>(item.kind);
    const auto code = ((kind & 0xFF) << 8) | (static_cast<std::uint32_t>(item.payload_kind) & 0xFF);
    std::wstring line = fmt::format(L"{:04}:{:04x}:{}", index, code, item.done ? 1 : 0) + L" -- ";
    switch (item.kind) {
    case entry_kind::uninstall_key:
        return line + L"HKEY_LOCAL_MACHINE\\" + uninstall_root + L"\\" + vd::product_display_name(vd::product_code);
    case entry_kind::class_registration:
        return line + L"HKEY_CLASSES_ROOT\\...";
    case entry_kind::directx_update:
        return line + L"DirectX Update";
    default:
        return line + item.path;
    }
}

std::optional<uninstall_log::entry> parse_entry_line(std::wstring_view line) {
    auto in = parser(line);
    int index = 0;
    if (!(in >> index) || index < 0 || in.get() != L':')
        return std::nullopt;
    int code = 0;
    if (!(in >> std::hex >> code))
        return std::nullopt;
    const int kind = code >> 8;
    if (kind < 0 || kind > 7 || in.get() != L':')
        return std::nullopt;
    const auto done = in.get();
    if (done != L'0' && done != L'1')
        return std::nullopt;
    std::wstring separator;
    if (!(in >> separator) || separator != L"--")
        return std::nullopt;
    // A line that ends with "--" is a link that was never made: an entry all the same, with
    // no path.
    const std::wstring_view text = in.eof() ? std::wstring_view() : trim_left(line.substr(static_cast<std::size_t>(in.tellg())));
    if (text.size() > longest_path)
        return std::nullopt;

    uninstall_log::entry item;
    item.kind = static_cast<entry_kind>(kind);
    item.done = done == L'1';
    item.payload_kind = (code & 0xFF) == 0xFF ? -1 : (code & 0xFF);
    // The registry entries always name the product's own keys, whatever the line says.
    if (item.kind != entry_kind::uninstall_key && item.kind != entry_kind::class_registration)
        item.path = text;
    return item;
}

} // namespace journal_details
