#include "installer/payload/folder_templates.hpp"

#include "installer/payload/compress_error.hpp"
#include "installer/payload/extraction_failure.hpp"
#include "installer/payload/linked_folders.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/folder_tree.hpp"
#include "foundation/system/path.hpp"
#include "foundation/ui/window.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include <windows.h>
#include <shlobj.h>

namespace fs = std::filesystem;

namespace {

struct shell_template {
    std::wstring_view name;
    int csidl;
    std::optional<int> fallback;
    bool shared;  // every folder below the base is opened to all users
    // Users may make and change folders below the base: nothing goes through a link there.
    bool users_write;
};

// The templates that name a shell folder, in the order they are matched.
constexpr std::array<shell_template, 10> shell_templates{{
    {L"<ProgramFiles>", CSIDL_PROGRAM_FILES, std::nullopt, false, false},
    {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON, std::nullopt, false, false},
    {L"<CommonData>", CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true, true},
    {L"<UserData>", CSIDL_APPDATA, std::nullopt, false, true},
    {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true, true},
    {L"<Documents>", CSIDL_PERSONAL, std::nullopt, false, true},
    {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true, true},
    {L"<Desktop>", CSIDL_DESKTOPDIRECTORY, std::nullopt, false, true},
    {L"<WinDir>", CSIDL_WINDOWS, std::nullopt, false, false},
    {L"<System>", CSIDL_SYSTEM, std::nullopt, false, false},
}};

std::wstring query_shell_folder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    // Only whether the buffer holds a folder counts; the HRESULT says nothing more.
    ::SHGetFolderPathW(vd::active_window(), csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

bool is_template_name(const std::wstring& component) {
    return component.size() >= 2 && component.front() == L'<' && component.back() == L'>';
}

} // namespace

void refuse_overlong_names(const fs::path& target) {
    // NTFS, FAT's long names, exFAT and ReFS alike; the system's answer to a longer one is not
    // about its length (a name that is not valid, or a file not found).
    constexpr std::size_t longest_name = 255;
    const std::wstring& text = target.native();
    for (std::size_t start = 0; start < text.size();) {
        const auto end = std::min(text.find_first_of(L"\\/", start), text.size());
        if (end - start > longest_name)
            vd::throw_system_error(ERROR_FILENAME_EXCED_RANGE);
        start = end + 1;
    }
}

fs::path shell_folder_path(int csidl, std::optional<int> fallback) {
    auto folder = query_shell_folder(csidl);
    if (folder.empty() && fallback)
        folder = query_shell_folder(*fallback);
    if (folder.empty())
        throw_compress_error(compress_error::unexpected);
    return folder;
}

// The base folder of a template name; empty for a name that is not a template.
fs::path payload_extractor::template_base(const std::wstring& name) {
    if (name == L"<InstallPath>")
        return install_folder_;
    if (name == L"<SamplePath>") {
        if (samples_folder_.empty())
            return shell_folder_path(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY);
        if (fs::path(samples_folder_).is_absolute())
            return samples_folder_;
        std::wstring joined = checked_base(shell_folder_path(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY)).native();
        guard_below(joined);
        for (const auto& folder : template_components(samples_folder_))
            append_checked(joined, folder);
        add_shared_folder(joined);
        return joined;
    }
    for (const auto& entry : shell_templates) {
        if (name == entry.name)
            return shell_folder_path(entry.csidl, entry.fallback);
    }
    if (name == L"<Temporary>")
        return temporary_folder_.empty() ? install_folder_ : temporary_folder_;
    return {};
}

fs::path payload_extractor::expand_folder_template(const std::wstring& folder_template) {
    const auto components = template_components(folder_template);
    const auto& first = components.front();
    if (!is_template_name(first))
        return checked_base(folder_template);  // a plain folder, used as it stands

    std::wstring folder = checked_base(template_base(first)).native();
    const auto entry = std::find_if(shell_templates.begin(), shell_templates.end(),
                                    [&](const shell_template& t) { return t.name == first; });
    const bool shared = entry != shell_templates.end() && entry->shared;
    if (entry != shell_templates.end() && entry->users_write)
        guard_below(folder);
    // Each folder below a shared base is listed as one step below the one before it.
    std::size_t node = shared ? shared_node_of(folder) : 0;
    for (std::size_t i = 1; i < components.size(); ++i) {
        append_checked(folder, components[i]);
        if (shared)
            list_shared(node = shared_child(node, components[i], true));
    }
    return folder;
}

// The node of a folder's normal form, made as needed.
std::size_t payload_extractor::shared_node_of(const fs::path& folder) {
    std::size_t node = 0;
    for (const auto& element : vd::details::normal_form(folder))
        node = shared_child(node, element.native(), true);
    return node;
}

// The child of parent named name, or no_listing when there is none and add is false.
std::size_t payload_extractor::shared_child(std::size_t parent, const std::wstring& name, bool add) {
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    vd::details::append_element_form(key, name);
    const auto found = shared_children_.find(key);
    if (found != shared_children_.end())
        return found->second;
    if (!add)
        return no_listing;
    shared_nodes_.push_back({parent, name, no_listing});
    shared_children_.emplace(std::move(key), shared_nodes_.size() - 1);
    return shared_nodes_.size() - 1;
}

void payload_extractor::list_shared(std::size_t node) {
    if (shared_nodes_[node].listed != no_listing)
        return;
    shared_nodes_[node].listed = listed_.size();
    listed_.push_back({node, false});
    ++ungranted_;
}

void payload_extractor::add_shared_folder(const fs::path& folder) {
    list_shared(shared_node_of(folder));
}

void payload_extractor::guard_below(const fs::path& folder) {
    shared_nodes_[shared_node_of(folder)].guards_below = true;
}

std::vector<payload_extractor::shared_folder> payload_extractor::shared_folders() const {
    std::vector<shared_folder> folders;
    for (const auto& listed : listed_) {
        std::vector<const std::wstring*> names;
        for (std::size_t node = listed.node; node != 0; node = shared_nodes_[node].parent)
            names.push_back(&shared_nodes_[node].name);
        std::wstring folder;
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            const std::wstring& text = **name;
            if (!folder.empty() && folder.back() != L'\\' && text != L"\\")
                folder += L'\\';
            folder += text;
        }
        folders.push_back({std::move(folder), listed.granted});
    }
    return folders;
}

