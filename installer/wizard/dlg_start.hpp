// The wizard's first page (dialog 132): the language of the product and of the wizard, chosen
// from a list with flags, and what the installation will do. Choosing a language re-texts the
// whole wizard at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <windows.h>
#include <commctrl.h>

#include "foundation/system/unique_any.hpp"
#include "installer/wizard/basic_dialog.hpp"

// A language of the list, in list order: its UI language index and its flag's icon id.
struct offered_language {
    std::uint32_t language;
    std::uint16_t icon;
};

// Danish, Bulgarian, Norwegian, Japanese, Slovenian and Russian are not offered.
inline constexpr std::array<offered_language, 18> offered_languages{{
    {0, 144},  {1, 145},  {2, 141},  {11, 146}, {3, 143},  {4, 148},
    {5, 147},  {15, 156}, {12, 153}, {19, 161}, {9, 151},  {20, 162},
    {14, 155}, {7, 149},  {16, 157}, {10, 152}, {17, 158}, {21, 163},
}};

// Every flag is one image of this size, shown as it is drawn.
inline constexpr int flag_width = 18;
inline constexpr int flag_height = 12;

// What the page says about the installation, and what to click.
struct start_texts {
    std::wstring state; // the state text: one or two lines
    std::wstring hint;  // the hint line
};

// The texts for an install state (-1 newer installed, 0 not installed, 1 same version, 2 and
// anything else older installed) in the current UI language; installed_version is the installed
// program's version text, read for states -1 and 2.
start_texts start_state_texts(std::int32_t state, const std::wstring& installed_version);

// The notice for a language the wizard has no texts in: the product is installed in it, the
// wizard goes on in English.
std::wstring untranslated_language_notice();

class dlg_start final : public basic_dialog {
public:
    static dlg_start& instance();

    void set_texts() override;

    // Appends a language with its flag to the language box; the position it took, or -1.
    int add_language(std::uint32_t language, std::uint16_t icon);

    // Who texts the whole wizard anew after a language change: the main window, which texts
    // itself and every page. Without one, only this page is texted again.
    void set_wizard_retext(std::function<void()> retext);
    void retext_wizard();

    // The flags of the language box; null before the page's first window.
    HIMAGELIST flags() const noexcept { return flags_.get(); }

protected:
    void on_init() override;
    void on_size(std::uint32_t width, std::uint32_t height) override;
    bool on_command(std::uint16_t id, std::uint16_t code) override;

private:
    dlg_start() = default;

    // Made anew by each window of the page and kept after it: the language box only borrows it.
    vd::unique_image_list flags_;
    int next_item_ = 0;
    std::function<void()> wizard_retext_;
};

// Makes a language the UI language and the product's, tells the user when the wizard goes on in
// English, and texts the wizard anew.
void apply_ui_language(std::uint32_t language);
