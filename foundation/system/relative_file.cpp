#include "foundation/system/relative_file.hpp"

#include "foundation/system/library.hpp"

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

#include <winternl.h>

namespace vd {

namespace {

using create_file_function = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                              ULONG, ULONG, ULONG, PVOID, ULONG);
using set_information_function = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using status_to_error_function = ULONG(NTAPI*)(NTSTATUS);

// The native calls, looked up in ntdll so that the import table stays as it is.
struct native_calls {
    create_file_function create_file;
    set_information_function set_information;
    status_to_error_function status_to_error;

    static const native_calls& get() {
        static const native_calls calls = [] {
            const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
            return native_calls{find_export<create_file_function>(ntdll, "NtCreateFile"),
                                find_export<set_information_function>(ntdll, "NtSetInformationFile"),
                                find_export<status_to_error_function>(ntdll, "RtlNtStatusToDosError")};
        }();
        return calls;
    }
};

bool is_single_element(std::wstring_view name) {
    if (name.empty() || name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ')
        return false;
    return name.find_first_of(L"\\/") == std::wstring_view::npos;
}

ULONG kind_option(relative_kind kind) {
    switch (kind) {
    case relative_kind::folder:
        return FILE_DIRECTORY_FILE;
    case relative_kind::file:
        return FILE_NON_DIRECTORY_FILE;
    default:
        return 0;
    }
}

ULONG native_disposition(relative_disposition disposition) {
    switch (disposition) {
    case relative_disposition::existing_or_new:
        return FILE_OPEN_IF;
    case relative_disposition::new_only:
        return FILE_CREATE;
    default:
        return FILE_OPEN;
    }
}

} // namespace

relative_open_result open_relative(HANDLE folder, std::wstring_view name, DWORD access, DWORD share,
                                   relative_disposition disposition, relative_kind kind) noexcept {
    relative_open_result result;
    if (!is_single_element(name) || name.size() * sizeof(wchar_t) > 0xFFFE) {
        result.error = ERROR_INVALID_NAME;
        return result;
    }
    const auto& native = native_calls::get();
    if (!native.create_file || !native.status_to_error) {
        result.error = ERROR_PROC_NOT_FOUND;
        return result;
    }
    UNICODE_STRING object_name{};
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    object_name.Length = object_name.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes{};
    // Case is ignored, as CreateFileW ignores it.
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | kind_option(kind);
    const NTSTATUS status = native.create_file(&opened, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
                                        FILE_ATTRIBUTE_NORMAL, share,
                                        native_disposition(disposition), options, nullptr, 0);
    if (status < 0) {
        result.error = native.status_to_error(status);
        return result;
    }
    result.handle.reset(opened);
    result.created = io.Information == FILE_CREATED;
    return result;
}

DWORD rename_relative(HANDLE item, HANDLE folder, std::wstring_view name) noexcept {
    const auto& native = native_calls::get();
    if (!native.set_information || !native.status_to_error)
        return ERROR_PROC_NOT_FOUND;
    try {
        std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = folder;
        rename->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), rename->FileName);
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = native.set_information(item, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
        return status >= 0 ? ERROR_SUCCESS : native.status_to_error(status);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace vd
