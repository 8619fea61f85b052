#include "foundation/system/path.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/unique_any.hpp"

#include <algorithm>
#include <cstdint>
#include <random>
#include <system_error>
#include <vector>

#include <windows.h>
#include <shlwapi.h>

namespace fs = std::filesystem;

namespace vd {

namespace {

bool is_drive_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// "C:\…" or a root name of another kind (a UNC server, "\\?\…"); "C:foo" depends on the drive's
// current folder and is no absolute path.
bool counts_as_absolute(const fs::path& path) {
    const std::wstring& text = path.native();
    if (text.size() >= 3 && is_drive_letter(text[0]) && text[1] == L':' && is_separator(text[2]))
        return true;
    if (!path.has_root_name())
        return false;
    const std::wstring root = path.root_name().native();
    return !(root.size() == 2 && is_drive_letter(root[0]) && root[1] == L':');
}

// "." and ".." resolved by the text alone; the file system is not asked.
fs::path lexical_form(const fs::path& path) {
    if (path.has_root_directory() && !path.has_root_name())
        return path;

    std::vector<fs::path> kept;
    std::size_t leading_parents = 0;
    for (const auto& element : path.relative_path()) {
        const std::wstring& name = element.native();
        if (name.empty() || name == L".")
            continue;
        if (name == L"..") {
            if (kept.empty())
                ++leading_parents;
            else
                kept.pop_back();
            continue;
        }
        kept.push_back(element);
    }

    // The result is put together as text: a path that is appended to element by element
    // takes its whole text apart again each time, which a name of thousands of elements
    // (one from a damaged journal) turns into minutes. An element follows the root as it
    // stands, or another element after a separator, as operator/= would join them.
    std::wstring result;
    bool has_element = false;
    const auto append = [&](const std::wstring& name) {
        if (has_element)
            result += L'\\';
        result += name;
        has_element = true;
    };
    if (leading_parents) {
        // Above the root there is nothing to resolve; the text stays as it was.
        if (path.has_root_name() || path.has_root_directory())
            return path;
        for (std::size_t i = 0; i < leading_parents; ++i)
            append(L"..");
    } else {
        result = path.root_path().lexically_normal().native();
    }
    for (const auto& element : kept)
        append(element.native());
    return fs::path(std::move(result));
}

bool same_element(const fs::path& first, const fs::path& second) {
    const std::wstring& a = first.native();
    const std::wstring& b = second.native();
    if (a.size() != b.size())
        return false;
    // The user's language decides which letters are the same without case, as Explorer does.
    return a.empty() || ::StrIsIntlEqualW(FALSE, a.c_str(), b.c_str(), static_cast<int>(a.size()));
}

std::mt19937& name_engine() {
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

fs::path without_trailing_separator(const fs::path& path) {
    return !path.has_filename() && path.has_relative_path() ? path.parent_path() : path;
}

bool exists_now(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return !error && fs::exists(status);
}

// The identity that std::filesystem::equivalent compares, from one look-up: no access is
// asked for, and backup semantics open a folder as well as a file.
std::optional<file_identity> identity_of(const fs::path& path) {
    const vd::unique_file file{::CreateFileW(without_trailing_separator(path).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    BY_HANDLE_FILE_INFORMATION information;
    if (!file || !::GetFileInformationByHandle(file.get(), &information))
        return std::nullopt;
    return file_identity{information.dwVolumeSerialNumber,
                         std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
}

} // namespace

namespace details {

fs::path normal_form(const fs::path& path) {
    fs::path full = path;
    if (!counts_as_absolute(path)) {
        std::error_code error;
        fs::path made = fs::absolute(path, error);
        if (!error)
            full = std::move(made);
    }
    return lexical_form(full);
}

// The element's length and its sort key without regard to case: two elements get the same
// bytes exactly when same_element finds them equal, since a sort key compares as the strings
// it was made from do.
void append_element_form(std::string& form, const std::wstring& element) {
    const auto append_count = [&](std::uint32_t count) { form.append(reinterpret_cast<const char*>(&count), sizeof count); };
    append_count(static_cast<std::uint32_t>(element.size()));
    if (element.empty()) {
        append_count(0);
        return;
    }
    constexpr DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    const LCID locale = ::GetThreadLocale();
    const int length = static_cast<int>(element.size());
    const int bytes = ::LCMapStringW(locale, flags, element.c_str(), length, nullptr, 0);
    std::string key(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0 && ::LCMapStringW(locale, flags, element.c_str(), length, reinterpret_cast<wchar_t*>(key.data()), bytes) == bytes) {
        append_count(static_cast<std::uint32_t>(key.size()));
        form += key;
        return;
    }
    // No sort key (a text the locale cannot weigh): the element stands for itself.
    append_count(0xFFFFFFFF);
    form.append(reinterpret_cast<const char*>(element.data()), element.size() * sizeof(wchar_t));
}

} // namespace details

bool same_path(const fs::path& first, const fs::path& second) {
    if (first.compare(second) == 0)
        return true;

    // equivalent answers false without an error when just one of the two exists, and the C
    // runtime's stat under it does not find a folder named with a trailing separator: only its
    // answer about two files that both exist is final.
    std::error_code error;
    const bool same_file = fs::equivalent(without_trailing_separator(first), without_trailing_separator(second), error);
    if (!error && (same_file || (exists_now(first) && exists_now(second))))
        return same_file;

    return same_path_text(first, second);
}

fs::path final_path(void* handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            throw_system_error();
        const bool whole = length < path.size();
        path.resize(length);
        if (whole)
            break;
    }
    if (path.starts_with(LR"(\\?\UNC\)"))
        return LR"(\\)" + path.substr(8);
    if (path.starts_with(LR"(\\?\)"))
        return path.substr(4);
    return path;
}

bool same_path_text(const fs::path& first, const fs::path& second) {
    const fs::path a = details::normal_form(first);
    const fs::path b = details::normal_form(second);
    auto left = a.begin();
    auto right = b.begin();
    for (; left != a.end() && right != b.end(); ++left, ++right) {
        if (!same_element(*left, *right))
            return false;
    }
    return left == a.end() && right == b.end();
}

path_key::path_key(const fs::path& path) : identity_(identity_of(path)) {
    for (const auto& element : details::normal_form(path))
        details::append_element_form(form_, element.native());
}

void path_set::insert(const path_key& key) {
    forms_.insert(key.form());
    if (key.identity())
        identities_.insert(*key.identity());
    else
        forms_without_identity_.insert(key.form());
}

bool path_set::contains(const path_key& key) const {
    if (!key.identity())
        return forms_.contains(key.form());
    return identities_.contains(*key.identity()) || forms_without_identity_.contains(key.form());
}

std::wstring random_name(std::wstring pattern) {
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    auto& engine = name_engine();
    for (auto& c : pattern) {
        if (c == L'%')
            c = digits[static_cast<std::uint32_t>(engine()) >> 28];
    }
    return pattern;
}

fs::path unique_temp_path(std::wstring pattern) {
    const fs::path folder = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = folder / random_name(pattern);
        if (!exists_now(candidate))
            return candidate;
    }
}

} // namespace vd
