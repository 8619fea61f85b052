// What the wizard page tests share: the built installer's templates and string tables in
// English, a captioned top-level window that holds the page as the main window does, and the
// settings that the pages change, put back when the test ends.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/system/unique_any.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/basic_dialog.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"

class wizard_page_test : public testing::Test {
protected:
    ~wizard_page_test() override {
        std::tie(settings.install_folder, settings.start_menu_shortcut, settings.desktop_shortcut, settings.advanced,
                 settings.state) = saved_;
    }

    void SetUp() override { ASSERT_TRUE(setup && frame) << "error " << ::GetLastError(); }

    testing_support::unique_window create_page(int template_id, basic_dialog& page) {
        return testing_support::unique_window{::CreateDialogParamW(setup.get(), MAKEINTRESOURCEW(template_id),
                                                                   frame.get(), basic_dialog::dialog_proc,
                                                                   reinterpret_cast<LPARAM>(&page))};
    }

    static bool is_checked(HWND page, int id) { return ::IsDlgButtonChecked(page, id) == BST_CHECKED; }
    static void click(HWND page, int id) { ::SendMessageW(::GetDlgItem(page, id), BM_CLICK, 0, 0); }

    installer_settings& settings = installer_settings::instance();
    vd::unique_module setup{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    testing_support::ui_language_scope language{1, setup.get()};
    testing_support::unique_window frame{::CreateWindowExW(0, L"Static", L"Installer",
                                                           WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 600, 400,
                                                           nullptr, nullptr, nullptr, nullptr)};

private:
    std::tuple<std::wstring, bool, bool, bool, std::int32_t> saved_{
        settings.install_folder, settings.start_menu_shortcut, settings.desktop_shortcut, settings.advanced,
        settings.state};
};
