#include "foundation/system/folder_tree.hpp"

#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The end of the next run of characters without a separator, from at.
std::size_t end_of_name(const std::wstring& text, std::size_t at) {
    while (at < text.size() && !is_separator(text[at]))
        ++at;
    return at;
}

// The length of the root that a path begins with ("C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\"), separators after it included; 0 when the path has none, or only
// one that depends on a current folder ("C:x", "\x"). The standard library knows no UNC root:
// it would take "\\server\share\x" for a folder below the current drive's root.
std::size_t root_length(const std::wstring& text) {
    const auto skip_separators = [&](std::size_t at) {
        while (at < text.size() && is_separator(text[at]))
            ++at;
        return at;
    };
    const auto drive_at = [&](std::size_t at) {
        const wchar_t letter = text.size() > at + 2 ? text[at] : L'\0';
        return ((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')) && text[at + 1] == L':' &&
               is_separator(text[at + 2]);
    };
    if (drive_at(0))
        return skip_separators(3);
    if (text.size() < 3 || !is_separator(text[0]) || !is_separator(text[1]))
        return 0;
    std::size_t at = 2;
    if (text.compare(2, 2, L"?\\") == 0 || text.compare(2, 2, L".\\") == 0) {
        if (drive_at(4))
            return skip_separators(7);
        if (text.size() < 8 || ::CompareStringOrdinal(text.c_str() + 4, 4, L"UNC\\", 4, TRUE) != CSTR_EQUAL)
            return 0;
        at = 8;
    }
    const std::size_t server = end_of_name(text, at);
    if (server == at || server == text.size())
        return 0;
    const std::size_t share = end_of_name(text, server + 1);
    return share == server + 1 ? 0 : skip_separators(share);
}

[[noreturn]] void throw_failure(const fs::path& folder, DWORD error) {
    throw fs::filesystem_error("create_directories", folder, std::error_code(static_cast<int>(error), std::system_category()));
}

bool is_folder(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_absolute_text(const std::wstring& text) {
    return root_length(text) != 0;
}

} // namespace

namespace vd {

void create_folders(const fs::path& folder) {
    if (is_folder(folder.c_str()))
        return;
    std::wstring text = folder.native();
    const std::size_t root = root_length(text);
    if (root == 0)
        throw_failure(folder, ERROR_BAD_PATHNAME);
    // Each folder from the root down is made in place, the text cut short at its end for the
    // call: no copy of the path per level.
    for (std::size_t at = root; at < text.size();) {
        const std::size_t end = end_of_name(text, at);
        const bool last = end == text.size();
        const wchar_t separator = last ? L'\0' : text[end];
        if (!last)
            text[end] = L'\0';
        if (!::CreateDirectoryW(text.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            // A folder that is there already may answer "access denied" as well as "exists".
            if (!is_folder(text.c_str())) {
                const DWORD attributes = ::GetFileAttributesW(text.c_str());
                throw_failure(folder, attributes != INVALID_FILE_ATTRIBUTES ? ERROR_ALREADY_EXISTS : error);
            }
        }
        if (!last)
            text[end] = separator;
        at = end + 1;
        while (at < text.size() && is_separator(text[at]))
            ++at;
    }
    if (!is_folder(text.c_str()))
        throw_failure(folder, ::GetLastError());
}

namespace details {

HRESULT hresult_of(const fs::filesystem_error& e) {
    const auto& code = e.code();
    if (code.category() == std::system_category())
        return code.value() > 0 ? HRESULT_FROM_WIN32(static_cast<unsigned>(code.value()) & 0xFFFF)
                                : static_cast<HRESULT>(code.value());
    if (code == std::errc::file_exists)
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    return e_unusable_path;
}

} // namespace details

HRESULT create_folder_tree(const wchar_t* text) {
    if (!text)
        return E_INVALIDARG;
    std::wstring trimmed(text);
    trimmed.erase(0, trimmed.find_first_not_of(L" \t"));
    trimmed.erase(trimmed.find_last_not_of(L" \t.") + 1);
    if (trimmed.empty())
        return E_INVALIDARG;
    try {
        fs::path folder(trimmed);
        if (!is_absolute_text(trimmed))
            folder = fs::absolute(folder);
        create_folders(folder);
        return S_OK;
    } catch (const fs::filesystem_error& e) {
        return details::hresult_of(e);
    }
}

} // namespace vd
