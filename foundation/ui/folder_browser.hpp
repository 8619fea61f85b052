// Picking a folder with the shell's folder dialog, optionally with a fixed sub-folder name that
// follows whatever folder the user picks: the dialog's edit box then shows the full resulting
// path, and a path typed there is accepted after a check even when its folder does not exist
// yet. Where the dialog ends with its tree's selection and never reports a typed text (Wine),
// OK takes the edit box's text through the same check. Nothing here creates a folder.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include <windows.h>
#include <shtypes.h>

#include "foundation/language/resource_text.hpp"

namespace vd {

// Lets the user pick a folder, starting at `folder`, with subfolder_name (null: none) appended
// to the pick. Returns the chosen folder with the sub-folder name, or an empty string when the
// user cancelled or the dialog did not run; only on success does `folder` receive the chosen
// folder without its trailing sub-folder components. Must run on a thread that may enter the
// single-threaded apartment: elsewhere a box tells why and nothing is picked.
std::wstring browse_for_folder(std::wstring& folder, const wchar_t* subfolder_name, const string_or_id& prompt);

// The state of one folder dialog, from before it opens until it has closed.
class folder_browser {
public:
    // Bits of flags().
    static constexpr std::uint32_t com_initialized = 1; // balanced by the destructor
    static constexpr std::uint32_t initialized = 2;     // the dialog has sent BFFM_INITIALIZED
    static constexpr std::uint32_t typed_path = 4;      // a typed path was accepted and is the result

    // A prompt of 0 shows none.
    explicit folder_browser(const string_or_id& prompt);
    ~folder_browser();
    folder_browser(const folder_browser&) = delete;
    folder_browser& operator=(const folder_browser&) = delete;

    // Runs the dialog over this thread's active window, starting at initial_folder. True when a
    // folder with a file-system path was chosen; path() is then the result.
    bool browse(const wchar_t* initial_folder, const wchar_t* subfolder_name);

    // The state the dialog opens with: the start folder (the Documents folder for none or a
    // relative one) joined with the usable part of the sub-folder name.
    void setup(const wchar_t* initial_folder, const wchar_t* subfolder_name);

    const std::wstring& path() const noexcept { return path_; }
    const std::wstring& subfolder() const noexcept { return subfolder_; }
    const std::wstring& prompt() const noexcept { return prompt_; }
    std::uint32_t flags() const noexcept { return flags_; }
    HWND edit() const noexcept { return edit_; }

    // The BFFCALLBACK of the dialog; data is the folder_browser. BFFM_VALIDATEFAILEDW is
    // answered 0 when the typed text is accepted (the dialog closes), 1 when it is rejected.
    static int CALLBACK callback(HWND dialog, UINT message, LPARAM lparam, LPARAM data) noexcept;

    // The path logic, on plain strings. Paths are handed to the shell's path functions in
    // buffers of MAX_PATH characters; a path that does not fit is never cut into another one:
    // the step that meets it changes nothing.

    // initial_folder as the dialog starts from it: empty for null, empty or relative, and a bare
    // drive ("D:") as its root.
    static std::wstring start_folder(const wchar_t* initial_folder);

    // The name without its trailing dots; empty for null and for a name with a character that
    // cannot be in a path or is a wildcard. Separators are allowed: several components.
    static std::wstring subfolder_name(const wchar_t* name);

    // How many components of `relative` path ends with, without regard to case, when it ends
    // with all of them and keeps at least one component before them; otherwise 0.
    static std::uint32_t subfolder_depth(const std::wstring& path, const std::wstring& relative);

    // path followed by subfolder, without repeating what path already ends with: a path that
    // ends with the first k components of subfolder gets only the rest.
    static std::wstring join_subfolder(const std::wstring& path, const std::wstring& subfolder);

    // path without the trailing components that subfolder names; path itself when it does not
    // end with them.
    static std::wstring parent_folder(const std::wstring& path, const std::wstring& subfolder);

    // The full path a text typed into the dialog names, or the error code that rejects it:
    // blanks and a trailing '\' removed, a bare drive taken as its root, an empty text as the
    // current directory, a relative one qualified against it.
    static std::expected<std::wstring, DWORD> qualify_typed_path(const wchar_t* text);

private:
    void on_initialized(HWND dialog);
    void on_selection_changed(HWND dialog, PCIDLIST_ABSOLUTE item);
    // The check of BFFM_VALIDATEFAILEDW: true when the text is taken as the result; otherwise a
    // box over the dialog tells why, and the dialog must stay open.
    bool take_typed_text(HWND dialog, const wchar_t* text);

    // The dialog's window subclass on Wine; data is the folder_browser. OK reaches the dialog
    // only when take_typed_text takes the edit box's text.
    static LRESULT CALLBACK dialog_subclass(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                            DWORD_PTR data) noexcept;

    std::wstring path_;
    std::wstring subfolder_;
    std::wstring prompt_;
    std::uint32_t flags_ = 0;
    HWND edit_ = nullptr;
};

} // namespace vd
