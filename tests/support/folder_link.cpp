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
    // With no process, Wine leaves a stale value in hThread that may be another handle of ours.
    const vd::unique_handle process(started.hProcess);
    const vd::unique_handle thread(started.hProcess ? started.hThread : nullptr);
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

bool move_folder_as_user(const fs::path& from, const fs::path& to) {
    if (vd::details::running_on_wine()) {
        start_host_program(L"Z:\\bin\\mv " + quoted(unix_name(from)) + L" " + quoted(unix_name(to)),
                           [&] { return ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES; });
        return true;
    }
    return ::MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

namespace {

const FILETIME long_ago{0, 0x01C00000};

} // namespace

// The standard library opens no folder to set its time: a handle does.
folder_watch::folder_watch(const fs::path& folder)
    : folder_(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
    if (folder_ == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot watch " + folder.string());
    reset();
}

folder_watch::~folder_watch() {
    ::CloseHandle(folder_);
}

void folder_watch::reset() const {
    if (!::SetFileTime(folder_, nullptr, nullptr, &long_ago))
        throw std::runtime_error("cannot set a folder's time");
}

bool folder_watch::changed() const {
    FILETIME written{};
    ::GetFileTime(folder_, nullptr, nullptr, &written);
    return ::CompareFileTime(&written, &long_ago) != 0;
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
