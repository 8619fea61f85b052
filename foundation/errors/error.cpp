#include "foundation/errors/error.hpp"

#include <algorithm>
#include <array>
#include <expected>
#include <stdexcept>
#include <utility>

#include <boost/system/system_error.hpp>

#include "foundation/errors/error_text.hpp"
#include "foundation/language/language_state.hpp"
#include "foundation/text/conversions.hpp"

namespace vd {

void throw_system_error(DWORD code) {
    throw std::system_error(static_cast<int>(code), std::system_category(), "");
}

void throw_if_failed(HRESULT hr) {
    if (FAILED(hr))
        throw_system_error(static_cast<DWORD>(hr));
}

void assertion_failed() { throw std::logic_error("Debug Assertion Failed!"); }

std::optional<std::error_code> error_code_of(const std::exception& e) noexcept {
    // std::ios_base::failure and std::filesystem::filesystem_error are system errors as well.
    if (const auto* system = dynamic_cast<const std::system_error*>(&e))
        return system->code();
    if (const auto* boost_error = dynamic_cast<const boost::system::system_error*>(&e)) {
        const boost::system::error_code& code = boost_error->code();
        // On MinGW Boost converts its system category to an adapter rather than to
        // std::system_category; its codes are Win32 codes all the same.
        if (code.category() == boost::system::system_category())
            return std::error_code(code.value(), std::system_category());
        return static_cast<std::error_code>(code);
    }
    if (const auto* expected = dynamic_cast<const std::bad_expected_access<std::errc>*>(&e))
        return std::make_error_code(expected->error());
    if (const auto* expected = dynamic_cast<const std::bad_expected_access<std::error_code>*>(&e))
        return expected->error();
    return std::nullopt;
}

std::optional<DWORD> win32_error_of(int errc_value) noexcept {
    // Standard error numbers as this run-time library numbers them; several have no Win32
    // counterpart but a Winsock one.
    static constexpr std::array<std::pair<int, DWORD>, 51> table{{
        {0, 0},         {1, 5},         {2, 3},         {4, 10004},     {8, 11},
        {9, 10009},     {11, 1237},     {12, 8},        {13, 10013},    {14, 10014},
        {16, 170},      {17, 183},      {18, 17},       {22, 10022},    {23, 4},
        {24, 10024},    {28, 112},      {32, 109},      {33, 87},       {36, 32},
        {38, 10063},    {40, 1},        {41, 145},      {42, 582},      {100, 10048},
        {101, 10049},   {102, 10047},   {103, 10037},   {105, 995},     {106, 10053},
        {107, 10061},   {108, 10054},   {109, 10039},   {110, 10065},   {112, 10036},
        {113, 10056},   {114, 10062},   {115, 10040},   {116, 10050},   {117, 10052},
        {118, 10051},   {119, 10055},   {123, 10042},   {126, 10057},   {128, 10038},
        {129, 50},      {130, 10045},   {135, 10043},   {136, 10041},   {138, 10060},
        {140, 10035},
    }};
    static_assert(std::ranges::is_sorted(table, {}, &std::pair<int, DWORD>::first));
    const auto found = std::ranges::lower_bound(table, errc_value, {}, &std::pair<int, DWORD>::first);
    if (found == table.end() || found->first != errc_value)
        return std::nullopt;
    return found->second;
}

namespace {

exception_translator& translator_slot() {
    static exception_translator translator;
    return translator;
}

} // namespace

void set_exception_translator(exception_translator translator) {
    translator_slot() = std::move(translator);
}

std::wstring translate_exception(const std::exception& e) {
    const exception_translator& translator = translator_slot();
    return translator ? translator(e) : std::wstring();
}

std::wstring exception_text(const std::exception& e) noexcept {
    try {
        if (const auto code = error_code_of(e)) {
            if (code->category() == std::system_category())
                return error_text(static_cast<DWORD>(code->value()));
            if (code->category() == std::generic_category()) {
                if (const auto win32 = win32_error_of(code->value()))
                    return error_text(*win32);
            }
        }
        if (dynamic_cast<const std::invalid_argument*>(&e))
            return system_message_text(ERROR_INVALID_PARAMETER,
                                       LANGIDFROMLCID(language_state::instance().lcid));
    } catch (...) {
        // A translator that fails while reporting a failure helps nobody: no text.
    }
    return {};
}

const char* exception::what() const noexcept {
    if (!what_) {
        try {
            what_ = wide_to_utf8(message());
        } catch (...) {
            const char* own = std::exception::what();
            return own && *own ? own : "Unknown exception";
        }
    }
    return what_->c_str();
}

} // namespace vd
