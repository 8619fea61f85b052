#include "support/machine_restart.hpp"

#include "foundation/errors/error.hpp"
#include "foundation/system/known_folders.hpp"
#include "support/started_program.hpp"

#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>

#include <knownfolders.h>
#include <windows.h>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

constexpr wchar_t session_manager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t pending_value[] = L"PendingFileRenameOperations";

// One operation: the path, as the system names it ("\??\C:\..."), and its new name, empty for a
// deletion.
using operation = std::pair<std::wstring, std::wstring>;

// The list holds each operation as two texts one after the other, and a deletion's new name is an
// empty text: read as a plain REG_MULTI_SZ, it would end at the first deletion.
std::vector<operation> pending_operations() {
    std::vector<wchar_t> data;
    for (DWORD size = 512;;) {
        data.assign(size / sizeof(wchar_t) + 2, L'\0');
        const LSTATUS status =
            ::RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, pending_value, RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return {};
        if (status == ERROR_SUCCESS) {
            data.resize(size / sizeof(wchar_t));
            break;
        }
        if (status != ERROR_MORE_DATA)
            vd::throw_system_error(static_cast<DWORD>(status));
    }
    const auto text_at = [&](std::size_t& at) {
        const auto end = std::find(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(), L'\0');
        std::wstring text(data.begin() + static_cast<std::ptrdiff_t>(at), end);
        at = static_cast<std::size_t>(end - data.begin()) + 1;
        return text;
    };
    std::vector<operation> operations;
    for (std::size_t at = 0; at < data.size();) {
        auto path = text_at(at);
        if (path.empty())
            break;
        auto new_name = at < data.size() ? text_at(at) : std::wstring();
        operations.emplace_back(std::move(path), std::move(new_name));
    }
    return operations;
}

fs::path dos_path(const std::wstring& system_path) {
    return system_path.starts_with(L"\\??\\") ? fs::path(system_path.substr(4)) : fs::path(system_path);
}

std::wstring lower(std::wstring text) {
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

} // namespace

std::vector<fs::path> deleted_at_restart() {
    std::vector<fs::path> paths;
    for (const auto& [path, new_name] : pending_operations()) {
        if (new_name.empty())
            paths.push_back(dos_path(path));
    }
    return paths;
}

std::optional<int> restart_machine() {
    started_program wineboot(vd::known_folder_path(FOLDERID_System) / L"wineboot.exe", L" -r");
    if (!wineboot)
        return std::nullopt;
    return wineboot.exit_code();
}

restart_list_cleanup::~restart_list_cleanup() {
    try {
        const auto below = lower((folder_ / L"").wstring());
        auto operations = pending_operations();
        const auto ours = std::ranges::remove_if(operations, [&](const operation& item) {
            return lower(dos_path(item.first).wstring()).starts_with(below);
        });
        if (ours.empty())
            return;
        operations.erase(ours.begin(), ours.end());
        if (operations.empty()) {
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, session_manager, pending_value);
            return;
        }
        std::wstring data;
        for (const auto& [path, new_name] : operations) {
            data += path;
            data += L'\0';
            data += new_name;
            data += L'\0';
        }
        data += L'\0';
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, session_manager, pending_value, REG_MULTI_SZ, data.data(),
                          static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    } catch (...) {
    }
}

} // namespace testing_support
