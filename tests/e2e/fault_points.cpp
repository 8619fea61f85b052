#include "e2e/fault_points.hpp"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <set>
#include <sstream>

#include "e2e/installed_product.hpp"
#include "e2e/wizard_driver.hpp"
#include "foundation/errors/error.hpp"
#include "foundation/system/registry.hpp"
#include "foundation/text/conversions.hpp"
#include "installer/payload/payload_writer.hpp"
#include "support/test_folder.hpp"

namespace fs = std::filesystem;

namespace e2e {

namespace {

// The registry link's target: a key below HKEY_LOCAL_MACHINE\HARDWARE, which lives in memory
// only, so that no lasting key can be made there.
constexpr wchar_t unreachable_key[] = L"\\Registry\\Machine\\HARDWARE\\Vandrel Faults";
// Where the Uninstall key waits while it is gone.
constexpr wchar_t parked_uninstall_key[] = L"Software\\Stelvane Faults\\Uninstall";
constexpr wchar_t parked_root_key[] = L"Software\\Stelvane Faults";

std::wstring lower(std::wstring text) {
    std::ranges::transform(text, text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

std::string stored_payload_of(const fs::path& setup) {
    const vd::unique_module module{
        ::LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
    const HRSRC found = module ? ::FindResourceExW(module.get(), MAKEINTRESOURCEW(260), MAKEINTRESOURCEW(134),
                                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT))
                               : nullptr;
    if (!found)
        fail(L"no payload in " + setup.wstring());
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module.get(), found)));
    return std::string(bytes, ::SizeofResource(module.get(), found));
}

std::string id_text(std::wstring_view text) {
    std::string id;
    for (wchar_t c : text)
        id += (c < 0x80 && std::iswalnum(c)) ? static_cast<char>(c) : '_';
    return id;
}

const wchar_t* kind_name(payload_kind kind) {
    switch (kind) {
    case payload_kind::main_program:
        return L"main_program";
    case payload_kind::uninstaller:
        return L"uninstaller";
    case payload_kind::shared:
        return L"shared";
    case payload_kind::sample:
        return L"sample";
    case payload_kind::setup_only:
        return L"setup_only";
    default:
        return L"ordinary";
    }
}

const char* failure_id(failure how) {
    switch (how) {
    case failure::held_without_sharing:
        return "held";
    case failure::held_for_reading:
        return "read";
    case failure::folder_is_a_file:
        return "folder_is_a_file";
    case failure::full_disk:
        return "full_disk";
    case failure::damaged_byte:
        return "damaged_byte";
    default:
        return "step";
    }
}

// Pages of the small disk that the installation has taken when it comes to file k: the files
// it wrote there, and the copies of the old files of the other disk that it put aside in the
// temporary folder there. Old files of the small disk are moved into that folder on the same
// disk and take no more pages.
std::uint64_t pages_taken_before(const installation_plan& plan, std::size_t k) {
    std::uint64_t pages = 0;
    for (std::size_t j = 0; j < k; ++j) {
        const auto& file = plan.written[j];
        pages += file.on_small_disk ? pages_of(file.size) : pages_of(file.previous_size);
    }
    return pages;
}

// Free pages that let every file before k be written and leave file k (or its backup) a page
// short.
std::uint64_t free_pages_to_fail(const installation_plan& plan, std::size_t k) {
    const auto& file = plan.written[k];
    return pages_taken_before(plan, k) + pages_of(file.on_small_disk ? file.size : file.previous_size) - 1;
}

std::string damaged_content_payload(const installation_plan& plan, std::size_t record) {
    auto contents = plan.payload.contents;
    auto& bytes = contents[record];
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
    std::ostringstream inflated;
    write_payload_header(inflated, plan.payload.records);
    for (const auto& content : contents)
        inflated << content;
    return compress_payload(inflated.str());
}

std::string failing_directx_payload(const installation_plan& plan) {
    std::vector<payload_item> items;
    bool replaced = false;
    for (std::size_t i = 0; i < plan.payload.records.size(); ++i) {
        const auto& record = plan.payload.records[i];
        std::string content = plan.payload.contents[i];
        if (lower(record.file_name()) == L"dsetup.dll") {
            content = testing_support::read_file(windows_path(DSETUP_FAILING_DLL));
            replaced = true;
        }
        items.push_back({record.source_path, record.target, static_cast<payload_kind>(record.kind), std::move(content)});
    }
    if (!replaced)
        fail(L"the payload carries no DSetup.dll");
    std::ostringstream stored;
    write_payload(stored, items);
    return stored.str();
}

vd::unique_file hold_file(const fs::path& file, DWORD sharing) {
    vd::unique_file held{::CreateFileW(file.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr)};
    if (!held)
        fail(L"cannot hold " + file.wstring() + L": error " + std::to_wstring(::GetLastError()));
    return held;
}

using nt_delete_key = LONG(WINAPI*)(HANDLE key);

void delete_link_key(HKEY root, const wchar_t* subkey) {
    HKEY link = nullptr;
    if (::RegOpenKeyExW(root, subkey, REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, &link) != ERROR_SUCCESS)
        return;
    const vd::unique_hkey held(link);
    const auto remove = reinterpret_cast<nt_delete_key>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    if (!remove || remove(held.get()) != 0)
        fail(L"cannot remove the registry link " + std::wstring(subkey));
}

} // namespace

