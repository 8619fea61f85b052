#include "installer/install/directx_setup.hpp"

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <knownfolders.h>
#include <shlobj.h>

#include "foundation/errors/error.hpp"
#include "foundation/system/library.hpp"
#include "installer/wizard/callback_failure.hpp"
#include "installer/wizard/message_pump.hpp"

namespace {

// The library's own declarations; every entry point is WINAPI.
using get_version_function = int(WINAPI*)(DWORD* version, DWORD* revision);
using set_callback_function = int(WINAPI*)(decltype(&directx_setup::callback) callback);
using setup_function = int(WINAPI*)(HWND owner, wchar_t* root_path, DWORD flags);

constexpr DWORD oldest_version = 0x00040009;
constexpr DWORD oldest_revision = 903;
constexpr DWORD setup_flags = 0x10018;
constexpr DWORD progress_reason = 18;

// Little-endian fields of the image headers; the caller has checked that they lie in the file.
std::uint16_t u16_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t u32_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(u16_at(bytes, offset)) | static_cast<std::uint32_t>(u16_at(bytes, offset + 2)) << 16;
}

constexpr std::size_t dos_header_size = 64;
constexpr std::uint16_t dos_signature = 0x5A4D;        // "MZ"
constexpr std::size_t nt_offset_field = 0x3C;
constexpr std::size_t nt_headers_size = 248;           // signature, file header, 32-bit optional header
constexpr std::uint32_t nt_signature = 0x00004550;     // "PE\0\0"
constexpr std::size_t optional_magic_offset = 0x18;
constexpr std::uint16_t x64_optional_magic = 0x20B;

// Inside a catch block only.
void trace_kept_file() noexcept {
    try {
        ::OutputDebugStringW((L"D3DX9_43.dll kept: " + current_exception_text() + L"\n").c_str());
    } catch (...) {
    }
}

} // namespace

directx_setup::directx_setup(const std::wstring& folder) : folder_(folder) {
    // By its full path: its own companions come from the work folder, nothing from this
    // program's folder.
    vd::unique_module library{vd::load_library((std::filesystem::path(folder_) / L"DSetup.dll").c_str())};
    if (!library)
        return;
    const auto get_version = vd::find_export<get_version_function>(library.get(), "DirectXSetupGetVersion");
    DWORD version = 0;
    DWORD revision = 0;
    if (get_version && get_version(&version, &revision) && version >= oldest_version && revision >= oldest_revision)
        module_ = std::move(library);
}

bool directx_setup::run(HWND owner) {
    // GetProcAddress of no module would search this program itself.
    if (!module_)
        return false;
    const auto set_callback = vd::find_export<set_callback_function>(module_.get(), "DirectXSetupSetCallback");
    const auto setup = vd::find_export<setup_function>(module_.get(), "DirectXSetupW");
    if (!set_callback || !setup)
        return false;
    remove_x64_d3dx9();
    set_callback(callback);
    const int result = setup(owner, folder_.data(), setup_flags);
    return result == 0 || result == 1;
}

DWORD WINAPI directx_setup::callback(DWORD reason, DWORD, char*, char*, void*) {
    // The library calls this from inside its own frames: nothing may unwind into them.
    try {
        if (reason == progress_reason)
            pump_messages();
    } catch (...) {
        report_callback_failure();
    }
    return 1;
}

void remove_x64_d3dx9() noexcept {
    try {
        vd::unique_cotaskmem_string system_folder;
        if (FAILED(::SHGetKnownFolderPath(FOLDERID_SystemX86, KF_FLAG_DONT_VERIFY, nullptr, system_folder.put())))
            return;
        const std::filesystem::path dll = std::filesystem::path(system_folder.get()) / L"D3DX9_43.dll";
        if (!std::filesystem::exists(dll))
            return;
        remove_x64_image(dll);
    } catch (...) {
        // A clean-up that cannot tell what the file is leaves it alone; the debugger hears why.
        trace_kept_file();
    }
}

void remove_x64_image(const std::filesystem::path& dll) {
    std::vector<unsigned char> bytes;
    // A 32-bit process cannot hold every file; the size must not be cut down to one it can.
    const std::uintmax_t file_size = std::filesystem::file_size(dll);
    if (file_size > bytes.max_size())
        vd::throw_system_error(ERROR_FILE_TOO_LARGE);
    bytes.resize(static_cast<std::size_t>(file_size));
    {
        // Closed before the removal below: Windows does not delete a file that is open.
        std::ifstream in;
        in.exceptions(std::ios::failbit | std::ios::badbit);
        in.open(dll, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        char further = 0;
        if (in.readsome(&further, 1) > 0)
            throw std::logic_error("logic error");
    }

    if (bytes.size() < dos_header_size)
        vd::throw_system_error(ERROR_BAD_FORMAT);
    if (u16_at(bytes, 0) != dos_signature)
        return;
    // Compared as a distance from the end, so that an offset close to 4 GiB cannot wrap around.
    const std::uint32_t nt = u32_at(bytes, nt_offset_field);
    if (nt >= bytes.size() || bytes.size() - nt < nt_headers_size)
        vd::throw_system_error(ERROR_BAD_FORMAT);
    if (u32_at(bytes, nt) != nt_signature)
        return;
    if (u16_at(bytes, nt + optional_magic_offset) == x64_optional_magic) {
        std::error_code ignored;
        std::filesystem::remove(dll, ignored);
    }
}
