// The start page built from the installer's own template, flags and string tables: what it
// says for each install state, the languages it lists with their flags as drawn, which one it
// selects, and what choosing one does, driven by control id as a user would.
#include "installer/wizard/dlg_start.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/language/language_state.hpp"
#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "support/box_answerer.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"

namespace {

using testing_support::ui_language_scope;
using testing_support::unique_window;

constexpr int language_box = 1023;

vd::unique_module load_setup() {
    return vd::unique_module{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
}

// The install state the page reads, and the main window's re-texting, for one test.
class page_world {
public:
    page_world(std::int32_t state, std::wstring installed_version) {
        settings_.state = state;
        settings_.previous_version_text = std::move(installed_version);
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES};
        ::InitCommonControlsEx(&classes);
    }
    ~page_world() {
        settings_.state = saved_state_;
        settings_.previous_version_text = saved_version_;
        dlg_start::instance().set_wizard_retext({});
    }
    page_world(const page_world&) = delete;
    page_world& operator=(const page_world&) = delete;

    // A captioned top-level window holding the page, as the main window does.
    unique_window owner{::CreateWindowExW(0, WC_DIALOG, L"", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 600,
                                          300, nullptr, nullptr, nullptr, nullptr)};

    unique_window create_page(HMODULE setup) {
        return unique_window{::CreateDialogParamW(setup, MAKEINTRESOURCEW(132), owner.get(),
                                                  basic_dialog::dialog_proc,
                                                  reinterpret_cast<LPARAM>(&dlg_start::instance()))};
    }

private:
    installer_settings& settings_ = installer_settings::instance();
    std::int32_t saved_state_ = settings_.state;
    std::wstring saved_version_ = settings_.previous_version_text;
};

struct list_item {
    std::wstring text;
    int image = -1;
    std::uint32_t language = 0;
};

std::vector<list_item> list_items(HWND box) {
    std::vector<list_item> items;
    const auto count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
    for (int position = 0; position < count; ++position) {
        wchar_t text[64] = {};
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_LPARAM;
        item.iItem = position;
        item.pszText = text;
        item.cchTextMax = 64;
        if (!::SendMessageW(box, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            return {};
        items.push_back({text, item.iImage, static_cast<std::uint32_t>(item.lParam)});
    }
    return items;
}

// The language of the selected item; -1 when nothing is selected.
int selected_language(HWND box) {
    const auto position = ::SendMessageW(box, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR)
        return -1;
    return static_cast<int>(list_items(box).at(static_cast<std::size_t>(position)).language);
}

// Selects a language the way a user's click does: the selection, then its notification.
void choose(HWND page, std::uint32_t language) {
    const HWND box = ::GetDlgItem(page, language_box);
    const std::vector<list_item> items = list_items(box);
    for (std::size_t position = 0; position < items.size(); ++position) {
        if (items[position].language == language) {
            ::SendMessageW(box, CB_SETCURSEL, position, 0);
            break;
        }
    }
    ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(language_box, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

// A flag as the program stores it: the colours of its one image, top row first.
std::vector<COLORREF> stored_flag(HMODULE module, std::uint16_t icon) {
    const auto group = vd::find_resource_bytes(module, MAKEINTRESOURCEW(icon), RT_GROUP_ICON);
    if (group.empty())
        return {};
    const int id = ::LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<std::byte*>(group.data())),
                                                 TRUE, flag_width, flag_height, LR_DEFAULTCOLOR);
    const auto image = vd::find_resource_bytes(module, MAKEINTRESOURCEW(id), RT_ICON);
    BITMAPINFOHEADER header{};
    if (image.size() < sizeof(header))
        return {};
    std::memcpy(&header, image.data(), sizeof(header));
    const std::size_t stride = (flag_width * 3 + 3) / 4 * 4;
    if (header.biWidth != flag_width || header.biHeight != 2 * flag_height || header.biBitCount != 24 ||
        image.size() < header.biSize + stride * flag_height)
        return {};
    std::vector<COLORREF> colours;
    for (int y = 0; y < flag_height; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(image.data()) + header.biSize +
                          stride * static_cast<std::size_t>(flag_height - 1 - y); // bottom-up
        for (int x = 0; x < flag_width; ++x)
            colours.push_back(RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    return colours;
}

constexpr COLORREF untouched = RGB(255, 0, 255);

// One image of the list drawn at the top left of a canvas a little larger than a flag, top row
// first; what the image does not cover stays `untouched`.
std::vector<COLORREF> drawn_image(HIMAGELIST list, int index, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const vd::unique_gdi_object canvas{::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    const vd::unique_memory_dc dc{::CreateCompatibleDC(nullptr)};
    if (!canvas || !dc)
        return {};
    auto* pixels = static_cast<std::uint32_t*>(bits);
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::fill(pixels, pixels + count, 0x00FF00FFu); // untouched, as B, G, R, 0
    ::SelectObject(dc.get(), canvas.get());
    ::ImageList_Draw(list, index, dc.get(), 0, 0, ILD_NORMAL);
    ::GdiFlush();
    std::vector<COLORREF> colours;
    for (std::size_t i = 0; i < count; ++i)
        colours.push_back(RGB((pixels[i] >> 16) & 0xFF, (pixels[i] >> 8) & 0xFF, pixels[i] & 0xFF));
    return colours;
}

} // namespace

TEST(dlg_start, says_what_the_installation_will_do) {
    vd::unique_module setup = load_setup();
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    {
        ui_language_scope english(1, setup.get());
        const struct {
            std::int32_t state;
            const wchar_t* version;
            const wchar_t* state_text;
            const wchar_t* hint;
        } cases[] = {
            {-1, L"8.02", L"'Stelvane 8.01' Installation.\nA more recent Version (8.02) is already installed.",
             L"Click on 'Cancel' to exit Installation."},
            {0, L"", L"'Stelvane 8.01' Installation.", L"Click on 'Next' to continue."},
            {1, L"", L"'Stelvane 8.01' is already installed.\nDo you confirm Reinstallation ?",
             L"Click on 'Next' to continue or on 'Cancel' to exit Installation."},
            {2, L"8.00", L"Update from '8.00' to 'Stelvane 8.01'.", L"Click on 'Next' to continue."},
            {7, L"8.00", L"Update from '8.00' to 'Stelvane 8.01'.", L"Click on 'Next' to continue."},
        };
        for (const auto& c : cases) {
            const start_texts texts = start_state_texts(c.state, c.version);
            EXPECT_EQ(texts.state, c.state_text) << c.state;
            EXPECT_EQ(texts.hint, c.hint) << c.state;
        }
    }
    // Told once Polish is the UI language, in which the wizard reads English.
    ui_language_scope polish(15, setup.get());
    EXPECT_EQ(untranslated_language_notice(),
              L"'Stelvane' will be installed in the selected Langage, but the Installer, still under translation, "
              L"shall run in English.");
}

TEST(dlg_start, lists_the_languages_with_their_flags_as_drawn) {
    vd::unique_module setup = load_setup();
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    ui_language_scope english(1, setup.get());
    page_world world(0, L"");
    unique_window page = world.create_page(setup.get());
    ASSERT_TRUE(page) << "error " << ::GetLastError();
    dlg_start::instance().set_texts();

    const std::vector<list_item> items = list_items(::GetDlgItem(page.get(), language_box));
    ASSERT_EQ(items.size(), offered_languages.size());
    for (std::size_t position = 0; position < items.size(); ++position) {
        EXPECT_EQ(items[position].language, offered_languages[position].language) << position;
        EXPECT_EQ(items[position].image, static_cast<int>(position)) << "no flag at " << position;
        const std::wstring& name = items[position].text;
        if (name.empty() && vd::native_language_name(vd::language_lcid(items[position].language)).empty()) {
            // Wine: no locale data for LANGID 081A (Serbian, Latin), so Serbian is listed without a name.
            continue;
        }
        ASSERT_FALSE(name.empty()) << position;
        EXPECT_FALSE(::IsCharLowerW(name[0])) << position;
    }
    EXPECT_EQ(items[0].text, L"Fran\u00e7ais"); // the locale writes "français"
    EXPECT_EQ(items[1].text, L"English");
    EXPECT_EQ(selected_language(::GetDlgItem(page.get(), language_box)), 1);
    EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), 1022)), L"Select Installation Langage");
    EXPECT_EQ(vd::window_text(::GetDlgItem(page.get(), 1020)), L"Stelvane 8.01 \u2013 \u00a9 Vandrel. All rights reserved.");

    // Every flag keeps its drawing: not squeezed to another width and stretched back.
    const HIMAGELIST flags = dlg_start::instance().flags();
    int width = 0, height = 0;
    ASSERT_TRUE(::ImageList_GetIconSize(flags, &width, &height));
    EXPECT_EQ(width, 18);
    EXPECT_EQ(height, 12);
    ASSERT_EQ(::ImageList_GetImageCount(flags), static_cast<int>(offered_languages.size()));
    constexpr int canvas_width = flag_width + 4, canvas_height = flag_height + 4;
    for (std::size_t position = 0; position < offered_languages.size(); ++position) {
        const std::vector<COLORREF> stored = stored_flag(setup.get(), offered_languages[position].icon);
        ASSERT_EQ(stored.size(), static_cast<std::size_t>(flag_width * flag_height)) << position;
        const std::vector<COLORREF> drawn = drawn_image(flags, static_cast<int>(position), canvas_width, canvas_height);
        ASSERT_EQ(drawn.size(), static_cast<std::size_t>(canvas_width * canvas_height));
        int wrong = 0;
        for (int y = 0; y < canvas_height; ++y) {
            for (int x = 0; x < canvas_width; ++x) {
                const COLORREF wanted = x < flag_width && y < flag_height ? stored[y * flag_width + x] : untouched;
                wrong += drawn[y * canvas_width + x] != wanted;
            }
        }
        EXPECT_EQ(wrong, 0) << "pixels differ in the flag of language " << offered_languages[position].language;
    }

    // The box and the texts grow with the page; the hint stays at its foot.
    const RECT box_before = vd::window_rect_in_parent(::GetDlgItem(page.get(), language_box));
    const RECT state_before = vd::window_rect_in_parent(::GetDlgItem(page.get(), 1016));
    const RECT hint_before = vd::window_rect_in_parent(::GetDlgItem(page.get(), 1003));
    RECT page_rect = vd::window_rect_in_parent(page.get());
    page_rect.right += 40;
    page_rect.bottom += 20;
    vd::set_window_rect(page.get(), page_rect);
    const RECT box_after = vd::window_rect_in_parent(::GetDlgItem(page.get(), language_box));
    const RECT state_after = vd::window_rect_in_parent(::GetDlgItem(page.get(), 1016));
    const RECT hint_after = vd::window_rect_in_parent(::GetDlgItem(page.get(), 1003));
    EXPECT_EQ(box_after.right - box_before.right, 40);
    EXPECT_EQ(box_after.top, box_before.top);
    EXPECT_EQ(state_after.right - state_before.right, 40);
    EXPECT_EQ(state_after.bottom - state_before.bottom, 20);
    EXPECT_EQ(hint_after.top - hint_before.top, 20);
    EXPECT_EQ(hint_after.right - hint_before.right, 40);
}

TEST(dlg_start, selects_the_ui_language_only_where_offered) {
    vd::unique_module setup = load_setup();
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    page_world world(0, L"");
    // English and German are translated, Polish is not, Danish is not offered at all.
    for (const int language : {1, 2, 15, 6}) {
        ui_language_scope scope(language, setup.get());
        unique_window page = world.create_page(setup.get());
        ASSERT_TRUE(page) << "error " << ::GetLastError();
        EXPECT_EQ(selected_language(::GetDlgItem(page.get(), language_box)), language == 6 ? -1 : language);
    }
}

TEST(dlg_start, choosing_a_language_texts_the_wizard_anew) {
    vd::unique_module setup = load_setup();
    ASSERT_TRUE(setup) << "error " << ::GetLastError();
    ui_language_scope english(1, setup.get());
    page_world world(1, L"");
    unique_window page = world.create_page(setup.get());
    ASSERT_TRUE(page) << "error " << ::GetLastError();
    dlg_start::instance().set_texts();

    int retexts = 0;
    dlg_start::instance().set_wizard_retext([&] {
        ++retexts;
        // Choosing a language forgets the module of the texts; the test's texts live in the
        // installer, not in this program.
        vd::language_state::instance().module = setup.get();
        dlg_start::instance().set_texts();
    });
    testing_support::box_answerer boxes({IDOK, IDOK, IDOK}, world.owner.get());
    const auto label = [&] { return vd::window_text(::GetDlgItem(page.get(), 1022)); };
    const auto hint = [&] { return vd::window_text(::GetDlgItem(page.get(), 1003)); };

    // Opening the list is no choice.
    ::SendMessageW(page.get(), WM_COMMAND, MAKEWPARAM(language_box, CBN_DROPDOWN), 0);
    EXPECT_EQ(retexts, 0);
    EXPECT_EQ(vd::language_state::instance().language, 1u);

    choose(page.get(), 2);
    EXPECT_EQ(vd::language_state::instance().language, 2u);
    EXPECT_EQ(retexts, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(label(), L"Installationssprache auswählen");
    EXPECT_EQ(hint(), L"Klicken Sie auf „Weiter“, um fortzufahren, oder auf „Abbrechen“, um die Installation zu "
                      L"beenden.");

    // Polish: one notice, then the wizard speaks English while Polish stays chosen for the product.
    choose(page.get(), 15);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(retexts, 2);
    EXPECT_EQ(vd::language_state::instance().language, 15u);
    EXPECT_EQ(selected_language(::GetDlgItem(page.get(), language_box)), 15);
    EXPECT_EQ(label(), L"Select Installation Langage");
    EXPECT_EQ(hint(), L"Click on 'Next' to continue or on 'Cancel' to exit Installation.");
}
