#include "e2e/installed_product.hpp"

#include <comdef.h>
#include <shlobj.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <tuple>
#include <regex>
#include <stdexcept>

#include "e2e/wizard_driver.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/com.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/system/unique_any.hpp"
#include "foundation/text/conversions.hpp"
#include "support/test_folder.hpp"

_COM_SMARTPTR_TYPEDEF(IShellLinkW, __uuidof(IShellLinkW));
_COM_SMARTPTR_TYPEDEF(IPersistFile, __uuidof(IPersistFile));

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr wchar_t link_name[] = L"Stelvane 8.01.lnk";

bool starts_with_template(const std::wstring& folder, std::wstring_view name, std::wstring& rest) {
    if (!folder.starts_with(name))
        return false;
    rest = folder.substr(name.size());
    if (rest.starts_with(L'\\'))
        rest.erase(0, 1);
    return true;
}

} // namespace

testing_support::parsed_payload payload_of(const fs::path& setup) {
    const vd::unique_module module{
        ::LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    if (!module)
        fail(L"cannot open " + setup.wstring() + L": error " + std::to_wstring(::GetLastError()));
    const HRSRC found = ::FindResourceExW(module.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                                          MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    if (!found)
        fail(L"the installer carries no payload");
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module.get(), found)));
    return testing_support::parse(testing_support::inflate(std::string(bytes, ::SizeofResource(module.get(), found))));
}

void write_setup_with_payload(const fs::path& setup, const fs::path& copy, const std::string& stored) {
    fs::create_directories(copy.parent_path());
    fs::copy_file(setup, copy, fs::copy_options::overwrite_existing);
    vd::unique_resource_update update{::BeginUpdateResourceW(copy.c_str(), FALSE)};
    if (!update)
        vd::throw_system_error(::GetLastError());
    if (!::UpdateResourceW(update.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), const_cast<char*>(stored.data()),
                           static_cast<DWORD>(stored.size())))
        vd::throw_system_error(::GetLastError());
    if (!::EndUpdateResourceW(update.release(), FALSE))
        vd::throw_system_error(::GetLastError());
}

fs::path known_folder(const KNOWNFOLDERID& id) {
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    const vd::unique_cotaskmem_string held(path);
    vd::throw_if_failed(result);
    return path;
}

fs::path target_of(const payload_file& record, const fs::path& install_folder, const std::wstring& samples_name) {
    std::wstring rest;
    fs::path base;
    if (starts_with_template(record.target, L"<InstallPath>", rest))
        base = install_folder;
    else if (starts_with_template(record.target, L"<CommonData>", rest))
        base = known_folder(FOLDERID_ProgramData);
    else if (starts_with_template(record.target, L"<UserData>", rest))
        base = known_folder(FOLDERID_RoamingAppData);
    else if (starts_with_template(record.target, L"<SamplePath>", rest))
        base = known_folder(FOLDERID_PublicDesktop) / samples_name;
    else if (starts_with_template(record.target, L"<Temporary>", rest))
        return {};
    else
        fail(L"a record names an unexpected folder: " + record.target);
    return (rest.empty() ? base : base / rest) / record.file_name();
}

std::uint32_t file_crc(const fs::path& file) {
    const auto bytes = testing_support::read_file(file);
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::wstring link_target(const fs::path& link) {
    const vd::com_scope com(COINIT_APARTMENTTHREADED);
    IShellLinkWPtr shell_link;
    vd::throw_if_failed(shell_link.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER));
    IPersistFilePtr persist;
    vd::throw_if_failed(shell_link.QueryInterface(__uuidof(IPersistFile), &persist));
    vd::throw_if_failed(persist->Load(link.c_str(), STGM_READ));
    wchar_t target[MAX_PATH] = {};
    vd::throw_if_failed(shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH));
    return target;
}

fs::path start_menu_link() {
    return known_folder(FOLDERID_CommonPrograms) / link_name;
}

fs::path desktop_link() {
    return known_folder(FOLDERID_PublicDesktop) / link_name;
}

registry_values values_of(HKEY root, const std::wstring& subkey) {
    registry_values values;
    const auto key = vd::reg_open_key(root, subkey);
    if (!key)
        return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD name_length = 256;
        DWORD type = 0;
        std::vector<BYTE> data(4096);
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status = ::RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
        data.resize(size);
        values[name] = {type, std::move(data)};
    }
    return values;
}

