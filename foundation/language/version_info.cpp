#include "foundation/language/version_info.hpp"

#include <cstring>
#include <utility>

#include <fmt/xchar.h>

#include "foundation/errors/error.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/streams/resource_stream.hpp"
#include "foundation/system/library.hpp"
#include "foundation/system/unique_any.hpp"

namespace vd {
namespace {

// Unicode string tables; others are not read.
constexpr WORD unicode_code_page = 1200;
constexpr WORD lang_french = 12;

// version.dll is not among the libraries that Windows always takes from its own folder, so it
// is not imported: an import would load a version.dll lying beside the program before any of
// our code runs. It is bound from the system folder on first use instead.
struct version_library {
    unique_module module;
    decltype(&::GetFileVersionInfoSizeW) get_size = nullptr;
    decltype(&::GetFileVersionInfoW) get_block = nullptr;
    decltype(&::VerQueryValueW) query_value = nullptr;
};

template <class Function>
Function bound_export(HMODULE module, const char* name) {
    const auto found = find_export<Function>(module, name);
    if (!found)
        throw_system_error();
    return found;
}

const version_library& version_functions() {
    static const version_library bound = [] {
        version_library library{unique_module{load_system_library(L"version.dll")}};
        if (!library.module)
            throw_system_error();
        library.get_size = bound_export<decltype(library.get_size)>(library.module.get(), "GetFileVersionInfoSizeW");
        library.get_block = bound_export<decltype(library.get_block)>(library.module.get(), "GetFileVersionInfoW");
        library.query_value = bound_export<decltype(library.query_value)>(library.module.get(), "VerQueryValueW");
        return library;
    }();
    return bound;
}

void replace_last(std::wstring& text, std::wstring_view what, std::wstring_view with) {
    const std::size_t at = text.rfind(what);
    if (at != std::wstring::npos)
        text.replace(at, what.size(), with);
}

} // namespace

version_info::version_info(std::vector<std::byte> buffer, const void* data, std::size_t size)
    : buffer_(std::move(buffer)) {
    data_ = data ? data : buffer_.data();
    size_ = data ? size : buffer_.size();
    if (size_ == 0)
        return;
    // VerQueryValueW walks the block by the lengths it states and knows nothing of size: a
    // block cut short (its header, wLength, counting more than is there) reads as no block.
    WORD stated_length = 0;
    if (size_ >= 3 * sizeof(WORD))
        std::memcpy(&stated_length, data_, sizeof stated_length);
    if (size_ < 3 * sizeof(WORD) || stated_length > size_) {
        size_ = 0;
        return;
    }

    void* fixed = nullptr;
    UINT fixed_size = 0;
    if (!version_functions().query_value(data_, L"\\", &fixed, &fixed_size))
        return;
    // A damaged block from some other file must not make us read past its fixed part.
    if (fixed && fixed_size >= sizeof(VS_FIXEDFILEINFO) &&
        static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwSignature == VS_FFI_SIGNATURE)
        fixed_ = static_cast<const VS_FIXEDFILEINFO*>(fixed);

    void* translations = nullptr;
    UINT translations_size = 0;
    if (!version_functions().query_value(data_, L"\\VarFileInfo\\Translation", &translations, &translations_size) ||
        !translations)
        return;
    // Pairs of (language, code page).
    const auto* pairs = static_cast<const WORD*>(translations);
    for (UINT pair = 0; pair < translations_size / 4; ++pair) {
        const WORD language = pairs[2 * pair];
        const WORD code_page = pairs[2 * pair + 1];
        if (code_page == unicode_code_page)
            keys_.push_back(fmt::format(L"{:04x}{:04x}", language, code_page));
    }
}

std::uint64_t version_info::file_version() const noexcept {
    if (!fixed_)
        return 0;
    return (std::uint64_t{fixed_->dwFileVersionMS} << 32) | fixed_->dwFileVersionLS;
}

std::wstring version_info::string_value(std::wstring_view name) const {
    if (size_ == 0 || keys_.empty())
        return {};
    const std::wstring path = fmt::format(L"\\StringFileInfo\\{}\\{}", keys_.front(), name);
    void* value = nullptr;
    UINT length = 0;
    if (!version_functions().query_value(data_, path.c_str(), &value, &length) || !value || length == 0)
        return {};
    std::wstring_view text(static_cast<const wchar_t*>(value), length);
    if (text.back() == L'\0')
        text.remove_suffix(1);
    return std::wstring(text);
}

std::wstring version_info::edition_product_name() const {
    return product_name();
}

std::wstring version_info::version_text() const {
    std::wstring text = edition_product_name();
    const std::wstring version = product_version();
    if (!version.empty()) {
        text += L' ';
        text += version;
    }
    const DWORD flags = fixed_ ? (fixed_->dwFileFlags & fixed_->dwFileFlagsMask) : 0;
    // French keeps its own spelling of the pre-release mark.
    if ((flags & VS_FF_PRERELEASE) &&
        PRIMARYLANGID(LANGIDFROMLCID(language_state::instance().lcid)) != lang_french)
        replace_last(text, L"b\u00eata", L"beta");
    if (flags & VS_FF_PRIVATEBUILD)
        text += L" \u2013 Private";
    if (flags & VS_FF_DEBUG)
        text += L" \u2013 Debug";
    return text;
}

version_info module_version_info() {
    static const auto block =
        find_resource_bytes(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    return version_info({}, block.data(), block.size());
}

std::vector<std::byte> load_file_version_block(const std::wstring& path) {
    const DWORD size = version_functions().get_size(path.c_str(), nullptr);
    if (size == 0)
        return {};
    std::vector<std::byte> block(size);
    if (!version_functions().get_block(path.c_str(), 0, size, block.data()))
        return {};
    return block;
}

version_info file_version_info(const std::wstring& path) {
    return version_info(load_file_version_block(path));
}

} // namespace vd
