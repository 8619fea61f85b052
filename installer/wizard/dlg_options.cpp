#include "installer/wizard/dlg_options.hpp"

#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fmt/xchar.h>
#include <knownfolders.h>
#include <shlwapi.h>

#include "foundation/app/identity.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/ui/folder_browser.hpp"
#include "foundation/ui/message_box.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/startup/installer_texts.hpp"

namespace {

constexpr int folder_frame = 1008;
constexpr int folder_prompt = 1009;
constexpr int folder_box = 1007;
constexpr int browse_button = 1006;
constexpr int start_menu_box = 1011;
constexpr int desktop_box = 1010;
constexpr int hint_line = 1003;

std::wstring folder_prompt_text() {
    const installer_settings& settings = installer_settings::instance();
    return fmt::format(fmt::runtime(settings.load_string(1111)), product_name(true));
}

// This compiler's standard library knows no UNC root names: \\server\share would read as a
// folder under the root of the Program Files drive. The system resolves such a path instead, and
// it is taken only with a server and a share.
std::optional<std::wstring> unc_folder(const std::wstring& text) {
    std::wstring full(::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD length = ::GetFullPathNameW(text.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size())
        return std::nullopt;
    full.resize(length);
    std::wstring root = full;
    ::PathStripToRootW(root.data());
    if (!::PathIsUNCServerShareW(root.c_str()))
        return std::nullopt;
    return full;
}

// Sets a flag for as long as it lives, and puts back what it was, also when an exception passes.
class raised_flag {
public:
    explicit raised_flag(bool& flag) : flag_(flag), saved_(std::exchange(flag, true)) {}
    ~raised_flag() { flag_ = saved_; }
    raised_flag(const raised_flag&) = delete;
    raised_flag& operator=(const raised_flag&) = delete;

private:
    bool& flag_;
    bool saved_;
};

} // namespace

std::optional<std::wstring> typed_install_folder(const std::wstring& typed, const std::wstring& default_folder) {
    // Nothing typed would name Program Files itself (the system drops the blanks that end a
    // name), and the product would be installed loose in it.
    if (typed.find_first_not_of(L' ') == std::wstring::npos)
        return std::nullopt;
    std::filesystem::path folder(typed);
    folder.make_preferred();
    if (::PathIsUNCW(folder.c_str()))
        return unc_folder(folder.native());
    if (!folder.is_absolute())
        folder = std::filesystem::path(default_folder) / folder;
    folder = folder.lexically_normal();
    // A drive-relative or rootless folder would be resolved against whatever the current
    // directory is when the files are written.
    if (!folder.is_absolute())
        return std::nullopt;
    return folder.wstring();
}

dlg_options& dlg_options::instance() {
    static dlg_options page;
    return page;
}

void dlg_options::set_texts() {
    const installer_settings& settings = installer_settings::instance();
    set_window_text(::GetDlgItem(hwnd(), folder_frame), settings.load_string(1010));
    set_window_text(::GetDlgItem(hwnd(), folder_prompt), folder_prompt_text());
    set_window_text(::GetDlgItem(hwnd(), browse_button), settings.load_string(1008));
    set_window_text(::GetDlgItem(hwnd(), start_menu_box), settings.load_string(1112));
    set_window_text(::GetDlgItem(hwnd(), desktop_box), settings.load_string(1113));
    set_window_text(::GetDlgItem(hwnd(), hint_line),
                    fmt::format(fmt::runtime(settings.load_string(1106)), settings.load_string(1006)));
}

void dlg_options::on_init() {
    const installer_settings& settings = installer_settings::instance();
    default_folder_text_ = get_known_folder(FOLDERID_ProgramFiles, true);
    show_folder(settings.install_folder);
    if (settings.state != 0) {
        ::EnableWindow(::GetDlgItem(hwnd(), folder_prompt), FALSE);
        ::SendDlgItemMessageW(hwnd(), folder_box, EM_SETREADONLY, TRUE, 0);
        ::EnableWindow(::GetDlgItem(hwnd(), browse_button), FALSE);
    }
    ::CheckDlgButton(hwnd(), start_menu_box, settings.start_menu_shortcut ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(hwnd(), desktop_box, settings.desktop_shortcut ? BST_CHECKED : BST_UNCHECKED);
}

void dlg_options::on_size(std::uint32_t width, std::uint32_t height) {
    const std::array<anchored_control, 7> anchors{{
        {anchor_widen, ::GetDlgItem(hwnd(), folder_frame)},
        {anchor_widen, ::GetDlgItem(hwnd(), folder_prompt)},
        {anchor_widen, ::GetDlgItem(hwnd(), folder_box)},
        {anchor_right, ::GetDlgItem(hwnd(), browse_button)},
        {anchor_widen, ::GetDlgItem(hwnd(), start_menu_box)},
        {anchor_widen, ::GetDlgItem(hwnd(), desktop_box)},
        {anchor_bottom | anchor_widen, ::GetDlgItem(hwnd(), hint_line)},
    }};
    layout_anchored(width, height, anchors);
}

bool dlg_options::on_command(std::uint16_t id, std::uint16_t code) {
    installer_settings& settings = installer_settings::instance();
    switch (id) {
    case browse_button:
        browse();
        return true;
    case folder_box:
        if (code != EN_UPDATE || setting_text_)
            return false;
        if (auto folder = typed_install_folder(vd::window_text(::GetDlgItem(hwnd(), folder_box)), default_folder_text_))
            settings.install_folder = std::move(*folder);
        return true;
    case start_menu_box:
        settings.start_menu_shortcut = ::IsDlgButtonChecked(hwnd(), start_menu_box) != 0;
        return true;
    case desktop_box:
        settings.desktop_shortcut = ::IsDlgButtonChecked(hwnd(), desktop_box) != 0;
        return true;
    default:
        return false;
    }
}

void dlg_options::show_folder(const std::wstring& folder) {
    const raised_flag setting(setting_text_);
    set_window_text(::GetDlgItem(hwnd(), folder_box), folder);
}

void dlg_options::browse() {
    installer_settings& settings = installer_settings::instance();
    const std::wstring prompt = folder_prompt_text();
    std::wstring folder = settings.install_folder;
    const std::wstring subfolder = vd::product_display_name(vd::product_code);
    // The picker offers the product's own folder under whatever the user picks.
    std::wstring chosen = vd::browse_for_folder(folder, subfolder.c_str(), prompt.c_str());
    if (chosen.empty())
        return;
    settings.install_folder = std::move(chosen);
    show_folder(settings.install_folder);
}