installation_plan make_plan(const fs::path& setup, const fs::path& install_folder, const fs::path& temporary_folder,
                            const std::wstring& samples_name) {
    installation_plan plan;
    plan.setup = setup;
    plan.stored = stored_payload_of(setup);
    plan.payload = testing_support::parse(testing_support::inflate(plan.stored));
    plan.install_folder = install_folder;
    plan.temporary_folder = temporary_folder;
    plan.small_disk = install_folder.root_path();
    plan.small_disk_limited = disk_space(plan.small_disk).second < (std::uint64_t{1} << 30);
    // The temporary folder is on C:, and on the small disk when it is mounted from there: the
    // system then tells the same space for both.
    const bool temporary_on_small_disk = disk_space(temporary_folder) == disk_space(plan.small_disk);
    std::set<std::wstring> folders;
    for (std::size_t i = 0; i < plan.payload.records.size(); ++i) {
        const auto& record = plan.payload.records[i];
        const auto kind = static_cast<payload_kind>(record.kind);
        if (kind == payload_kind::shared)
            continue;
        written_file file;
        file.record = i;
        file.kind = kind;
        file.name = record.file_name();
        file.size = record.size;
        file.target = target_of(record, install_folder, samples_name);
        if (file.target.empty()) {
            file.on_small_disk = temporary_on_small_disk;
        } else {
            std::error_code error;
            file.previous_size = fs::exists(file.target, error) ? fs::file_size(file.target) : 0;
            file.on_small_disk = lower(file.target.root_path().wstring()) == lower(plan.small_disk.wstring());
            const auto folder = lower(file.target.parent_path().wstring());
            file.first_in_folder = folders.insert(folder).second && folder != lower(install_folder.wstring());
        }
        plan.written.push_back(std::move(file));
    }
    return plan;
}

std::wstring describe(failure how) {
    switch (how) {
    case failure::held_without_sharing:
        return L"held open by another program that shares nothing";
    case failure::held_for_reading:
        return L"held open for reading by another program that shares reading only";
    case failure::folder_is_a_file:
        return L"a file stands where its folder must be";
    case failure::full_disk:
        return L"the disk is full one page before the file (or the backup of its old copy) is whole";
    case failure::damaged_byte:
        return L"one byte of its content damaged in the payload, its checksum kept";
    case failure::failing_directx:
        return L"the payload's DirectX set-up library reports a failure (-1)";
    case failure::no_uninstall_key:
        return L"HKLM\\...\\CurrentVersion\\Uninstall removed after start-up";
    case failure::maker_key_link:
        return L"HKLM\\Software\\Vandrel made, after start-up, a registry link to a key that cannot be made";
    case failure::registration_log_folder:
        return L"a folder stands where the program writes Registration.log";
    case failure::journal_new_folder:
        return L"a folder stands where Uninstall.ulog.new is written";
    }
    return L"?";
}

