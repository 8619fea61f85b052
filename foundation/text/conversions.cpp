#include "foundation/text/conversions.hpp"

#include <algorithm>
#include <climits>

#include <windows.h>

namespace vd {
namespace details {

std::int32_t decode_utf8_code_point(const char*& cursor, const char* last) {
    if (cursor == last)
        return utf8_exhausted;
    const auto lead = static_cast<unsigned char>(*cursor++);
    if (lead < 0x80)
        return lead;

    int continuations;
    std::int32_t value;
    if (lead < 0xC2)
        return utf8_invalid; // a continuation byte, or a lead that can only be overlong
    if (lead < 0xE0) {
        continuations = 1;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        continuations = 2;
        value = lead & 0x0F;
    } else if (lead < 0xF5) {
        continuations = 3;
        value = lead & 0x07;
    } else {
        return utf8_invalid;
    }

    for (int i = 0; i < continuations; ++i) {
        if (cursor == last)
            return utf8_exhausted;
        const auto byte = static_cast<unsigned char>(*cursor++);
        if ((byte & 0xC0) != 0x80)
            return utf8_invalid;
        value = (value << 6) | (byte & 0x3F);
    }

    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return utf8_invalid;
    constexpr std::int32_t shortest_below[] = {0, 0x80, 0x800, 0x10000};
    if (value < shortest_below[continuations])
        return utf8_invalid;
    return value;
}

w2a_codecvt::w2a_codecvt(std::size_t refs)
    : std::codecvt<wchar_t, char, std::mbstate_t>(refs), code_page_(CP_THREAD_ACP) {}

w2a_codecvt::~w2a_codecvt() = default;

bool w2a_codecvt::do_always_noconv() const noexcept {
    return false;
}

int w2a_codecvt::do_max_length() const noexcept {
    CPINFO info;
    if (!::GetCPInfo(code_page_, &info))
        return 5;
    return static_cast<int>(info.MaxCharSize);
}

int w2a_codecvt::do_encoding() const noexcept {
    return 0;
}

// The code-page functions take int lengths and convert all or nothing: there is no partial
// result, so all input counts as consumed and a short output range fails as a whole.
w2a_codecvt::result w2a_codecvt::do_in(state_type&, const extern_type* from, const extern_type* from_end,
                                       const extern_type*& from_next, intern_type* to, intern_type* to_end,
                                       intern_type*& to_next) const {
    from_next = from_end;
    to_next = to;
    if (from == from_end)
        return ok;
    if (from_end - from > INT_MAX || to_end - to > INT_MAX)
        return error;
    const int written = ::MultiByteToWideChar(code_page_, MB_PRECOMPOSED, from, static_cast<int>(from_end - from),
                                              to, static_cast<int>(to_end - to));
    if (written == 0)
        return error;
    to_next = to + written;
    return ok;
}

w2a_codecvt::result w2a_codecvt::do_out(state_type&, const intern_type* from, const intern_type* from_end,
                                        const intern_type*& from_next, extern_type* to, extern_type* to_end,
                                        extern_type*& to_next) const {
    from_next = from_end;
    to_next = to;
    if (from == from_end)
        return ok;
    if (from_end - from > INT_MAX || to_end - to > INT_MAX)
        return error;
    // No best fit: a character that the code page lacks becomes its default character rather
    // than a look-alike that may mean something else (a path separator, a quote).
    const int written = ::WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, from, static_cast<int>(from_end - from),
                                              to, static_cast<int>(to_end - to), nullptr, nullptr);
    if (written == 0)
        return error;
    to_next = to + written;
    return ok;
}

w2a_codecvt::result w2a_codecvt::do_unshift(state_type&, extern_type* to, extern_type*, extern_type*& to_next) const {
    to_next = to;
    return ok;
}

int w2a_codecvt::do_length(state_type&, const extern_type* from, const extern_type* from_end, std::size_t max) const {
    if (from_end - from > INT_MAX)
        return 0;
    const int units = ::MultiByteToWideChar(code_page_, MB_PRECOMPOSED, from, static_cast<int>(from_end - from), nullptr, 0);
    if (units < 1)
        return 0;
    return static_cast<int>(std::min<std::size_t>(max, static_cast<std::size_t>(units)));
}

} // namespace details

std::wstring utf8_to_wide(const char* first, const char* last) {
    std::wstring result;
    result.reserve(static_cast<std::size_t>(last - first));
    while (first != last) {
        const std::int32_t c = details::decode_utf8_code_point(first, last);
        if (c < 0)
            continue; // undecodable bytes are dropped, never fatal
        if (c < 0x10000) {
            result.push_back(static_cast<wchar_t>(c));
        } else {
            result.push_back(static_cast<wchar_t>(0xD800 | ((c - 0x10000) >> 10)));
            result.push_back(static_cast<wchar_t>(0xDC00 | (c & 0x3FF)));
        }
    }
    return result;
}

std::string wide_to_utf8(const wchar_t* first, const wchar_t* last) {
    std::string result;
    result.reserve(static_cast<std::size_t>(last - first));
    while (first != last) {
        std::uint32_t c = static_cast<std::uint16_t>(*first++);
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c >= 0xDC00)
                continue; // a low surrogate alone
            if (first == last)
                break; // a high surrogate at the end
            const std::uint32_t low = static_cast<std::uint16_t>(*first++);
            if (low < 0xDC00 || low > 0xDFFF)
                continue; // an unpaired high surrogate takes its follower with it
            c = (((c & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
        }
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (c >> 6)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (c >> 12)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (c >> 18)));
            result.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return result;
}

std::string wide_to_narrow(const wchar_t* text, std::size_t count) {
    if (count == 0)
        return {};
    details::w2a_codecvt facet;
    const auto max_length = static_cast<std::uint64_t>(facet.max_length());
    const std::uint64_t room = static_cast<std::uint64_t>(count) * max_length;
    if (room == 0 || room > 0x7FFFFFFF)
        return {};
    std::string result(static_cast<std::size_t>(room), '\0');
    std::mbstate_t state{};
    const wchar_t* text_next = nullptr;
    char* result_next = nullptr;
    if (facet.out(state, text, text + count, text_next, result.data(), result.data() + result.size(), result_next) !=
        std::codecvt_base::ok)
        return {};
    result.resize(static_cast<std::size_t>(result_next - result.data()));
    return result;
}

} // namespace vd
