#include "installer/wizard/callback_failure.hpp"

#include <exception>
#include <utility>

#include <windows.h>

#include "foundation/errors/error.hpp"
#include "foundation/text/conversions.hpp"

namespace {

failure_reporter& reporter_slot() {
    static failure_reporter reporter;
    return reporter;
}

} // namespace

failure_reporter set_failure_reporter(failure_reporter reporter) {
    return std::exchange(reporter_slot(), std::move(reporter));
}

std::wstring current_exception_text() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::wstring text = vd::translate_exception(e);
        if (text.empty())
            text = vd::exception_text(e);
        if (text.empty())
            text = vd::utf8_to_wide(e.what());
        return text;
    } catch (...) {
        return L"Unknown exception";
    }
}

void report_callback_failure() noexcept {
    try {
        const std::wstring text = current_exception_text();
        if (const failure_reporter& reporter = reporter_slot()) {
            reporter(text);
        } else {
            ::OutputDebugStringW((text + L"\n").c_str());
        }
    } catch (...) {
        // Reporting is the last resort: a reporter that fails itself has nowhere left to go.
        ::OutputDebugStringW(L"Unknown exception\n");
    }
}