std::wstring step_line(later_step step) {
    switch (step) {
    case later_step::start_menu_link:
    case later_step::desktop_link:
        return L"Shortcuts Creation...";
    case later_step::directx:
        return L"Updating DirectX...";
    case later_step::uninstall_key:
    case later_step::program_path_value:
    case later_step::registration:
        return L"Registry Data Writing...";
    case later_step::journal:
        return L"Installation Data Writing...";
    }
    return L"?";
}

std::wstring expected_code(failure how) {
    switch (how) {
    case failure::held_without_sharing:
    case failure::held_for_reading:
        return L"1:00000020";  // ERROR_SHARING_VIOLATION
    case failure::folder_is_a_file:
        return L"1:000000B7";  // ERROR_ALREADY_EXISTS, as the folder could not be made
    case failure::full_disk:
        // ERROR_DISK_FULL; Wine's WriteFile reports a write cut short by a full disk as a
        // success, for which the C runtime gives EINVAL.
        return L"1:00000070|2:00000016";
    case failure::damaged_byte:
        return L"3";  // invalid checksum
    default:
        return L"";
    }
}

std::vector<fault_point> every_point(const installation_plan& plan) {
    std::vector<fault_point> points;
    for (std::size_t k = 0; k < plan.written.size(); ++k) {
        const auto& file = plan.written[k];
        std::vector<failure> ways;
        if (file.kind != payload_kind::setup_only) {
            ways.push_back(failure::held_without_sharing);
            if (file.kind == payload_kind::sample)
                ways.push_back(failure::held_for_reading);
            if (file.first_in_folder)
                ways.push_back(failure::folder_is_a_file);
        }
        ways.push_back(failure::full_disk);
        ways.push_back(failure::damaged_byte);
        const auto target = file.target.empty() ? plan.temporary_folder / L"vandrel_setup_{...}" / L"vandrel_{...}" / file.name : file.target;
        const auto where = target.wstring() + L" (" + kind_name(file.kind) + L")";
        for (const auto how : ways) {
            char number[8];
            std::snprintf(number, sizeof number, "%02zu", k + 1);
            const auto id = std::string("file_") + number + "_" + id_text(file.name) + "_" + failure_id(how);
            points.push_back({id, where, how, k, {}});
        }
    }
    const std::tuple<const char*, const wchar_t*, later_step, failure> steps[] = {
        {"start_menu_link", L"the Start-menu link", later_step::start_menu_link, failure::held_without_sharing},
        {"desktop_link", L"the desktop link", later_step::desktop_link, failure::held_without_sharing},
        {"directx", L"the DirectX set-up", later_step::directx, failure::failing_directx},
        {"uninstall_key", L"the uninstall entry", later_step::uninstall_key, failure::no_uninstall_key},
        {"program_path_value", L"the program path value", later_step::program_path_value, failure::maker_key_link},
        {"registration", L"the registration run", later_step::registration, failure::registration_log_folder},
        {"journal", L"the journal", later_step::journal, failure::journal_new_folder},
    };
    for (const auto& [id, where, step, how] : steps)
        points.push_back({std::string("step_") + id, where, how, {}, step});
    return points;
}

std::vector<fault_point> quick_points(const installation_plan& plan) {
    const std::pair<payload_kind, failure> files[] = {
        {payload_kind::main_program, failure::held_without_sharing}, {payload_kind::uninstaller, failure::full_disk},
        {payload_kind::ordinary, failure::folder_is_a_file},         {payload_kind::ordinary, failure::damaged_byte},
        {payload_kind::sample, failure::held_for_reading},           {payload_kind::sample, failure::full_disk},
        {payload_kind::setup_only, failure::damaged_byte},           {payload_kind::setup_only, failure::full_disk}};
    const auto all = every_point(plan);
    std::vector<fault_point> points;
    for (const auto& [kind, how] : files) {
        const auto found = std::ranges::find_if(all, [&](const fault_point& point) {
            return point.file && plan.written[*point.file].kind == kind && point.how == how;
        });
        if (found != all.end())
            points.push_back(*found);
    }
    const auto is_step = [](const fault_point& point) { return point.step.has_value(); };
    std::ranges::copy_if(all, std::back_inserter(points), is_step);
    return points;
}

