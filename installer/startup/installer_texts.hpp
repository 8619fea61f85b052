// The installer's own texts: which UI languages it translates, the lookup of one string-table
// entry in one language, and the product's name and version as the wizard shows them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>

// The file version this installer installs, 8.1.0.1; people read it as "8.01".
inline constexpr std::uint64_t installer_version = 0x0008000100000001ull;

// True for the 11 UI languages whose tables the installer translates; the others read English.
bool has_translation(int language);

// "Stelvane", followed by " 8.01" unless name_only.
std::wstring product_name(bool name_only);

// The entry id in the string tables of one UI language, a view into the resource module's
// memory; empty when the entry is missing, empty or the placeholder "#".
std::wstring_view find_resource_string(int language, unsigned id);

// The non-empty entry at position entry (0 to 15) of string block block in language lang
// (0: the system's choice). False when the block is missing or the entry is empty or does not
// lie wholly inside the block.
bool string_from_block(HMODULE module, unsigned block, unsigned entry, LANGID lang,
                       std::wstring_view& text);

// The languages a string block exists in, sorted by how well they suit the wanted one.
struct string_languages {
    LANGID wanted = 0;
    // exact, same primary language with SUBLANG_DEFAULT, that language neutral, LANG_NEUTRAL
    // with SUBLANG_DEFAULT; 0 where the block has no such language.
    LANGID slots[4] = {};
};

// EnumResourceLanguagesW callback; lparam points at a string_languages.
BOOL CALLBACK match_string_language(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                                    LONG_PTR lparam);