std::wstring string_value(const registry_values& values, const std::wstring& name) {
    const auto found = values.find(name);
    if (found == values.end() || found->second.first != REG_SZ)
        return L"(no text value " + name + L")";
    const auto& data = found->second.second;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    if (text.empty() || text.back() != L'\0')
        return L"(a text without its terminating NUL: " + text + L")";
    text.pop_back();
    return text;
}

std::optional<DWORD> dword_value(const registry_values& values, const std::wstring& name) {
    const auto found = values.find(name);
    if (found == values.end() || found->second.first != REG_DWORD || found->second.second.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, found->second.second.data(), sizeof value);
    return value;
}

tree_snapshot snapshot(const fs::path& folder) {
    tree_snapshot files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_regular_file())
            files[it->path().wstring()] = {it->file_size(), file_crc(it->path()), ::GetFileAttributesW(it->path().c_str())};
    }
    return files;
}

void forget_installation() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stelvane 8");
    if (const auto key = vd::reg_open_key(HKEY_LOCAL_MACHINE, L"Software\\Vandrel"))
        ::RegDeleteValueW(key.get(), L"Stelvane 8 Path");
}

void remove_tree(const fs::path& folder) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder, error);
    if (error)
        fail(L"cannot remove " + folder.wstring() + L": " + vd::utf8_to_wide(error.message()));
}

journal_file read_journal(const fs::path& file) {
    const auto bytes = testing_support::read_file(file);
    journal_file journal;
    journal.utf16_with_mark = bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes.starts_with("\xFF\xFE");
    if (!journal.utf16_with_mark)
        return journal;
    std::wstring text(bytes.size() / 2 - 1, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    journal.crlf_only = text.ends_with(L"\r\n");
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find(L"\r\n", start);
        const auto line = text.substr(start, end - start);
        if (line.find_first_of(L"\r\n") != std::wstring::npos)
            journal.crlf_only = false;
        journal.lines.push_back(line);
        if (end == std::wstring::npos)
            break;
        start = end + 2;
    }
    return journal;
}

std::optional<journal_line> parse_journal_line(const std::wstring& line) {
    static const std::wregex form(L"(\\d{4,}):([0-9a-f]{4,}):([01]) -- (.*)");
    std::wsmatch match;
    if (!std::regex_match(line, match, form))
        return std::nullopt;
    return journal_line{std::stoul(match[1].str()), static_cast<unsigned>(std::stoul(match[2].str(), nullptr, 16)),
                        match[3].str() == L"1", match[4].str()};
}

std::vector<std::wstring> registration_lines(const fs::path& install_folder) {
    return utf8_lines(install_folder / L"Registration.log");
}

std::vector<std::wstring> utf8_lines(const fs::path& file) {
    const auto text = testing_support::read_file(file);
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(vd::utf8_to_wide(std::string_view(text).substr(start, end - start)));
        start = end + 2;
    }
    return lines;
}

bool installer_mutex_held() {
    const vd::unique_handle mutex{
        ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"Global\\Stelvane8.{5ead623c-dfcd-474d-8e3c-e6978cac039e}")};
    if (!mutex)
        return false;
    const DWORD waited = ::WaitForSingleObject(mutex.get(), 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ::ReleaseMutex(mutex.get());
    return waited == WAIT_TIMEOUT;
}

namespace {

bool is_installer_temp_folder(const std::wstring& name) {
    return name.starts_with(L"vandrel_setup_{");
}

// The backups and work folders directly in a folder, named as seen from the temporary folder.
void add_leftovers_in(const fs::path& folder, const fs::path& seen_as, std::vector<std::wstring>& found) {
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        const auto name = item.path().filename().wstring();
        const bool backup = name.starts_with(L"vd-") && name.ends_with(L".tmp");
        const bool work_folder = name.starts_with(L"vandrel_{");
        if (backup || work_folder)
            found.push_back((seen_as / name).wstring());
    }
}

} // namespace

fs::path system_temp_folder() {
    return known_folder(FOLDERID_Windows) / L"Temp";
}

std::vector<std::wstring> installation_leftovers() {
    std::vector<std::wstring> found;
    add_leftovers_in(fs::temp_directory_path(), {}, found);
    const auto system_temporary = system_temp_folder();
    add_leftovers_in(system_temporary, system_temporary, found);
    for (const auto& name : installer_temp_folders())
        add_leftovers_in(system_temporary / name, system_temporary / name, found);
    return found;
}

std::vector<std::wstring> installer_temp_folders() {
    std::vector<std::wstring> found;
    for (const auto& item : fs::directory_iterator(system_temp_folder())) {
        if (const auto name = item.path().filename().wstring(); is_installer_temp_folder(name))
            found.push_back(name);
    }
    return found;
}

} // namespace e2e
