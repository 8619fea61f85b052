#include "foundation/errors/error_text.hpp"

#include "foundation/language/language_state.hpp"
#include "foundation/language/resource_text.hpp"
#include "foundation/system/unique_any.hpp"

namespace vd {

namespace {

constexpr DWORD e_fail = 0x80004005;

LANGID ui_langid() { return LANGIDFROMLCID(language_state::instance().lcid); }

// The system's text, or an empty one when it has none in that language.
std::wstring format_system_message(DWORD code, LANGID language) {
    unique_local buffer;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, language, reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer)
        return {};
    std::wstring text(static_cast<const wchar_t*>(buffer.get()), length);
    // System texts end in a line break, which has no place in a message box or a status line.
    // A text of nothing but blanks counts as none, so that the result is never empty.
    const auto last = text.find_last_not_of(L" \n\r\t");
    text.erase(last == std::wstring::npos ? 0 : last + 1);
    return text;
}

} // namespace

std::wstring system_message_text(DWORD code, LANGID language) {
    std::wstring text = format_system_message(code, language);
    if (text.empty() && language != 0)
        text = format_system_message(code, 0);
    if (text.empty())
        return code == e_fail ? std::wstring(L"Error") : system_message_text(e_fail, language);
    return text;
}

std::wstring error_text(DWORD code) {
    if ((code & error_customer_bit) && (code & error_string_id_bit)) {
        std::wstring text = string_id_text(code & 0xFFFF);
        return text.empty() ? system_message_text(e_fail, ui_langid()) : text;
    }
    if (code & error_customer_bit)
        return system_message_text(e_fail, ui_langid());
    return system_message_text(code, ui_langid());
}

} // namespace vd
