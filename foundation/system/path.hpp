// Path questions the installer asks of the file system: whether two names mean the same file
// or folder, and a free name in the temporary folder for a backup copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>

namespace vd {

// True when the two paths name the same file or folder, whether they exist or not: by their
// text, then by the file system's identity, then by their absolute normal forms compared
// without regard to case. File-system errors are no failure here.
bool same_path(const std::filesystem::path& first, const std::filesystem::path& second);

// True when the two paths are the same by their absolute normal forms alone, compared without
// regard to case. The file system is not asked which files they name: a path that leads
// through a link is not the same as the path of the link's target.
bool same_path_text(const std::filesystem::path& first, const std::filesystem::path& second);

// The path of the file or folder that handle holds, every link on the way resolved, as the
// system names it now, without the "\\?\" it puts before it. Throws std::system_error.
std::filesystem::path final_path(void* handle);

// Visits the folders of path from the one that ends after offset from down to path itself, each
// as a text of its own: path is cut short in place at each level (and mended afterwards), so a
// path of thousands of levels costs no copy per level. visit(level, length) returns false to
// stop the walk; the result is false then.
template <class Visit>
bool for_each_level(std::wstring& path, std::size_t from, Visit visit) {
    const auto is_separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const std::size_t length = path.size();
    for (std::size_t end = from; end < length;) {
        while (end < length && is_separator(path[end]))
            ++end;
        while (end < length && !is_separator(path[end]))
            ++end;
        const wchar_t cut = path[end];
        path[end] = L'\0';
        const bool go_on = visit(static_cast<const wchar_t*>(path.c_str()), end);
        path[end] = cut;
        if (!go_on)
            return false;
    }
    return true;
}

// pattern with each '%' replaced by a random lower-case hexadecimal digit.
std::wstring random_name(std::wstring pattern);

// The temporary folder joined with random_name(pattern), drawn again while such a file exists. The pattern must hold a '%'.
// Nothing is created. Throws std::filesystem::filesystem_error when there is no temporary
// folder.
std::filesystem::path unique_temp_path(std::wstring pattern);

// Which file a path names on its volume, as the file system tells: volume serial number and
// file index.
struct file_identity {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const file_identity&, const file_identity&) = default;
};

// What same_path looks at, worked out once for one path: its normal form as the text that
// decides equality without regard to case, and its file identity while the file exists. Two
// keys are the same path when same_path would say so: the identities decide where both files
// exist, the normal forms otherwise. Many paths can then be matched against each other without
// asking the file system for every pair.
class path_key {
public:
    explicit path_key(const std::filesystem::path& path);

    const std::optional<file_identity>& identity() const noexcept { return identity_; }
    const std::string& form() const noexcept { return form_; }

    friend bool operator==(const path_key& a, const path_key& b) {
        return a.identity_ && b.identity_ ? *a.identity_ == *b.identity_ : a.form_ == b.form_;
    }

private:
    std::optional<file_identity> identity_;
    std::string form_;
};

// A set of paths that answers, without comparing pairs, whether it holds one that is the same
// path as a given one.
class path_set {
public:
    void insert(const path_key& key);
    bool contains(const path_key& key) const;

private:
    struct identity_hash {
        std::size_t operator()(const file_identity& id) const noexcept {
            return std::hash<std::uint64_t>{}(id.index ^ (std::uint64_t{id.volume} << 32 | id.volume));
        }
    };
    std::unordered_set<file_identity, identity_hash> identities_;
    std::unordered_set<std::string> forms_;
    // Paths that did not exist when their key was made match an existing one by form alone.
    std::unordered_set<std::string> forms_without_identity_;
};

namespace details {

// The absolute form of a path with "." and ".." resolved by its text alone; the form that
// same_path compares when the file system cannot tell.
std::filesystem::path normal_form(const std::filesystem::path& path);

// Appends one element of a normal form to form as path_key compares it: equal bytes for
// elements that same_path finds equal.
void append_element_form(std::string& form, const std::wstring& element);

} // namespace details

} // namespace vd
