#include "installer/payload/extraction_failure.hpp"

#include "installer/payload/compress_error.hpp"

#include <boost/iostreams/filter/bzip2.hpp>
#include <fmt/xchar.h>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <ios>

#include <windows.h>

void clear_runtime_errors() noexcept {
    errno = 0;
    _doserrno = 0;
    // Wine's C runtime takes the thread's last error for _doserrno when WriteFile reports a
    // short write (a full disk) as a success: an error left by an earlier call must not pass
    // for this write's.
    ::SetLastError(ERROR_SUCCESS);
}

std::error_code error_code_of_exception(const std::exception& e) {
    if (dynamic_cast<const std::ios_base::failure*>(&e)) {
        // The stream's own code says little; the C runtime kept the OS error.
        if (_doserrno != 0)
            return {static_cast<int>(_doserrno), std::system_category()};
        if (errno != 0)
            return {errno, std::generic_category()};
    }
    if (dynamic_cast<const boost::iostreams::bzip2_error*>(&e))
        return make_error_code(compress_error::bzip2_failure);
    if (const auto* system = dynamic_cast<const std::system_error*>(&e))
        return system->code();
    if (const auto* boost_error = dynamic_cast<const boost::system::system_error*>(&e)) {
        const auto& category = boost_error->code().category();
        if (category == boost::system::generic_category())
            return {boost_error->code().value(), std::generic_category()};
        if (category == boost::system::system_category())
            return {boost_error->code().value(), std::system_category()};
    }
    return make_error_code(compress_error::unexpected);
}

std::pair<std::error_code, std::wstring> describe_extraction_failure(const std::exception& e, std::wstring text) {
    if (text.empty()) {
        if (const auto* filesystem = dynamic_cast<const std::filesystem::filesystem_error*>(&e))
            text = filesystem->path1().wstring();
    }
    return {error_code_of_exception(e), std::move(text)};
}

std::wstring extraction_code_text(const std::error_code& code) {
    const auto value = static_cast<unsigned>(code.value());
    if (code.category() == std::system_category())
        return fmt::format(L"1:{:08X}", value);
    if (code.category() == std::generic_category())
        return fmt::format(L"2:{:08X}", value);
    if (code.category() == compress_category())
        return fmt::format(L"{}", code.value());
    return L"7";
}
