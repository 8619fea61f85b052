#include "installer/payload/folder_templates.hpp"

#include "installer/payload/compress_error.hpp"
#include "installer/payload/extraction_failure.hpp"
#include "installer/payload/linked_folders.hpp"
#include "installer/payload/payload_extractor.hpp"
#include "foundation/system/path.hpp"
#include "foundation/ui/window.hpp"

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
};

// The templates that name a shell folder, in the order they are matched.
constexpr std::array<shell_template, 10> shell_templates{{
    {L"<ProgramFiles>", CSIDL_PROGRAM_FILES, std::nullopt, false},
    {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON, std::nullopt, false},
    {L"<CommonData>", CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true},
    {L"<UserData>", CSIDL_APPDATA, std::nullopt, false},
    {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true},
    {L"<Documents>", CSIDL_PERSONAL, std::nullopt, false},
    {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true},
    {L"<Desktop>", CSIDL_DESKTOPDIRECTORY, std::nullopt, false},
    {L"<WinDir>", CSIDL_WINDOWS, std::nullopt, false},
    {L"<System>", CSIDL_SYSTEM, std::nullopt, false},
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
        fs::path joined = checked_base(shell_folder_path(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY));
        for (const auto& folder : template_components(samples_folder_))
            joined = append_checked(joined, folder);
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

    fs::path folder = checked_base(template_base(first));
    const auto entry = std::find_if(shell_templates.begin(), shell_templates.end(),
                                    [&](const shell_template& t) { return t.name == first; });
    const bool shared = entry != shell_templates.end() && entry->shared;
    for (std::size_t i = 1; i < components.size(); ++i) {
        folder = append_checked(folder, components[i]);
        if (shared)
            add_shared_folder(folder);
    }
    return folder;
}

void payload_extractor::add_shared_folder(const fs::path& folder) {
    const bool listed = std::any_of(shared_folders_.begin(), shared_folders_.end(),
                                    [&](const shared_folder& s) { return vd::same_path(s.folder, folder); });
    if (!listed)
        shared_folders_.push_back({folder.wstring(), false});
}

std::unique_ptr<std::ofstream> payload_extractor::open_target(const fs::path& target) {
    // Looked at again here: the callback has made folders since the file was announced.
    refuse_linked_shared_folders(shared_folders_, target);
    clear_runtime_errors();
    if (fs::exists(target)) {
        clear_runtime_errors();
        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);  // clears read-only
    } else {
        clear_runtime_errors();
        const auto parent = target.parent_path();
        if (!parent.empty() && !fs::exists(parent))
            fs::create_directories(parent);
    }
    grant_shared_folders(target.parent_path());
    clear_runtime_errors();
    return std::make_unique<std::ofstream>(target, std::ios::binary | std::ios::out | std::ios::trunc);
}

// Opens each listed folder to all users once, through the first file written in or below
// it, before that file exists, so that the file inherits the users' access.
void payload_extractor::grant_shared_folders(const fs::path& folder) {
    for (auto& shared : shared_folders_) {
        if (shared.granted)
            continue;
        for (fs::path current = folder;;) {
            std::error_code error;
            const auto status = fs::status(current, error);
            if (error && status.type() != fs::file_type::not_found && status.type() != fs::file_type::unknown)
                throw fs::filesystem_error("status", current, error);
            if (!fs::is_directory(status))
                break;
            if (vd::same_path(current, shared.folder)) {
                shared.granted = true;
                grant_users_on_folder(current, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
                break;
            }
            const auto parent = current.parent_path();
            if (parent.native().size() >= current.native().size())
                break;
            current = parent;
        }
    }
}
