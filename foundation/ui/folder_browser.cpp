#include "foundation/ui/folder_browser.hpp"

#include <array>
#include <cwchar>
#include <string_view>

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "foundation/app/initialization.hpp"
#include "foundation/errors/error_text.hpp"
#include "foundation/system/known_folders.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/ui/message_box.hpp"
#include "foundation/ui/window.hpp"

namespace vd {

namespace {

// What the shell's path functions work in, terminator included.
using path_buffer = std::array<wchar_t, MAX_PATH>;

// False, leaving the buffer empty, when the text does not fit with its terminator.
bool copy_to_buffer(std::wstring_view text, path_buffer& buffer) {
    buffer[0] = L'\0';
    if (text.size() >= buffer.size())
        return false;
    text.copy(buffer.data(), text.size());
    buffer[text.size()] = L'\0';
    return true;
}

bool is_single_component(const wchar_t* path) {
    return ::PathFindFileNameW(path) == path;
}

// Characters that cannot be part of a path, and wildcards.
bool is_path_character(wchar_t c) {
    const UINT type = ::PathGetCharTypeW(c);
    return type != GCT_INVALID && !(type & GCT_WILD);
}

bool is_path_text(const wchar_t* text) {
    for (; *text; ++text) {
        if (!is_path_character(*text))
            return false;
    }
    return true;
}

BOOL CALLBACK find_edit(HWND child, LPARAM data) {
    if (!is_edit_window(child))
        return TRUE;
    *reinterpret_cast<HWND*>(data) = child;
    return FALSE;
}

void show_full_path(HWND edit, const std::wstring& path) {
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
}

// The system's own caption and text of the code, so that the box reads the same whatever the
// program has set up.
void show_rejection(HWND window, DWORD code) {
    const std::wstring text = system_message_text(code, 0);
    UINT style = MB_ICONEXCLAMATION;
    if (box_reads_right_to_left(window))
        style |= MB_RTLREADING;
    ::MessageBoxW(window, text.c_str(), nullptr, style);
}

} // namespace

std::wstring browse_for_folder(std::wstring& folder, const wchar_t* subfolder_name, const string_or_id& prompt) {
    std::wstring result;
    folder_browser browser(prompt);
    if (browser.browse(folder.c_str(), subfolder_name)) {
        result = browser.path();
        folder = folder_browser::parent_folder(browser.path(), browser.subfolder());
    }
    return result;
}

folder_browser::folder_browser(const string_or_id& prompt) : prompt_(prompt.c_str()) {}

folder_browser::~folder_browser() {
    if (flags_ & com_initialized)
        ::CoUninitialize();
}

bool folder_browser::browse(const wchar_t* initial_folder, const wchar_t* subfolder_name) {
    const HWND owner = active_window();
    if (!(flags_ & com_initialized)) {
        // S_FALSE (already initialised on this thread) counts too and is balanced alike.
        const HRESULT hr = ::CoInitialize(nullptr);
        if (FAILED(hr)) {
            show_rejection(owner, static_cast<DWORD>(hr));
            return false;
        }
        flags_ |= com_initialized;
    }
    flags_ &= ~(initialized | typed_path);
    edit_ = nullptr;
    setup(initial_folder, subfolder_name);

    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = prompt_.empty() ? nullptr : prompt_.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    // Without a sub-folder there is nothing to show beyond the tree's own selection.
    if (!subfolder_.empty())
        info.ulFlags |= BIF_EDITBOX | BIF_VALIDATE;
    info.lpfn = callback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    const unique_idlist item{::SHBrowseForFolderW(&info)};
    if (!item)
        return false;

    path_buffer chosen{};
    const bool has_path = ::SHGetPathFromIDListW(item.get(), chosen.data());
    // An accepted typed path is the answer; the item is only the tree's selection beside it.
    if (has_path && !(flags_ & typed_path))
        path_ = chosen.data();
    return has_path;
}

void folder_browser::setup(const wchar_t* initial_folder, const wchar_t* subfolder_name) {
    path_ = start_folder(initial_folder);
    if (path_.empty())
        path_ = documents_folder().wstring();
    subfolder_ = folder_browser::subfolder_name(subfolder_name);
    path_ = join_subfolder(path_, subfolder_);
}

int CALLBACK folder_browser::callback(HWND dialog, UINT message, LPARAM lparam, LPARAM data) noexcept {
    auto* self = reinterpret_cast<folder_browser*>(data);
    if (!self)
        return 0;
    try {
        switch (message) {
        case BFFM_INITIALIZED:
            self->on_initialized(dialog);
            return 0;
        case BFFM_SELCHANGED:
            self->on_selection_changed(dialog, reinterpret_cast<PCIDLIST_ABSOLUTE>(lparam));
            return 0;
        case BFFM_VALIDATEFAILEDW:
            return self->take_typed_text(dialog, reinterpret_cast<const wchar_t*>(lparam)) ? 0 : 1;
        default:
            return 0;
        }
    } catch (...) {
        // Unwinding into the shell is undefined. A typed text that could not be checked is not
        // taken: the dialog stays open and the user may pick again or cancel.
        return message == BFFM_VALIDATEFAILEDW ? 1 : 0;
    }
}

void folder_browser::on_initialized(HWND dialog) {
    flags_ |= initialized;

    // The path may name folders that do not exist yet: the tree opens at the nearest one that
    // does.
    path_buffer selection;
    bool selected = copy_to_buffer(path_, selection);
    while (selected && !::PathIsDirectoryW(selection.data()))
        selected = ::PathRemoveFileSpecW(selection.data());
    if (selected) {
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(selection.data()));
        ::SendMessageW(dialog, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(selection.data()));
    }

