// The text of an error code for the user. A code is a Win32 error code or an HRESULT, whose
// text the system supplies, or one of the program's own (customer bit 29) that, with bit 27,
// names a string-table entry in its low 16 bits.
#pragma once

#include <string>

#include <windows.h>

namespace vd {

// Bits of the program's own codes.
inline constexpr DWORD error_customer_bit = 0x20000000;
inline constexpr DWORD error_string_id_bit = 0x08000000;

// A system text in the UI language, or the string-table entry the code names; a code with no
// text of its own gives the text of E_FAIL. Never empty.
std::wstring error_text(DWORD code);

// The system's text of a Win32 code or HRESULT in language, else in the system's own choice
// of language, else the text of E_FAIL; trailing blanks and line breaks removed. Never empty.
std::wstring system_message_text(DWORD code, LANGID language);

} // namespace vd
