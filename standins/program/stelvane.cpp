// A stand-in for the installed program, Stelvane.exe, so that an installation runs to its end
// without the real product. After installing, the installer starts it with " /Register
// /Background" (and " /update=" with the previous version's 16 hexadecimal digits when it
// updates) and takes the exit code -10 for a registration that succeeded: the stand-in appends
// its command line as one UTF-8 line to Registration.log beside itself and ends with -10, so
// that tests can see what the installer passed. When STELVANE_STANDIN_WITNESS names a file, it
// also appends to that file one line on how it was started (priority class, how its window is
// to show, current folder, whether the installer's mutex is free). Started any other way, it
// says what it is.
//
// It stays small because the payload carries it: no run-time library parts that could throw
// (they would bring the whole unwinder along), only Win32 calls and the library's holders.
#include "program_version.h"

#include "foundation/system/unique_any.hpp"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <span>
#include <string_view>

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int registered = -10;

// Set by tests that want to know how the installer started the program.
constexpr wchar_t witness_variable[] = L"STELVANE_STANDIN_WITNESS";
// The installer's mutex, "Global\" + the application id + a fixed suffix.
constexpr wchar_t installer_mutex[] = L"Global\\Stelvane8.{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
// Room for the longest path the system gives.
constexpr DWORD longest_path = 0x8000;

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

// Appends the line in UTF-8 with CR LF. 0, or the system's error code when the line could not
// be written whole.
DWORD append_line(const wchar_t* path, std::wstring_view line_text) {
    const int text_size = ::WideCharToMultiByte(CP_UTF8, 0, line_text.data(), static_cast<int>(line_text.size()),
                                                nullptr, 0, nullptr, nullptr);
    const vd::unique_local line{::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(text_size) + 2)};
    if (!line)
        return ::GetLastError();
    auto* const text = static_cast<char*>(line.get());
    ::WideCharToMultiByte(CP_UTF8, 0, line_text.data(), static_cast<int>(line_text.size()), text, text_size, nullptr,
                          nullptr);
    text[text_size] = '\r';
    text[text_size + 1] = '\n';

    const vd::unique_file file{::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file)
        return ::GetLastError();
    DWORD written = 0;
    if (!::WriteFile(file.get(), text, static_cast<DWORD>(text_size) + 2, &written, nullptr))
        return ::GetLastError();
    return written == static_cast<DWORD>(text_size) + 2 ? 0 : ERROR_WRITE_FAULT;
}

DWORD record_command_line() {
    constexpr std::wstring_view log_name = L"Registration.log";
    static wchar_t log[longest_path + log_name.size() + 1];
    const DWORD length = ::GetModuleFileNameW(nullptr, log, longest_path);
    if (length == 0 || length >= longest_path)
        return length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    const auto folder_length = std::wstring_view(log, length).find_last_of(L'\\') + 1;
    *std::ranges::copy(log_name, log + folder_length).out = L'\0';
    return append_line(log, ::GetCommandLineW());
}

// Free when this program can take it (and gives it back at once), held when another process
// owns it, absent when no installer made one.
const wchar_t* installer_mutex_state() {
    const vd::unique_handle mutex{::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, installer_mutex)};
    if (!mutex)
        return L"absent";
    switch (::WaitForSingleObject(mutex.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        ::ReleaseMutex(mutex.get());
        return L"free";
    default:
        return L"held";
    }
}

// 0 when nobody asked or the line was written, else the system's error code.
DWORD record_how_it_was_started() {
    static wchar_t witness[longest_path];
    const DWORD witness_length = ::GetEnvironmentVariableW(witness_variable, witness, longest_path);
    if (witness_length == 0 || witness_length >= longest_path)
        return 0;
    static wchar_t folder[longest_path];
    const DWORD folder_length = ::GetCurrentDirectoryW(longest_path, folder);
    if (folder_length == 0 || folder_length >= longest_path)
        return folder_length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    static wchar_t line[longest_path + 128];
    const int length = ::_snwprintf(line, std::size(line), L"priority %lx, show %d, folder %ls, installer mutex %ls",
                                    ::GetPriorityClass(::GetCurrentProcess()), show, folder, installer_mutex_state());
    if (length < 0)
        return ERROR_INSUFFICIENT_BUFFER;
    return append_line(witness, std::wstring_view(line, static_cast<std::size_t>(length)));
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
        if (const DWORD error = record_how_it_was_started())
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
