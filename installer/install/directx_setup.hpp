// The DirectX redistributable set-up that the payload brings into the work folder: its library
// "DSetup.dll" is kept only when it is recent enough, and run once with a callback that keeps
// the wizard's messages flowing.
#pragma once

#include <filesystem>
#include <string>

#include <windows.h>

#include "foundation/system/unique_any.hpp"

class directx_setup {
public:
    // Loads folder\DSetup.dll and keeps it when it reports version 4.9 and revision 903 or later.
    explicit directx_setup(const std::wstring& folder);

    directx_setup(const directx_setup&) = delete;
    directx_setup& operator=(const directx_setup&) = delete;

    // Null when the library is missing, unusable or too old: then the set-up is not to run.
    HMODULE module() const noexcept { return module_.get(); }

    // Removes a 64-bit D3DX9_43.dll from the 32-bit system folder, then runs the set-up over the
    // folder. False when an entry point is missing (nothing is done then) or the set-up fails.
    bool run(HWND owner);

    // Handed to the library for the run; pumps the wizard's messages whenever the library
    // reports progress (reason 18). Always answers 1.
    static DWORD WINAPI callback(DWORD reason, DWORD message_type, char* message, char* name, void* info);

private:
    std::wstring folder_;
    vd::unique_module module_;
};

// A 64-bit D3DX9_43.dll in the 32-bit system folder breaks the 32-bit programs that load it, and
// the set-up leaves it there; it goes. Whatever stops the check (an unreadable or malformed file)
// leaves the file as it is and ends here: the set-up runs all the same.
void remove_x64_d3dx9() noexcept;

// Removes dll when it is a 64-bit PE image; any other file stays. Throws std::system_error 11
// (ERROR_BAD_FORMAT) for a file too short for the headers it claims, std::logic_error for a file
// that grew while it was read, and what the file system and the stream raise for a file that
// cannot be read. Only the bytes of the file are ever read.
void remove_x64_image(const std::filesystem::path& dll);
