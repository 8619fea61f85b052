#include "installer/wizard/dlg_start.hpp"

#include <utility>

#include <fmt/xchar.h>

#include "foundation/language/language_state.hpp"
#include "foundation/ui/message_box.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/startup/installer_texts.hpp"

namespace {

constexpr int language_label = 1022;
constexpr int language_box = 1023;
constexpr int legal_line = 1020;
constexpr int state_line = 1016;
constexpr int hint_line = 1003;

std::wstring format_string(unsigned id, const auto&... arguments) {
    return fmt::format(fmt::runtime(installer_settings::instance().load_string(id)), arguments...);
}

// The language's own name, with a capital first letter: locales name most languages in lower
// case ("français").
std::wstring list_name(std::uint32_t language) {
    std::wstring name = vd::native_language_name(vd::language_lcid(language));
    if (!name.empty()) {
        // The first character may be a surrogate pair.
        const wchar_t* second = ::CharNextW(name.c_str());
        ::CharUpperBuffW(name.data(), static_cast<DWORD>(second - name.c_str()));
    }
    return name;
}

} // namespace

start_texts start_state_texts(std::int32_t state, const std::wstring& installed_version) {
    const installer_settings& settings = installer_settings::instance();
    const std::wstring product = product_name(false);
    const std::wstring next = settings.load_string(1006);
    const std::wstring cancel = settings.load_string(1002);
    switch (state) {
    case -1:
        return {format_string(1100, product) + L"\n" + format_string(1103, installed_version),
                format_string(1107, cancel)};
    case 0:
        return {format_string(1100, product), format_string(1106, next)};
    case 1:
        return {format_string(1102, product) + L"\n" + settings.load_string(1104),
                format_string(1105, next, cancel)};
    default:
        return {format_string(1101, installed_version, product), format_string(1106, next)};
    }
}

std::wstring untranslated_language_notice() {
    return format_string(1129, product_name(true));
}

dlg_start& dlg_start::instance() {
    static dlg_start page;
    return page;
}

void dlg_start::set_texts() {
    const installer_settings& settings = installer_settings::instance();
    set_window_text(::GetDlgItem(hwnd(), language_label), settings.load_string(1014));
    set_window_text(::GetDlgItem(hwnd(), legal_line), format_string(1109, product_name(false)));
    const start_texts texts = start_state_texts(settings.state, settings.previous_version_text);
    set_window_text(::GetDlgItem(hwnd(), state_line), texts.state);
    set_window_text(::GetDlgItem(hwnd(), hint_line), texts.hint);
}

int dlg_start::add_language(std::uint32_t language, std::uint16_t icon) {
    std::wstring name = list_name(language);

    // Loaded at the flag's own size: any other size would have the system stretch it twice,
    // once here and once more into the list's images.
    int image = -1;
    const vd::unique_hicon flag{static_cast<HICON>(
        ::LoadImageW(vd::resource_module(), MAKEINTRESOURCEW(icon), IMAGE_ICON, flag_width, flag_height, 0))};
    if (flags_)
        image = ::ImageList_ReplaceIcon(flags_.get(), -1, flag.get());

    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    item.iItem = next_item_;
    item.pszText = name.data();
    item.iImage = image;
    item.iSelectedImage = image;
    item.lParam = static_cast<LPARAM>(language);
    const auto position = static_cast<int>(
        ::SendDlgItemMessageW(hwnd(), language_box, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (position >= 0)
        next_item_ = position + 1;
    return position;
}

void dlg_start::set_wizard_retext(std::function<void()> retext) {
    wizard_retext_ = std::move(retext);
}

void dlg_start::retext_wizard() {
    if (wizard_retext_)
        wizard_retext_();
    else
        set_texts();
}

void dlg_start::on_init() {
    // Without a list the page still offers every language, only without flags.
    flags_.reset(::ImageList_Create(flag_width, flag_height, ILC_COLOR24, 8, 1));
    next_item_ = 0;

    const std::uint32_t current = vd::language_state::instance().language;
    int selection = -1;
    for (const offered_language& offered : offered_languages) {
        const int position = add_language(offered.language, offered.icon);
        if (offered.language == current)
            selection = position;
    }

    const HWND box = ::GetDlgItem(hwnd(), language_box);
    ::SendMessageW(box, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(flags_.get()));
    // The drop-down list shows whole items only.
    if (const auto inner = reinterpret_cast<HWND>(::SendMessageW(box, CBEM_GETCOMBOCONTROL, 0, 0)))
        ::SetWindowLongW(inner, GWL_STYLE, ::GetWindowLongW(inner, GWL_STYLE) & ~CBS_NOINTEGRALHEIGHT);
    // -1: a language the list does not offer leaves the box empty.
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

void dlg_start::on_size(std::uint32_t width, std::uint32_t height) {
    const anchored_control controls[] = {
        {anchor_widen, ::GetDlgItem(hwnd(), language_box)},
        {anchor_widen, ::GetDlgItem(hwnd(), legal_line)},
        {anchor_widen | anchor_heighten, ::GetDlgItem(hwnd(), state_line)},
        {anchor_bottom | anchor_widen, ::GetDlgItem(hwnd(), hint_line)},
    };
    layout_anchored(width, height, controls);
}

bool dlg_start::on_command(std::uint16_t id, std::uint16_t code) {
    if (id != language_box || code != CBN_SELCHANGE)
        return false;
    const HWND box = ::GetDlgItem(hwnd(), language_box);
    const auto position = ::SendMessageW(box, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR)
        return true;
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_LPARAM;
    item.iItem = position;
    if (!::SendMessageW(box, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return true;
    apply_ui_language(static_cast<std::uint32_t>(item.lParam));
    return true;
}

void apply_ui_language(std::uint32_t language) {
    vd::set_ui_language(language);
    if (!has_translation(static_cast<int>(language))) {
        const std::wstring notice = untranslated_language_notice();
        vd::message_box(notice.c_str(), installer_settings::instance().title(true).c_str(),
                        MB_ICONINFORMATION);
    }
    dlg_start::instance().retext_wizard();
}
