#include "installer/startup/installer_texts.hpp"

#include "foundation/language/language_state.hpp"
#include "foundation/streams/resource_stream.hpp"

bool has_translation(int language) {
    switch (language) {
    case 0:  // French
    case 1:  // English
    case 2:  // German
    case 3:  // Spanish
    case 4:  // Portuguese
    case 7:  // Turkish
    case 9:  // Romanian
    case 11: // Italian
    case 12: // Czech
    case 19: // Hungarian
    case 21: // Arabic
        return true;
    default:
        return false;
    }
}

std::wstring product_name(bool name_only) {
    std::wstring name = L"Stelvane";
    if (!name_only)
        name += L" 8.01";
    return name;
}

BOOL CALLBACK match_string_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR lparam) {
    auto& found = *reinterpret_cast<string_languages*>(lparam);
    const LANGID primary = PRIMARYLANGID(found.wanted);
    const LANGID candidates[4] = {found.wanted, MAKELANGID(primary, SUBLANG_DEFAULT), primary,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)};
    for (int slot = 0; slot < 4; ++slot) {
        if (language == candidates[slot]) {
            found.slots[slot] = language;
            break;
        }
    }
    return TRUE;
}

bool string_from_block(HMODULE module, unsigned block, unsigned entry, LANGID lang,
                       std::wstring_view& text) {
    text = {};
    const auto bytes = vd::find_resource_bytes(module, MAKEINTRESOURCEW(block), RT_STRING, lang);
    if (bytes.empty())
        return false;
    // A damaged block must not lead the walk past its end.
    const auto [first, length] = vd::find_block_string(bytes.data(), bytes.size(), entry);
    if (!first || length == 0)
        return false;
    text = {first, length};
    return true;
}

std::wstring_view find_resource_string(int language, unsigned id) {
    // Ids are 16 bits; a larger one would name another block once made a resource name.
    if (id > 0xFFFF)
        return {};
    const unsigned block = id / 16 + 1;
    const unsigned entry = id % 16;
    // A language outside the table has no string tables of its own: the system chooses.
    const LANGID langid = language >= 0 && language < static_cast<int>(vd::ui_language_count)
                              ? vd::language_langid(static_cast<std::uint32_t>(language))
                              : LANGID{0};
    const HMODULE module = vd::resource_module();

    std::wstring_view text;
    bool found = false;
    if (langid != 0) {
        string_languages languages{langid};
        ::EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), match_string_language,
                                 reinterpret_cast<LONG_PTR>(&languages));
        for (const LANGID slot : languages.slots) {
            if (slot != 0 && string_from_block(module, block, entry, slot, text)) {
                found = true;
                break;
            }
        }
    }
    if (!found)
        found = string_from_block(module, block, entry, 0, text);
    // Untranslated entries hold "#" so that the tables keep their shape.
    if (!found || text == L"#")
        return {};
    return text;
}
