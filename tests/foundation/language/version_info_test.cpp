// Version blocks built here byte by byte, as resource compilers lay them out, and the blocks of
// programs that have none.
#include "foundation/language/version_info.hpp"

#include <cstring>
#include <initializer_list>

#include <gtest/gtest.h>

#include "foundation/language/language_state.hpp"
#include "foundation/system/unique_any.hpp"

namespace {

using bytes = std::vector<std::byte>;

void append(bytes& out, const void* data, std::size_t size) {
    const std::size_t at = out.size();
    out.resize(at + size);
    if (size != 0)
        std::memcpy(out.data() + at, data, size);
}

void align(bytes& out) {
    out.resize((out.size() + 3) & ~std::size_t{3});
}

// One node: wLength, wValueLength, wType, the NUL-terminated key, the value and the children,
// each starting on a 32-bit boundary.
bytes node(std::wstring_view key, const void* value, std::size_t value_bytes, WORD value_length,
           WORD type, std::initializer_list<bytes> children = {}) {
    bytes out(6);
    append(out, key.data(), key.size() * sizeof(wchar_t));
    out.resize(out.size() + sizeof(wchar_t));
    align(out);
    append(out, value, value_bytes);
    for (const bytes& child : children) {
        align(out);
        append(out, child.data(), child.size());
    }
    const WORD header[3] = {static_cast<WORD>(out.size()), value_length, type};
    std::memcpy(out.data(), header, sizeof(header));
    return out;
}

bytes string_node(std::wstring_view name, std::wstring_view value, bool with_nul = true) {
    std::wstring stored(value);
    if (with_nul)
        stored.push_back(L'\0');
    return node(name, stored.data(), stored.size() * sizeof(wchar_t), static_cast<WORD>(stored.size()), 1);
}

struct block_spec {
    DWORD version_ms = 0x00030001;
    DWORD version_ls = 0x00000001;
    DWORD flags = 0;
    std::vector<std::pair<WORD, WORD>> translations = {{0x0409, 1252}, {0x0400, 1200}};
    std::wstring_view product_version = L"3.1 b\u00eata";
};

bytes version_block(const block_spec& spec) {
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = spec.version_ms;
    fixed.dwFileVersionLS = spec.version_ls;
    fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed.dwFileFlags = spec.flags;
    std::vector<WORD> pairs;
    for (const auto& [language, code_page] : spec.translations) {
        pairs.push_back(language);
        pairs.push_back(code_page);
    }
    const WORD pairs_bytes = static_cast<WORD>(pairs.size() * sizeof(WORD));
    return node(L"VS_VERSION_INFO", &fixed, sizeof(fixed), sizeof(fixed), 0,
                {node(L"StringFileInfo", nullptr, 0, 0, 1,
                      {node(L"040904e4", nullptr, 0, 0, 1, {string_node(L"ProductName", L"Wrong table")}),
                       node(L"040004b0", nullptr, 0, 0, 1,
                            {string_node(L"ProductName", L"Orvanta"),
                             string_node(L"ProductVersion", spec.product_version, false),
                             string_node(L"LegalCopyright", L"\u00a9 Vandrel")})}),
                 node(L"VarFileInfo", nullptr, 0, 0, 1,
                      {node(L"Translation", pairs.data(), pairs_bytes, pairs_bytes, 0)})});
}

// Makes a UI language current and puts the previous one back.
class ui_language_scope {
public:
    explicit ui_language_scope(std::uint32_t language) : saved_(vd::language_state::instance().language) {
        vd::set_ui_language(language);
    }
    ~ui_language_scope() { vd::set_ui_language(saved_); }

private:
    std::uint32_t saved_;
};

} // namespace

TEST(version_info, reads_the_unicode_table_and_the_fixed_version) {
    const vd::version_info info(version_block({}));
    EXPECT_EQ(info.translation_keys(), std::vector<std::wstring>{L"040004b0"});
    EXPECT_EQ(info.file_version(), 0x0003000100000001ull) << "3.1.0.1";
    EXPECT_EQ(info.product_name(), L"Orvanta");
    EXPECT_EQ(info.product_version(), L"3.1 b\u00eata") << "stored without its NUL";
    EXPECT_EQ(info.legal_copyright(), L"\u00a9 Vandrel");
    EXPECT_EQ(info.string_value(L"FileDescription"), L"");
}

TEST(version_info, blocks_without_unicode_strings_or_fixed_part) {
    block_spec ansi_only;
    ansi_only.translations = {{0x0409, 1252}};
    const vd::version_info ansi(version_block(ansi_only));
    EXPECT_EQ(ansi.product_name(), L"");
    EXPECT_EQ(ansi.file_version(), 0x0003000100000001ull);
    EXPECT_TRUE(ansi.has_file_version());

    // The fixed part cut short: nothing beyond what the block holds is read.
    const DWORD half[4] = {VS_FFI_SIGNATURE, 0x00010000, 0x00090000, 0};
    const vd::version_info cut(node(L"VS_VERSION_INFO", half, sizeof(half), sizeof(half), 0));
    EXPECT_EQ(cut.file_version(), 0u);
    EXPECT_FALSE(cut.has_file_version());

    // A block cut off after its fixed part while its length still counts the rest, lying at
    // the very end of readable memory: nothing past the bytes given may be read.
    const bytes whole = version_block({});
    const std::size_t kept = 92;  // header, key, fixed part
    const vd::unique_virtual_memory reserved{::VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS)};
    auto* pages = static_cast<std::byte*>(reserved.get());
    ASSERT_TRUE(pages && ::VirtualAlloc(pages, 0x1000, MEM_COMMIT, PAGE_READWRITE));
    std::byte* truncated = pages + 0x1000 - kept;
    std::memcpy(truncated, whole.data(), kept);
    {
        const vd::version_info info({}, truncated, kept);
        EXPECT_EQ(info.product_name(), L"");
        EXPECT_TRUE(info.translation_keys().empty());
    }

    // This test program has no version block; a missing file has none either.
    EXPECT_EQ(vd::module_version_info().file_version(), 0u);
    EXPECT_EQ(vd::module_version_info().version_text(), L"");
    const vd::version_info missing = vd::file_version_info(L"C:\\no such folder\\none.exe");
    EXPECT_EQ(missing.file_version(), 0u);
    EXPECT_FALSE(missing.has_file_version());
    EXPECT_EQ(missing.product_name(), L"");
}

TEST(version_info, version_text_carries_the_build_marks) {
    block_spec spec;
    spec.product_version = L"3.1 b\u00eata / b\u00eata";
    spec.flags = VS_FF_PRERELEASE;
    const vd::version_info prerelease(version_block(spec));
    {
        ui_language_scope english(vd::ui_language_english);
        EXPECT_EQ(prerelease.version_text(), L"Orvanta 3.1 b\u00eata / beta") << "the last one only";
    }
    {
        ui_language_scope french(vd::ui_language_french);
        EXPECT_EQ(prerelease.version_text(), L"Orvanta 3.1 b\u00eata / b\u00eata");
    }

    spec.flags = VS_FF_PRIVATEBUILD | VS_FF_DEBUG;
    ui_language_scope english(vd::ui_language_english);
    EXPECT_EQ(vd::version_info(version_block(spec)).version_text(),
              L"Orvanta 3.1 b\u00eata / b\u00eata \u2013 Private \u2013 Debug")
        << "no pre-release flag: b\u00eata stays";
}
