#include "foundation/language/language_state.hpp"

#include <array>
#include <clocale>
#include <exception>
#include <stdexcept>

#include <locale.h>

#include "foundation/text/conversions.hpp"

namespace vd {
namespace {

// The LANGIDs of the string tables, one per UI language index.
constexpr std::array<LANGID, ui_language_count> ui_language_ids = {
    MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH),                      // 0
    MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),                 // 1
    MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),                      // 2
    MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN),             // 3
    MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE),              // 4
    MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH),                        // 5
    MAKELANGID(LANG_DANISH, SUBLANG_DANISH_DENMARK),              // 6
    MAKELANGID(LANG_TURKISH, SUBLANG_TURKISH_TURKEY),             // 7
    MAKELANGID(LANG_BULGARIAN, SUBLANG_BULGARIAN_BULGARIA),       // 8
    MAKELANGID(LANG_ROMANIAN, SUBLANG_ROMANIAN_ROMANIA),          // 9
    MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),         // 10
    MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN),                    // 11
    MAKELANGID(LANG_CZECH, SUBLANG_CZECH_CZECH_REPUBLIC),         // 12
    MAKELANGID(LANG_NORWEGIAN, SUBLANG_NORWEGIAN_BOKMAL),         // 13
    MAKELANGID(LANG_GREEK, SUBLANG_GREEK_GREECE),                 // 14
    MAKELANGID(LANG_POLISH, SUBLANG_POLISH_POLAND),               // 15
    MAKELANGID(LANG_HEBREW, SUBLANG_HEBREW_ISRAEL),               // 16
    MAKELANGID(LANG_VIETNAMESE, SUBLANG_VIETNAMESE_VIETNAM),      // 17
    MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN),            // 18
    MAKELANGID(LANG_HUNGARIAN, SUBLANG_HUNGARIAN_HUNGARY),        // 19
    MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN),              // 20
    MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA),         // 21
    MAKELANGID(LANG_SLOVENIAN, SUBLANG_SLOVENIAN_SLOVENIA),       // 22
    MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA),             // 23
};

constexpr std::uint32_t ui_language_chinese = 10;

// A stored language value read back from the registry may hold anything; it must never index
// the tables.
void check_index(std::uint32_t index) {
    if (index >= ui_language_count)
        throw std::out_of_range("UI language index out of range");
}

std::uint32_t code_page_of(LCID lcid) {
    DWORD code_page = 0;
    if (!::GetLocaleInfoW(lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                          reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)) ||
        code_page == 0)
        return ::GetACP();
    return code_page;
}

// libstdc++ on MinGW builds no named locale but "C": a name it cannot build, and the user's
// default locale taken from LANG, fall back to the classic locale.
std::locale make_locale(const std::string& name) {
    try {
        return std::locale(name);
    } catch (const std::exception&) {
    }
    try {
        return std::locale("");
    } catch (const std::exception&) {
    }
    return std::locale::classic();
}

} // namespace

language_state::language_state() {
    lcid = language_lcid(ui_language_french);
    // The run-time locale set below must hold for the whole process, not this thread alone.
    ::_configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    apply_language_locale(ui_language_french);
    ::SetThreadLocale(language_lcid(ui_language_french));
}

language_state& language_state::instance() {
    static language_state state;
    return state;
}

void set_ui_language(std::uint32_t index) {
    check_index(index);
    language_state& state = language_state::instance();
    if (index != state.language)
        apply_language_locale(index);

    // Everything is computed before the record changes, so that a failure leaves it whole.
    const LCID lcid = language_lcid(index);
    const std::uint32_t code_page = code_page_of(lcid);
    const bool right_to_left = is_rtl_language(index);

    state.language = index;
    state.lcid = lcid;
    state.code_page = code_page;
    state.module = nullptr; // looked up again by the next resource_module()
    state.right_to_left = right_to_left;
}

