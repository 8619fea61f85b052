// How the library fails: every failing Win32 or COM call becomes a std::system_error at the
// call, and whoever reports a caught exception turns it back into an error code and a text.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include <windows.h>

namespace vd {

// Throws std::system_error(code, std::system_category()) with an empty what-argument, so that
// what() is the system category's own message. An HRESULT is carried as its 32-bit value.
[[noreturn]] void throw_system_error(DWORD code = ::GetLastError());

// A failed HRESULT (negative) is thrown as its own value in the system category; S_FALSE and
// every other success code return.
void throw_if_failed(HRESULT hr);

// The library's assertion failure: std::logic_error("Debug Assertion Failed!").
[[noreturn]] void assertion_failed();

// The code an exception carries, when it carries one: std::system_error and everything derived
// from it, boost::system::system_error, std::bad_expected_access of std::errc or std::error_code.
std::optional<std::error_code> error_code_of(const std::exception& e) noexcept;

// The Win32 error code for a standard error number (the platform's std::errc numbering);
// nothing for a number without an entry.
std::optional<DWORD> win32_error_of(int errc_value) noexcept;

// Turns a caught exception into a text for the user.
using exception_translator = std::move_only_function<std::wstring(const std::exception&) const>;

// Replaces the process-wide translator; the previous one is destroyed.
void set_exception_translator(exception_translator translator);

// The text of the process-wide translator for e; empty while no translator is set.
std::wstring translate_exception(const std::exception& e);

// The library's default translator: the text of the exception's error code (a standard error
// number through the Win32 table), the invalid-parameter text for std::invalid_argument, and
// an empty text for anything else. Never throws.
std::wstring exception_text(const std::exception& e) noexcept;

// The library's own exception: its message is wide, what() gives it in UTF-8.
class exception : public virtual std::exception {
public:
    virtual std::wstring message() const = 0;

    // Converted on first use and kept; when the message cannot be converted, the text of the
    // std::exception part, or "Unknown exception" when that is empty.
    const char* what() const noexcept override;

private:
    mutable std::optional<std::string> what_;
};

} // namespace vd
