// The folder picker: its path logic on plain strings, and its answers to the dialog's
// notifications sent to a stand-in dialog as the shell sends them. The shell's own dialog is
// driven through the options page (tests/installer/wizard/dlg_options_test.cpp).
#include "foundation/ui/folder_browser.hpp"

#include <expected>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <thread>
#include <utility>

#include <gtest/gtest.h>
#include <shlobj.h>

#include "foundation/errors/error_text.hpp"
#include "foundation/ui/window.hpp"
#include "support/modal_answerer.hpp"
#include "support/test_folder.hpp"

namespace {

namespace fs = std::filesystem;
using vd::folder_browser;

// What the picker sent to its dialog.
struct {
    std::wstring selected, expanded;
    std::optional<LPARAM> enable_ok;
} received;

LRESULT CALLBACK standin_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == BFFM_SETSELECTIONW)
        received.selected = reinterpret_cast<const wchar_t*>(lparam);
    else if (message == BFFM_SETEXPANDED)
        received.expanded = reinterpret_cast<const wchar_t*>(lparam);
    else if (message == BFFM_ENABLEOK)
        received.enable_ok = lparam;
    else
        return ::DefWindowProcW(window, message, wparam, lparam);
    return 0;
}

// A window that takes the dialog's messages, with a static before its edit box.
struct standin_dialog {
    testing_support::unique_window window;
    HWND edit = nullptr;

    standin_dialog() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = standin_procedure;
        window_class.lpszClassName = L"folder dialog stand-in";
        ::RegisterClassW(&window_class);
        window.reset(::CreateWindowExW(0, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 400, 300, nullptr,
                                       nullptr, nullptr, nullptr));
        ::CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 80, 20, window.get(), nullptr, nullptr, nullptr);
        edit = ::CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 40, 380, 20, window.get(), nullptr, nullptr, nullptr);
    }

    int notify(folder_browser& browser, UINT message, const void* lparam = nullptr) const {
        return folder_browser::callback(window.get(), message, reinterpret_cast<LPARAM>(lparam),
                                        reinterpret_cast<LPARAM>(&browser));
    }
};

vd::unique_idlist item_of(const fs::path& path) {
    vd::unique_idlist item;
    ::SHParseDisplayName(path.c_str(), nullptr, item.put(), 0, nullptr);
    return item;
}

} // namespace

TEST(folder_browser, path_logic) {
    using texts = std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>;
    for (const auto& [initial, start] : texts{{nullptr, L""}, {L"Apps\\Stelvane 8", L""}, {L"D:", L"D:\\"},
                                              {L"\\\\server\\share", L"\\\\server\\share"}})
        EXPECT_EQ(folder_browser::start_folder(initial), start) << initial;
    for (const auto& [name, subfolder] : texts{{nullptr, L""}, {L"Stelvane 8...", L"Stelvane 8"},
                                               {L"Vandrel\\Stelvane 8", L"Vandrel\\Stelvane 8"},
                                               {L"Stelvane*", L""}, {L"Stelvane ?", L""}, {L"Stelvane|8", L""}})
        EXPECT_EQ(folder_browser::subfolder_name(name), subfolder) << name;

    const std::wstring too_long = L"C:\\" + std::wstring(270, L'a') + L"\\Stelvane 8";
    const std::wstring nearly_full = L"C:\\" + std::wstring(250, L'a');
    const struct {
        std::wstring path, subfolder;
        std::uint32_t depth;
        std::wstring joined, parent; // the parent of the joined path
    } folders[] = {
        {L"D:\\", L"Stelvane 8", 0, L"D:\\Stelvane 8", L"D:\\"},
        {L"C:\\Apps\\", L"Stelvane 8", 0, L"C:\\Apps\\Stelvane 8", L"C:\\Apps"},
        {L"C:\\Apps\\STELVANE 8\\", L"Stelvane 8", 1, L"C:\\Apps\\STELVANE 8\\", L"C:\\Apps"},
        {L"C:\\Apps\\Vandrel\\Stelvane 8", L"Vandrel\\Stelvane 8", 2, L"C:\\Apps\\Vandrel\\Stelvane 8", L"C:\\Apps"},
        // Only what the folder does not end with yet is added.
        {L"C:\\Apps\\vandrel", L"Vandrel\\Stelvane 8", 0, L"C:\\Apps\\vandrel\\Stelvane 8", L"C:\\Apps"},
        // The matched components need one of the folder's own before them; a drive's root is one.
        {L"C:\\Vandrel\\Stelvane 8", L"Vandrel\\Stelvane 8", 2, L"C:\\Vandrel\\Stelvane 8", L"C:\\"},
        {L"Vandrel\\Stelvane 8", L"Vandrel\\Stelvane 8", 0, L"Vandrel\\Stelvane 8\\Vandrel\\Stelvane 8",
         L"Vandrel\\Stelvane 8"},
        // What does not fit a path buffer is left as it is, never cut.
        {too_long, L"Stelvane 8", 0, too_long, too_long},
        {nearly_full, L"Stelvane 8", 0, nearly_full, nearly_full},
    };
    for (const auto& c : folders) {
        SCOPED_TRACE(c.path + L" + " + c.subfolder);
        EXPECT_EQ(folder_browser::subfolder_depth(c.path, c.subfolder), c.depth);
        EXPECT_EQ(folder_browser::join_subfolder(c.path, c.subfolder), c.joined);
        EXPECT_EQ(folder_browser::parent_folder(c.joined, c.subfolder), c.parent);
    }

    const testing_support::test_folder folder;
    const fs::path saved_directory = fs::current_path();
    fs::current_path(folder.path());
    const std::wstring here = folder.path().wstring();
    const auto bad_path = std::unexpected(DWORD{ERROR_BAD_PATHNAME});
    const struct {
        std::wstring typed;
        std::expected<std::wstring, DWORD> qualified;
    } typed[] = {
        {L"  C:\\New Folder\\Stelvane 8\\  ", L"C:\\New Folder\\Stelvane 8"},
        {L"D:", L"D:\\"},
        {L"", here},
        {L"vd-typed-name", here + L"\\vd-typed-name"},
        {L"C:\\Apps\\Stelvane*", bad_path},
        {L"C:\\" + std::wstring(257, L'a'), std::unexpected(DWORD(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)))},
        // Fits as typed, but not once the current directory is put before it.
        {std::wstring(259 - here.size(), L'a'), bad_path},
    };
    for (const auto& c : typed)
        EXPECT_TRUE(folder_browser::qualify_typed_path(c.typed.c_str()) == c.qualified) << c.typed;
    fs::current_path(saved_directory);
}

