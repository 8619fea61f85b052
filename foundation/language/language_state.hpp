// The process-wide UI language: which of the 24 UI languages speaks, its LCID and ANSI code
// page, the module that holds the UI resources and whether it is written right to left.
// Changing it also moves the C++ and C run-time locales (numbers keep the "C" format).
#pragma once

#include <cstdint>
#include <locale>
#include <string>

#include <windows.h>

namespace vd {

// UI language indices run from 0 to ui_language_count - 1; the mask bit of index i is 1 << i.
inline constexpr std::uint32_t ui_language_count = 24;
inline constexpr std::uint32_t ui_language_french = 0;
inline constexpr std::uint32_t ui_language_english = 1;
inline constexpr std::uint32_t ui_language_hebrew = 16;
inline constexpr std::uint32_t ui_language_arabic = 21;

// Created on first use and kept for the whole run; read and changed on the UI thread only.
class language_state {
public:
    static language_state& instance();

    language_state(const language_state&) = delete;
    language_state& operator=(const language_state&) = delete;

    std::uint32_t mask = 1;        // bit i: UI language i is offered
    std::uint32_t language = 0;    // current UI language index
    std::uint32_t lcid = 0;        // LCID of the current language
    std::uint32_t code_page = 1252; // ANSI code page of the current language
    HMODULE module = nullptr;      // module with the UI resources; null until looked up
    bool right_to_left = false;

private:
    language_state();
};

// Makes index the current UI language. The run-time locales move only when the index changes;
// the rest of the record is recomputed every time. An index outside the table throws
// std::out_of_range before anything has changed.
void set_ui_language(std::uint32_t index);

// The module holding dialogs, string tables and icons; the program itself unless set.
HMODULE resource_module();

// The UI language index that suits the user's default language among those of mask (0: the
// record's mask); English when offered, else French, for a language that is not offered.
std::uint32_t default_ui_language(std::uint32_t mask = 0);

// These take a UI language index and throw std::out_of_range outside 0 to 23.
LANGID language_langid(std::uint32_t index);
LCID language_lcid(std::uint32_t index);
bool is_rtl_language(std::uint32_t index);
std::string language_locale_name(std::uint32_t index);
std::locale language_locale(std::uint32_t index);
void apply_language_locale(std::uint32_t index);

// The language's own name for a locale ("français"); empty when the system has none.
std::wstring native_language_name(LCID lcid);

namespace details {

// default_ui_language for a given user language (GetUserDefaultLangID) and a non-zero mask.
std::uint32_t ui_language_for(LANGID user_language, std::uint32_t mask) noexcept;

} // namespace details

} // namespace vd
