// Turns whatever ended an extraction into the error code and text that the user is shown.
#pragma once

#include <exception>
#include <string>
#include <system_error>
#include <utility>

// Clears the C runtime's errno and _doserrno and the thread's last error, so that a failure is
// never reported with a value left behind by an earlier file operation.
void clear_runtime_errors() noexcept;

std::error_code error_code_of_exception(const std::exception& e);

// The code of the failure and its text: the given text (the target being written), or the
// first path of a filesystem error.
std::pair<std::error_code, std::wstring> describe_extraction_failure(const std::exception& e, std::wstring text);

// The code as the user is shown it: "1:" and eight upper-case hexadecimal digits for a Win32
// code, "2:" and eight for a C runtime errno, the decimal value for the payload's own
// ("compress") codes, and "7" for any other.
std::wstring extraction_code_text(const std::error_code& code);
