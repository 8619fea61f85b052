#include "foundation/system/folder_tree.hpp"

#include "foundation/errors/error.hpp"

#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

HRESULT hresult_of(const fs::filesystem_error& e) {
    const auto& code = e.code();
    if (code.category() == std::system_category())
        return code.value() > 0 ? HRESULT_FROM_WIN32(static_cast<unsigned>(code.value()) & 0xFFFF)
                                : static_cast<HRESULT>(code.value());
    if (code.category() == std::generic_category()) {
        // libstdc++ reports the C runtime's error numbers, and a file in the place of a folder
        // as "not a directory" where others say "file exists"; the user is told the Win32 code.
        if (code == std::errc::not_a_directory)
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        if (const auto win32 = vd::win32_error_of(code.value()); win32 && *win32 != 0)
            return HRESULT_FROM_WIN32(*win32);
    }
    return vd::e_unusable_path;
}

} // namespace

namespace vd {

HRESULT create_folder_tree(const wchar_t* text) {
    if (!text)
        return E_INVALIDARG;
    std::wstring trimmed(text);
    trimmed.erase(0, trimmed.find_first_not_of(L" \t"));
    trimmed.erase(trimmed.find_last_not_of(L" \t.") + 1);
    if (trimmed.empty())
        return E_INVALIDARG;
    try {
        fs::path folder(trimmed);
        if (!folder.is_absolute())
            folder = fs::absolute(folder);
        fs::create_directories(folder);
        return S_OK;
    } catch (const fs::filesystem_error& e) {
        return hresult_of(e);
    }
}

} // namespace vd