HMODULE resource_module() {
    language_state& state = language_state::instance();
    if (!state.module)
        state.module = ::GetModuleHandleW(nullptr);
    return state.module;
}

namespace details {

std::uint32_t ui_language_for(LANGID user_language, std::uint32_t mask) noexcept {
    const std::uint32_t fallback = (mask & (1u << ui_language_english)) ? ui_language_english : ui_language_french;
    const WORD primary = PRIMARYLANGID(user_language);
    const WORD sublanguage = SUBLANGID(user_language);
    for (std::uint32_t index = 0; index < ui_language_count; ++index) {
        if (PRIMARYLANGID(ui_language_ids[index]) != primary)
            continue;
        // Only the simplified script's regions read the Simplified Chinese texts.
        if (index == ui_language_chinese && sublanguage != SUBLANG_CHINESE_SIMPLIFIED &&
            sublanguage != SUBLANG_CHINESE_SINGAPORE)
            return fallback;
        return (mask & (1u << index)) ? index : fallback;
    }
    return fallback;
}

} // namespace details

std::uint32_t default_ui_language(std::uint32_t mask) {
    if (mask == 0)
        mask = language_state::instance().mask;
    return details::ui_language_for(::GetUserDefaultLangID(), mask);
}

LANGID language_langid(std::uint32_t index) {
    check_index(index);
    return ui_language_ids[index];
}

LCID language_lcid(std::uint32_t index) {
    const LANGID langid = language_langid(index);
    // The user's own LCID of the same language keeps the user's sort order.
    const LCID user = ::GetUserDefaultLCID();
    if (LANGIDFROMLCID(user) == langid)
        return user;
    return MAKELCID(langid, SORT_DEFAULT);
}

bool is_rtl_language(std::uint32_t index) {
    const LANGID langid = language_langid(index);
    LOCALESIGNATURE signature{};
    if (::GetLocaleInfoW(MAKELCID(langid, SORT_DEFAULT), LOCALE_FONTSIGNATURE, reinterpret_cast<LPWSTR>(&signature),
                         sizeof(signature) / sizeof(wchar_t)))
        return (signature.lsUsb[3] & (1u << 27)) != 0; // Unicode subset bit 123: right-to-left layout
    return index == ui_language_hebrew || index == ui_language_arabic;
}

std::wstring native_language_name(LCID lcid) {
    const int length = ::GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, nullptr, 0);
    if (length < 1)
        return {};
    std::wstring name(static_cast<std::size_t>(length), L'\0');
    if (!::GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, name.data(), length))
        return {};
    name.resize(static_cast<std::size_t>(length - 1));
    return name;
}

std::string language_locale_name(std::uint32_t index) {
    LCID lcid = language_lcid(index);
    // The user's own regional variant of the same language ("fr-CA" rather than "fr-FR").
    if (PRIMARYLANGID(::GetUserDefaultLangID()) == PRIMARYLANGID(LANGIDFROMLCID(lcid)))
        lcid = LOCALE_USER_DEFAULT;
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const int length = ::LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0);
    if (length < 1)
        return {};
    return wide_to_narrow(name, static_cast<std::size_t>(length - 1));
}

std::locale language_locale(std::uint32_t index) {
    return make_locale(language_locale_name(index));
}

void apply_language_locale(std::uint32_t index) {
    // Numbers keep the "C" format: only these categories follow the language.
    constexpr auto language_categories = std::locale::collate | std::locale::ctype | std::locale::monetary | std::locale::time;
    std::locale::global(std::locale(std::locale(), language_locale(index), language_categories));

    std::setlocale(LC_ALL, "C");
    try {
        const std::string name = language_locale_name(index);
        std::setlocale(LC_CTYPE, name.c_str());
        std::setlocale(LC_COLLATE, name.c_str());
        std::setlocale(LC_TIME, name.c_str());
        std::setlocale(LC_MONETARY, name.c_str());
    } catch (const std::exception&) {
        // The language changes all the same; the run-time library keeps "C".
    }
}

} // namespace vd
