// Where an exception ends that reached a procedure the system calls (a dialog procedure, a
// window or enumeration callback). Unwinding into the system's frames is undefined, so each
// such procedure catches everything at its edge and hands it here. The text goes to the
// debugger until the program routes it elsewhere: the main window shows it in a box.
#pragma once

#include <functional>
#include <string>

using failure_reporter = std::function<void(const std::wstring& text)>;

// Replaces the process-wide reporter (an empty one restores the debugger output) and returns
// the previous one. UI thread only.
failure_reporter set_failure_reporter(failure_reporter reporter);

// Reports the exception being handled; call it only inside a catch block. Never throws.
void report_callback_failure() noexcept;

// The text for the exception being handled: the program's translation of it, else the text of
// its error code, else its own message; "Unknown exception" for anything not a std::exception.
std::wstring current_exception_text();
