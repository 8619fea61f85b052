// The install page from the built installer's template and string tables, as the main window
// holds it: a child of a top-level window, in English.
#pragma once

#include <string>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "installer/startup/installer_settings.hpp"
#include "installer/wizard/dlg_install.hpp"
#include "support/test_windows.hpp"
#include "support/ui_language_scope.hpp"

namespace testing_support {

class install_page_test : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setup_ && parent_) << "error " << ::GetLastError();
        page_ = unique_window{::CreateDialogParamW(setup_.get(), MAKEINTRESOURCEW(135), parent_.get(),
                                                   basic_dialog::dialog_proc, reinterpret_cast<LPARAM>(&page))};
        ASSERT_TRUE(page_) << "error " << ::GetLastError();
        page.set_texts();
    }

    HWND log_window() const { return ::GetDlgItem(page_.get(), dlg_install::status_log_id); }
    std::wstring log() const { return vd::window_text(log_window()); }

    dlg_install& page = dlg_install::instance();
    installer_settings& settings = installer_settings::instance();
    vd::unique_module setup_{::LoadLibraryExW(L"" STELVANE_SETUP_EXE, nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    ui_language_scope language_{1, setup_.get()};
    unique_window parent_{::CreateWindowExW(0, WC_DIALOG, L"", WS_POPUP | WS_CAPTION, 100, 100, 640, 480, nullptr,
                                            nullptr, nullptr, nullptr)};
    unique_window page_;
};

} // namespace testing_support