fault_injection::fault_injection(const installation_plan& plan, const fault_point& point)
    : plan_(plan), point_(point), setup_(plan.setup) {
    const written_file* file = point.file ? &plan.written[*point.file] : nullptr;
    const auto variant = [&](const std::string& stored) {
        variant_ = L"C:\\faults\\StelvaneSetup.exe";
        write_setup_with_payload(plan.setup, variant_, stored);
        setup_ = variant_;
    };
    switch (point.how) {
    case failure::folder_is_a_file: {
        const auto folder = file->target.parent_path();
        remove_any(folder);
        testing_support::write_file(folder, "a file where a folder must be\r\n");
        break;
    }
    case failure::full_disk:
        filler_ = std::make_unique<disk_filler>(plan.small_disk / L"filler.bin", free_pages_to_fail(plan, *point.file));
        break;
    case failure::damaged_byte:
        variant(damaged_content_payload(plan, file->record));
        break;
    case failure::failing_directx:
        variant(failing_directx_payload(plan));
        break;
    case failure::registration_log_folder: {
        const auto log = plan.install_folder / L"Registration.log";
        remove_any(log);
        fs::create_directory(log);
        break;
    }
    case failure::journal_new_folder:
        fs::create_directory(plan.install_folder / L"Uninstall.ulog.new");
        break;
    default:
        break;
    }
}

void fault_injection::hold() {
    const written_file* file = point_.file ? &plan_.written[*point_.file] : nullptr;
    if (point_.how == failure::held_without_sharing) {
        const auto link = point_.step == later_step::start_menu_link ? start_menu_link() : desktop_link();
        const auto path = file ? file->target : link;
        held_ = hold_file(path, 0);
    } else if (point_.how == failure::held_for_reading) {
        held_ = hold_file(file->target, FILE_SHARE_READ);
    }
}

void fault_injection::after_start() {
    if (point_.how == failure::no_uninstall_key) {
        const auto uninstall = vd::reg_open_key(HKEY_LOCAL_MACHINE, uninstall_root_key);
        if (!uninstall)
            fail(L"no Uninstall key to remove");
        const auto parked = vd::reg_create_key(HKEY_LOCAL_MACHINE, parked_uninstall_key);
        if (const LSTATUS status = ::RegCopyTreeW(uninstall.get(), nullptr, parked.get()); status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
        uninstall_key_moved_ = true;
        if (const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstall_root_key); status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
    } else if (point_.how == failure::maker_key_link) {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, maker_machine_key);
        HKEY link = nullptr;
        LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, maker_machine_key, 0, nullptr,
                                           REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                           nullptr, &link, nullptr);
        if (status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
        const vd::unique_hkey held(link);
        maker_key_linked_ = true;
        status = ::RegSetValueExW(held.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                  reinterpret_cast<const BYTE*>(unreachable_key),
                                  static_cast<DWORD>(std::wcslen(unreachable_key) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            vd::throw_system_error(static_cast<DWORD>(status));
    }
}

void fault_injection::release() noexcept {
    held_.reset();
}

fault_injection::~fault_injection() {
    release();
    try {
        if (maker_key_linked_)
            delete_link_key(HKEY_LOCAL_MACHINE, maker_machine_key);
        if (uninstall_key_moved_) {
            const auto uninstall = vd::reg_create_key(HKEY_LOCAL_MACHINE, uninstall_root_key);
            const auto parked = vd::reg_open_key(HKEY_LOCAL_MACHINE, parked_uninstall_key);
            ::RegCopyTreeW(parked.get(), nullptr, uninstall.get());
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, parked_root_key);
        }
    } catch (const std::exception&) {
        // The next restore of the previous installation reports what stays broken.
    }
    filler_.reset();
    if (!variant_.empty())
        ::DeleteFileW(variant_.c_str());
}

} // namespace e2e