vd::unique_file payload_extractor::open_target(const fs::path& target, const std::wstring& checked_below) {
    const auto parent = target.parent_path();
    vd::unique_file folder;
    clear_runtime_errors();
    if (!checked_below.empty())
        folder = checked_folders(checked_below, parent, target, true);
    else if (!parent.empty() && !fs::is_directory(parent))
        vd::create_folders(parent);
    grant_shared_folders(parent, checked_below);
    // Made in its folder, held meanwhile; never truncated before it has passed its check.
    auto file = create_checked_file(folder.get(), checked_below, target);
    if (!::SetEndOfFile(file.get()))
        vd::throw_system_error();
    return file;
}

// The listed shared folders at or above a folder, outermost first, found in the tree without
// the disk: each its index in listed_ and the length of its text in form. Also the folder that
// everything below is checked against: the one above the outermost listed folder, or the
// outermost base that users may write below, whichever comes first.
payload_extractor::folders_above payload_extractor::shared_folders_above(const fs::path& form) {
    const std::wstring& text = form.native();
    folders_above above;
    std::size_t node = 0;
    std::size_t end = 0;
    bool below_guard = false;
    for (const auto& element : form) {
        node = shared_child(node, element.native(), false);
        if (node == no_listing)
            break;
        const auto above_element = end;
        const auto at = text.find(element.native(), end);
        end = at == std::wstring::npos ? text.size() : at + element.native().size();
        const auto& current = shared_nodes_[node];
        if (!above.checked_below && (below_guard || current.listed != no_listing))
            above.checked_below = above_element;
        below_guard = below_guard || current.guards_below;
        if (current.listed != no_listing)
            above.listed.push_back({current.listed, end});
    }
    // Further below a guarded base than the tree knows, or right in it: checked against it.
    if (!above.checked_below && below_guard)
        above.checked_below = end;
    return above;
}

std::wstring payload_extractor::checked_base_of(const fs::path& file) {
    const fs::path form = vd::details::normal_form(file.parent_path());
    const auto length = shared_folders_above(form).checked_below;
    if (!length)
        return {};
    std::wstring base = form.native().substr(0, *length);
    if (base.size() > 3 && (base.back() == L'\\' || base.back() == L'/'))
        base.pop_back();
    return base;
}

// Opens each listed folder to all users once, through the first file written in or below
// it, before that file exists, so that the file inherits the users' access. The disk is asked
// only whether the file's folder is there, which makes every folder above it a folder too; each
// grant goes through a handle checked against the folder users may change above it.
void payload_extractor::grant_shared_folders(const fs::path& folder, const std::wstring& checked_below) {
    if (ungranted_ == 0)
        return;
    const fs::path form = vd::details::normal_form(folder);
    auto above = std::move(shared_folders_above(form).listed);
    std::erase_if(above, [&](const listed_above& item) { return listed_[item.listed].granted; });
    if (above.empty())
        return;

    std::error_code error;
    const auto status = fs::status(folder, error);
    if (error && status.type() != fs::file_type::not_found && status.type() != fs::file_type::unknown)
        throw fs::filesystem_error("status", folder, error);
    if (!fs::is_directory(status))
        return;
    std::ranges::sort(above, {}, &listed_above::listed);
    std::vector<fs::path> folders;
    for (const auto& item : above) {
        listed_[item.listed].granted = true;
        --ungranted_;
        folders.emplace_back(form.native().substr(0, item.length));
    }
    grant_users_on_folders(checked_below, folders, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}