TEST(folder_browser, follows_the_dialog) {
    const testing_support::test_folder folder;
    fs::create_directories(folder / L"existing");
    const vd::unique_idlist existing = item_of(folder / L"existing");
    const standin_dialog dialog;
    ASSERT_TRUE(existing && dialog.edit);
    folder_browser browser(L"Pick a folder");
    browser.setup((folder / L"missing\\deeper").c_str(), L"Stelvane 8");

    // The dialog selects its start folder while it is built; that does not count yet.
    EXPECT_EQ(dialog.notify(browser, BFFM_SELCHANGED, existing.get()), 0);
    EXPECT_EQ(browser.path(), (folder / L"missing\\deeper\\Stelvane 8").wstring());
    EXPECT_EQ(dialog.notify(browser, BFFM_INITIALIZED), 0);
    EXPECT_EQ(received.selected, folder.path().wstring()) << "the nearest folder that exists";
    EXPECT_EQ(received.expanded, folder.path().wstring());
    EXPECT_EQ(vd::window_text(dialog.edit), browser.path());
    EXPECT_EQ(::SendMessageW(dialog.edit, EM_GETSEL, 0, 0), MAKELRESULT(0, browser.path().size()));

    EXPECT_EQ(dialog.notify(browser, BFFM_SELCHANGED, existing.get()), 0);
    EXPECT_EQ(vd::window_text(dialog.edit), (folder / L"existing\\Stelvane 8").wstring());
    EXPECT_FALSE(received.enable_ok) << "with a sub-folder the edit box decides what OK returns";

    // A typed path that passes is the answer, whether its folder exists or not.
    const std::wstring typed = L"  " + (folder / L"brand new").wstring() + L"\\ ";
    EXPECT_EQ(dialog.notify(browser, BFFM_VALIDATEFAILEDW, typed.c_str()), 0);
    EXPECT_EQ(browser.path(), (folder / L"brand new").wstring());
    EXPECT_TRUE(browser.flags() & folder_browser::typed_path);
    EXPECT_FALSE(fs::exists(folder / L"brand new")) << "the picker creates nothing";

    // One that does not keeps the dialog open after a box with the system's text.
    const testing_support::modal_answerer answerer(IDOK);
    EXPECT_EQ(dialog.notify(browser, BFFM_VALIDATEFAILEDW, L"C:\\Apps\\Stelvane*"), 1);
    EXPECT_EQ(answerer.visit().text, vd::system_message_text(ERROR_BAD_PATHNAME, 0));
    EXPECT_EQ(answerer.visit().owner, dialog.window.get());
    EXPECT_EQ(browser.path(), (folder / L"brand new").wstring());

    // A name with a wildcard cannot be a sub-folder: plain picking, of file-system folders only.
    folder_browser plain(0);
    plain.setup(folder.path().c_str(), L"Stelvane*");
    ::SetWindowTextW(dialog.edit, L"");
    dialog.notify(plain, BFFM_INITIALIZED);
    EXPECT_EQ(vd::window_text(dialog.edit), L"");
    dialog.notify(plain, BFFM_SELCHANGED, existing.get());
    EXPECT_EQ(plain.path(), (folder / L"existing").wstring());
    EXPECT_EQ(received.enable_ok, TRUE);
    vd::unique_idlist computer;
    ASSERT_EQ(::SHGetKnownFolderIDList(FOLDERID_ComputerFolder, 0, nullptr, computer.put()), S_OK);
    dialog.notify(plain, BFFM_SELCHANGED, computer.get());
    EXPECT_EQ(received.enable_ok, FALSE);
    EXPECT_EQ(plain.path(), (folder / L"existing").wstring());
}

TEST(folder_browser, a_thread_in_the_multithreaded_apartment_gets_a_box_instead) {
    std::thread([] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        std::wstring start = L"C:\\Apps";
        const testing_support::modal_answerer answerer(IDOK);
        EXPECT_EQ(vd::browse_for_folder(start, L"Stelvane 8", L"Pick a folder"), L"");
        EXPECT_EQ(answerer.visit().text, vd::system_message_text(static_cast<DWORD>(RPC_E_CHANGED_MODE), 0));
        EXPECT_EQ(start, L"C:\\Apps");
        ::CoUninitialize();
    }).join();
}
