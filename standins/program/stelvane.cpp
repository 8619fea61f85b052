// A stand-in for the installed program, Stelvane.exe, so that an installation runs to its end
// without the real product. After installing, the installer starts it with " /Register
// /Background" (and " /update=" with the previous version's 16 hexadecimal digits when it
// updates) and takes the exit code -10 for a registration that succeeded: the stand-in appends
// its command line as one UTF-8 line to Registration.log beside itself and ends with -10, so
// that tests can see what the installer passed. Started any other way, it says what it is.
//
// It stays small because the payload carries it: no run-time library parts that could throw
// (they would bring the whole unwinder along), only Win32 calls and the library's holders.
#include "program_version.h"

#include "foundation/system/unique_any.hpp"

#include <algorithm>
#include <span>
#include <string_view>

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int registered = -10;

bool is_switch(std::wstring_view argument, std::wstring_view name) {
    return ::CompareStringOrdinal(argument.data(), static_cast<int>(argument.size()), name.data(),
                                  static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

bool is_update(std::wstring_view argument) {
    constexpr std::wstring_view update = L"/update=";
    if (argument.size() != update.size() + 16 || !is_switch(argument.substr(0, update.size()), update))
        return false;
    return std::ranges::all_of(argument.substr(update.size()), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    });
}

enum class start { interactive, registration, malformed_registration };

// A registration takes /Register and /Background, and /update= with exactly 16 hexadecimal
// digits on an update, each once, and nothing else. A malformed one must still end without a
// window: the installer waits for the program without letting its own messages through.
start start_of(std::span<const wchar_t* const> args) {
    const auto count_of = [&](std::wstring_view name) {
        return std::ranges::count_if(args, [&](const wchar_t* a) { return is_switch(a, name); });
    };
    if (count_of(L"/Register") == 0)
        return start::interactive;
    const auto updates = std::ranges::count_if(args, [](const wchar_t* a) { return is_update(a); });
    const bool well_formed = count_of(L"/Register") == 1 && count_of(L"/Background") == 1 && updates <= 1 &&
                             static_cast<std::ptrdiff_t>(args.size()) == 2 + updates;
    return well_formed ? start::registration : start::malformed_registration;
}

// 0, or the system's error code when the line could not be written whole.
DWORD record_command_line() {
    // Room for the longest path the system gives, and the log's name beside the program.
    constexpr std::wstring_view log_name = L"Registration.log";
    constexpr DWORD longest_path = 0x8000;
    static wchar_t log[longest_path + log_name.size() + 1];
    const DWORD length = ::GetModuleFileNameW(nullptr, log, longest_path);
    if (length == 0 || length >= longest_path)
        return length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    const auto folder_length = std::wstring_view(log, length).find_last_of(L'\\') + 1;
    *std::ranges::copy(log_name, log + folder_length).out = L'\0';

    const std::wstring_view command = ::GetCommandLineW();
    const int text_size = ::WideCharToMultiByte(CP_UTF8, 0, command.data(), static_cast<int>(command.size()),
                                                nullptr, 0, nullptr, nullptr);
    const vd::unique_local line{::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(text_size) + 2)};
    if (!line)
        return ::GetLastError();
    auto* const text = static_cast<char*>(line.get());
    ::WideCharToMultiByte(CP_UTF8, 0, command.data(), static_cast<int>(command.size()), text, text_size, nullptr, nullptr);
    text[text_size] = '\r';
    text[text_size + 1] = '\n';

    const vd::unique_file file{::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file)
        return ::GetLastError();
    DWORD written = 0;
    if (!::WriteFile(file.get(), text, static_cast<DWORD>(text_size) + 2, &written, nullptr))
        return ::GetLastError();
    return written == static_cast<DWORD>(text_size) + 2 ? 0 : ERROR_WRITE_FAULT;
}

start start_of_this_process() {
    int count = 0;
    const vd::unique_local list{reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &count))};
    if (!list || count < 1)
        return start::interactive;
    const auto* const argv = static_cast<const wchar_t* const*>(list.get());
    return start_of(std::span(argv + 1, static_cast<std::size_t>(count - 1)));
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
    switch (start_of_this_process()) {
    case start::registration:
        if (const DWORD error = record_command_line())
            return static_cast<int>(error);
        return registered;
    case start::malformed_registration:
        return ERROR_INVALID_PARAMETER;
    case start::interactive:
        break;
    }
    ::MessageBoxW(nullptr,
                  L"This is a stand-in of Stelvane " PROGRAM_DISPLAY_VERSION
                  L".\n\nThe installer puts it in place of the real program.",
                  L"Stelvane " PROGRAM_DISPLAY_VERSION, MB_OK | MB_ICONINFORMATION);
    return 0;
}
