// Another program started for a test, as the installer starts one: its command line is the
// program's path in quotation marks followed by the arguments as given. The test can answer the
// message box the program shows, and read its exit code; a program the test leaves running is
// ended when the holder goes.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <windows.h>

#include "foundation/system/unique_any.hpp"
#include "foundation/ui/window.hpp"
#include "support/box_answerer.hpp"

namespace testing_support {

class started_program {
public:
    started_program(const std::filesystem::path& program, std::wstring_view arguments)
        : command_(L"\"" + std::filesystem::absolute(program).wstring() + L"\"" + std::wstring(arguments)) {
        std::wstring writable = command_;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
            process_.reset(started.hProcess);
            thread_.reset(started.hThread);
            id_ = started.dwProcessId;
        }
    }
    started_program(const started_program&) = delete;
    started_program& operator=(const started_program&) = delete;
    ~started_program() {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 10000);
        }
    }

    explicit operator bool() const noexcept { return static_cast<bool>(process_); }
    const std::wstring& command_line() const noexcept { return command_; }

    // The first message box the program shows, answered with OK; nothing when none comes.
    std::optional<shown_box> answer_box() {
        for (auto waited = std::chrono::milliseconds(0); waited < timeout; waited += poll) {
            box_search search{id_, nullptr};
            ::EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
            if (search.found) {
                shown_box box{vd::window_text(search.found), vd::window_text(::GetDlgItem(search.found, 0xFFFF)),
                              ::GetWindow(search.found, GW_OWNER)};
                ::PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                return box;
            }
            if (::WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT)
                return std::nullopt;
            std::this_thread::sleep_for(poll);
        }
        return std::nullopt;
    }

    // The exit code, as the signed int the program returned; nothing when it does not end.
    std::optional<int> exit_code() {
        if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return static_cast<int>(code);
    }

private:
    static constexpr std::chrono::milliseconds timeout{60000};
    static constexpr std::chrono::milliseconds poll{50};

    struct box_search {
        DWORD process;
        HWND found;
    };

    static BOOL CALLBACK find_box(HWND window, LPARAM data) {
        auto* search = reinterpret_cast<box_search*>(data);
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t class_name[8] = {};
        ::GetClassNameW(window, class_name, 8);
        if (process != search->process || std::wstring_view(class_name) != L"#32770" || !::IsWindowVisible(window))
            return TRUE;
        search->found = window;
        return FALSE;
    }

    std::wstring command_;
    vd::unique_handle process_;
    vd::unique_handle thread_;
    DWORD id_ = 0;
};

} // namespace testing_support
