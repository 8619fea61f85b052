#include "support/folder_link.hpp"

#include <functional>
#include <stdexcept>
#include <string>

#include <windows.h>

#include "foundation/app/initialization.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/text/conversions.hpp"

namespace fs = std::filesystem;

namespace testing_support {

namespace {

// Wine's CreateSymbolicLinkW answers TRUE and makes nothing. There a symbolic link of the host
// stands for the link, which Wine shows as a reparse point; Wine starts a host program by its
// path through drive Z: and hands it the Unix names.
std::wstring unix_name(const fs::path& path) {
    using converter = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<converter>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(path.c_str()) : nullptr;
    if (!name)
        throw std::runtime_error("no Unix name for " + path.string());
    std::wstring wide = vd::utf8_to_wide(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return wide;
}

// Wine hands back no process to wait for when it starts a host program: the caller waits for
// the program's effect instead.
void start_host_program(std::wstring command_line, const std::function<bool()>& done) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        throw std::runtime_error("cannot start " + vd::wide_to_utf8(command_line));
    const vd::unique_handle process(started.hProcess);
    const vd::unique_handle thread(started.hThread);
    for (int waited_ms = 0; !done(); waited_ms += 10) {
        if (waited_ms >= 10000)
            throw std::runtime_error("no effect of " + vd::wide_to_utf8(command_line));
        ::Sleep(10);
    }
}

// Wine shows a host link to a folder as a reparse point, and one to a file as a plain file.
bool is_link(const fs::path& path, link_to kind) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (kind == link_to::file || (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
}

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

} // namespace

void make_folder_link(const fs::path& link, const fs::path& target, link_to kind) {
    if (vd::details::running_on_wine()) {
        start_host_program(L"Z:\\bin\\ln -s " + quoted(unix_name(target)) + L" " + quoted(unix_name(link)),
                           [&] { return is_link(link, kind); });
        return;
    }
    const DWORD folder = kind == link_to::folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), folder | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        throw std::runtime_error("cannot link " + link.string());
}

void remove_folder_link(const fs::path& link, link_to kind) {
    if (vd::details::running_on_wine()) {
        // rm removes the host's link itself; Wine's RemoveDirectoryW would look into its target.
        try {
            start_host_program(L"Z:\\bin\\rm -f " + quoted(unix_name(link)), [&] { return !is_link(link, kind); });
        } catch (const std::runtime_error&) {
        }
        return;
    }
    if (kind == link_to::folder)
        ::RemoveDirectoryW(link.c_str());
    else
        ::DeleteFileW(link.c_str());
}

// Out of line: inlined into std::optional's emplace, g++ 12 takes kind_ for uninitialized.
folder_link::~folder_link() {
    remove_folder_link(link_, kind_);
}

} // namespace testing_support
