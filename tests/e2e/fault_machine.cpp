#include "e2e/fault_machine.hpp"

#include <algorithm>
#include <cwctype>
#include <set>
#include <stdexcept>

#include "e2e/wizard_driver.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/unique_any.hpp"
#include "support/test_folder.hpp"

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr std::uint64_t page_size = 4096;

std::wstring lower(std::wstring text) {
    std::ranges::transform(text, text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

// Every path below root, the root first and each folder before what it holds.
std::vector<fs::path> walk(const fs::path& root) {
    std::vector<fs::path> paths;
    std::error_code error;
    if (!fs::exists(root, error))
        return paths;
    paths.push_back(root);
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        paths.push_back(it->path());
    if (error)
        fail(L"cannot walk " + root.wstring());
    return paths;
}

} // namespace

void remove_any(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error))
        return;
    if (fs::is_directory(path, error)) {
        for (const auto& inner : walk(path))
            ::SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
    } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path, error);
    if (error)
        fail(L"cannot remove " + path.wstring());
}

namespace {

void set_attributes(const fs::path& path, DWORD attributes) {
    if (::GetFileAttributesW(path.c_str()) != attributes && !::SetFileAttributesW(path.c_str(), attributes))
        fail(L"cannot set the attributes of " + path.wstring());
}

std::wstring describe(const registry_values::value_type& value) {
    return value.first + L" (type " + std::to_wstring(value.second.first) + L", " +
           std::to_wstring(value.second.second.size()) + L" bytes)";
}

void compare_values(const std::wstring& key, const registry_values& before, const registry_values& after,
                    std::vector<std::wstring>& lines) {
    for (const auto& value : before) {
        const auto found = after.find(value.first);
        if (found == after.end())
            lines.push_back(L"value removed: " + key + L"\\" + describe(value));
        else if (found->second != value.second)
            lines.push_back(L"value changed: " + key + L"\\" + describe(value) + L" -> " + describe(*found));
    }
    for (const auto& value : after) {
        if (!before.contains(value.first))
            lines.push_back(L"value added: " + key + L"\\" + describe(value));
    }
}

} // namespace

std::vector<std::wstring> machine_differences(const machine_state& before, const machine_state& after) {
    std::vector<std::wstring> lines;
    for (std::size_t i = 0; i < before.trees.size() && i < after.trees.size(); ++i) {
        for (auto& line : testing_support::tree_differences(before.trees[i], after.trees[i]))
            lines.push_back(std::move(line));
    }
    compare_values(L"HKLM\\" + std::wstring(product_uninstall_key), before.uninstall_values, after.uninstall_values,
                   lines);
    compare_values(L"HKLM\\" + std::wstring(maker_machine_key), before.maker_values, after.maker_values, lines);
    return lines;
}

machine_state watched_machine::capture() const {
    machine_state state;
    for (const auto& root : roots_)
        state.trees.push_back(testing_support::capture_tree(root));
    state.uninstall_values = values_of(HKEY_LOCAL_MACHINE, product_uninstall_key);
    state.maker_values = values_of(HKEY_LOCAL_MACHINE, maker_machine_key);
    return state;
}

void watched_machine::save() {
    saved_.clear();
    for (const auto& root : roots_) {
        std::vector<saved_item> items;
        for (const auto& path : walk(root)) {
            saved_item item{path, fs::is_directory(path), {}, ::GetFileAttributesW(path.c_str())};
            if (!item.folder)
                item.bytes = testing_support::read_file(path);
            items.push_back(std::move(item));
        }
        saved_.push_back(std::move(items));
    }
    uninstall_values_ = values_of(HKEY_LOCAL_MACHINE, product_uninstall_key);
    maker_values_ = values_of(HKEY_LOCAL_MACHINE, maker_machine_key);
}

void watched_machine::restore() const {
    for (std::size_t r = 0; r < roots_.size(); ++r) {
        const auto& items = saved_[r];
        std::set<std::wstring> kept;
        for (const auto& item : items)
            kept.insert(lower(item.path.wstring()) + (item.folder ? L"\\" : L""));
        // What is there and was not, or is there as a folder where a file was (or the other
        // way round), goes first: the innermost first.
        auto present = walk(roots_[r]);
        for (auto path = present.rbegin(); path != present.rend(); ++path) {
            std::error_code error;
            const bool folder = fs::is_directory(*path, error);
            if (!kept.contains(lower(path->wstring()) + (folder ? L"\\" : L"")) && fs::exists(*path, error))
                remove_any(*path);
        }
        for (const auto& item : items) {
            if (item.folder) {
                std::error_code error;
                fs::create_directories(item.path, error);
                continue;
            }
            if (fs::exists(item.path) && testing_support::read_file(item.path) == item.bytes)
                continue;
            ::SetFileAttributesW(item.path.c_str(), FILE_ATTRIBUTE_NORMAL);
            testing_support::write_file(item.path, item.bytes);
        }
        // Attributes last: a read-only folder would not stop the writes, but a file's own
        // attribute must not be cleared again by a later write.
        for (const auto& item : items)
            set_attributes(item.path, item.attributes);
    }
    rewrite_key(HKEY_LOCAL_MACHINE, product_uninstall_key, uninstall_values_);
    rewrite_key(HKEY_LOCAL_MACHINE, maker_machine_key, maker_values_);
}

void rewrite_key(HKEY root, const std::wstring& subkey, const registry_values& values) {
    const LSTATUS removed = ::RegDeleteTreeW(root, subkey.c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        vd::throw_system_error(static_cast<DWORD>(removed));
    if (values.empty())
        return;
    const auto key = vd::reg_create_key(root, subkey);
    for (const auto& [name, value] : values) {
        const LSTATUS status = ::RegSetValueExW(key.get(), name.c_str(), 0, value.first, value.second.data(),
                                                static_cast<DWORD>(value.second.size()));
        if (status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
    }
}

std::uint64_t pages_of(std::uint64_t size) {
    return (size + page_size - 1) / page_size;
}

std::pair<std::uint64_t, std::uint64_t> disk_space(const fs::path& folder) {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free))
        vd::throw_system_error(::GetLastError());
    return {available.QuadPart, total.QuadPart};
}

disk_filler::disk_filler(const fs::path& file, std::uint64_t free_pages) : file_(file) {
    const auto available = disk_space(file.parent_path()).first;
    if (available < free_pages * page_size)
        fail(L"the disk has only " + std::to_wstring(available / page_size) + L" pages free, not " +
             std::to_wstring(free_pages));
    std::uint64_t left = available - free_pages * page_size;
    const vd::unique_file out{::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)};
    if (!out)
        vd::throw_system_error(::GetLastError());
    const std::string block(1 << 20, '\0');
    while (left > 0) {
        const auto size = static_cast<DWORD>(std::min<std::uint64_t>(left, block.size()));
        DWORD written = 0;
        if (!::WriteFile(out.get(), block.data(), size, &written, nullptr) || written != size)
            vd::throw_system_error(::GetLastError());
        left -= size;
    }
    if (disk_space(file.parent_path()).first != free_pages * page_size)
        fail(L"the disk did not fill to " + std::to_wstring(free_pages) + L" free pages");
}

disk_filler::~disk_filler() {
    ::DeleteFileW(file_.c_str());
}

} // namespace e2e