    if (!subfolder_.empty()) {
        edit_ = nullptr;
        ::EnumChildWindows(dialog, find_edit, reinterpret_cast<LPARAM>(&edit_));
    }
    if (selected && edit_)
        show_full_path(edit_, path_);

    // Wine's dialog answers OK with the tree's selection, whatever the edit box shows, and never
    // sends BFFM_VALIDATEFAILEDW: there the edit box's text is checked here when OK is pressed.
    // Windows's dialog checks it itself and is left alone.
    if (edit_ && details::running_on_wine())
        ::SetWindowSubclass(dialog, dialog_subclass, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK folder_browser::dialog_subclass(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                                                 UINT_PTR id, DWORD_PTR data) noexcept {
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(dialog, dialog_subclass, id);
    } else if (message == WM_COMMAND && wparam == MAKEWPARAM(IDOK, BN_CLICKED)) {
        // The command that ends Wine's dialog reaches it only with a text that the check takes.
        auto* self = reinterpret_cast<folder_browser*>(data);
        bool taken = false;
        try {
            taken = self->take_typed_text(dialog, window_text(self->edit_).c_str());
        } catch (...) {
            // As for BFFM_VALIDATEFAILEDW: a text that could not be checked is not taken.
        }
        if (!taken)
            return 0;
    }
    return ::DefSubclassProc(dialog, message, wparam, lparam);
}

void folder_browser::on_selection_changed(HWND dialog, PCIDLIST_ABSOLUTE item) {
    // Selecting the start folder during the dialog's creation must not replace the path yet.
    if (!(flags_ & initialized))
        return;
    path_buffer chosen{};
    const bool has_path = item && ::SHGetPathFromIDListW(item, chosen.data());
    if (has_path)
        path_ = join_subfolder(chosen.data(), subfolder_);
    if (edit_)
        show_full_path(edit_, path_);
    // With a sub-folder the edit box decides what OK returns; without one only items of the
    // file system can be the answer.
    if (subfolder_.empty())
        ::SendMessageW(dialog, BFFM_ENABLEOK, 0, has_path);
}

bool folder_browser::take_typed_text(HWND dialog, const wchar_t* text) {
    const auto qualified = qualify_typed_path(text);
    if (!qualified) {
        show_rejection(dialog, qualified.error());
        return false;
    }
    path_ = *qualified;
    flags_ |= typed_path;
    return true;
}

std::wstring folder_browser::start_folder(const wchar_t* initial_folder) {
    std::wstring path = initial_folder ? initial_folder : L"";
    if (path.empty() || ::PathIsRelativeW(path.c_str()))
        return {};
    if (path.back() == L':')
        path += L'\\';
    return path;
}

std::wstring folder_browser::subfolder_name(const wchar_t* name) {
    if (!name || !is_path_text(name))
        return {};
    std::wstring subfolder = name;
    subfolder.erase(subfolder.find_last_not_of(L'.') + 1);
    return subfolder;
}

std::uint32_t folder_browser::subfolder_depth(const std::wstring& path, const std::wstring& relative) {
    path_buffer folder, tail;
    if (!copy_to_buffer(path, folder) || !copy_to_buffer(relative, tail))
        return 0;
    ::PathRemoveBackslashW(folder.data());
    ::PathRemoveBackslashW(tail.data());
    if (is_single_component(folder.data()))
        return 0;
    for (std::uint32_t count = 1;; ++count) {
        if (::lstrcmpiW(::PathFindFileNameW(folder.data()), ::PathFindFileNameW(tail.data())) != 0)
            return 0;
        if (is_single_component(tail.data()))
            return count;
        if (!::PathRemoveFileSpecW(folder.data()) || !::PathRemoveFileSpecW(tail.data()))
            return 0;
        if (is_single_component(folder.data()))
            return 0;
    }
}

std::wstring folder_browser::join_subfolder(const std::wstring& path, const std::wstring& subfolder) {
    if (subfolder.empty() || subfolder_depth(path, subfolder) != 0)
        return path;
    path_buffer joined, head;
    if (!copy_to_buffer(path, joined) || !copy_to_buffer(subfolder, head))
        return path;

    // The longest leading part of subfolder that path already ends with is not added again.
    const wchar_t* rest = subfolder.c_str();
    ::PathRemoveBackslashW(head.data());
    while (::PathRemoveFileSpecW(head.data()) && head[0]) {
        if (const std::uint32_t depth = subfolder_depth(path, head.data())) {
            for (std::uint32_t skipped = 0; skipped < depth && rest; ++skipped)
                rest = ::PathFindNextComponentW(rest);
            break;
        }
    }
    if (!rest || !::PathAppendW(joined.data(), rest))
        return path;
    return joined.data();
}

std::wstring folder_browser::parent_folder(const std::wstring& path, const std::wstring& subfolder) {
    if (subfolder.empty())
        return path;
    const std::uint32_t depth = subfolder_depth(path, subfolder);
    path_buffer parent;
    if (depth == 0 || !copy_to_buffer(path, parent))
        return path;
    ::PathRemoveBackslashW(parent.data());
    for (std::uint32_t removed = 0; removed < depth; ++removed)
        ::PathRemoveFileSpecW(parent.data());
    return parent.data();
}

std::expected<std::wstring, DWORD> folder_browser::qualify_typed_path(const wchar_t* text) {
    path_buffer typed;
    if (!copy_to_buffer(text ? text : L"", typed))
        return std::unexpected(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)));
    ::PathRemoveBlanksW(typed.data());
    ::PathRemoveBackslashW(typed.data());
    if (std::wcslen(typed.data()) == 2 && typed[1] == L':') {
        typed[2] = L'\\';
        typed[3] = L'\0';
    }
    if (typed[0] == L'\0') {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(typed.size()), typed.data());
        if (length == 0)
            return std::unexpected(::GetLastError());
        // A longer directory is not written at all, and the call does not count as failed.
        if (length >= typed.size())
            return std::unexpected(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    }

    // PathSearchAndQualifyW reports success with its buffer untouched when the full path does
    // not fit: the buffer starts empty so that such a path is rejected, not taken as "".
    path_buffer qualified{};
    const bool found = ::PathSearchAndQualifyW(typed.data(), qualified.data(), static_cast<UINT>(qualified.size()));
    const bool terminated = std::wmemchr(qualified.data(), L'\0', qualified.size()) != nullptr;
    if (!found || !terminated || qualified[0] == L'\0' || !is_path_text(qualified.data()))
        return std::unexpected(static_cast<DWORD>(ERROR_BAD_PATHNAME));
    return std::wstring(qualified.data());
}

} // namespace vd
