#include "foundation/text/txtf.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace vd::txtf {
namespace details {
namespace {

using code_page_codecvt = std::codecvt<wchar_t, char, std::mbstate_t>;

bool is_continuation(unsigned char byte) noexcept {
    return (byte & 0xC0) == 0x80;
}
bool is_high_surrogate(char32_t unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char32_t unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
bool is_surrogate(char32_t unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
char32_t combine_surrogates(char32_t high, char32_t low) noexcept {
    return 0x10000 + ((high & 0x3FF) << 10) + (low & 0x3FF);
}

decoded character(std::ptrdiff_t consumed, char32_t code_point) {
    return decoded{consumed, code_point, false};
}
decoded bad_input(std::ptrdiff_t consumed) {
    return decoded{consumed, replacement_character, true};
}
decoded no_character(std::ptrdiff_t consumed) {
    return decoded{consumed, std::nullopt, false};
}

unsigned char byte_at(const char* p, std::ptrdiff_t index) noexcept {
    return static_cast<unsigned char>(p[index]);
}

std::uint32_t encoding_group(std::uint32_t mode) noexcept {
    return mode & mode_encoding_mask;
}
bool wants_signature(std::uint32_t mode) noexcept {
    return (mode & mode_signature_mask) != mode_no_signature;
}

// The encoding in use as a mode value: the mode's own, else what automatic mode has found
// (0 while nothing is found).
std::uint32_t found_encoding(std::uint32_t state) noexcept {
    switch (state & state_encoding_mask) {
    case state_code_page: return mode_code_page;
    case state_utf8: return mode_utf8;
    case state_utf16: return mode_utf16;
    case state_utf32: return mode_utf32;
    default: return mode_auto;
    }
}
void set_found_encoding(std::uint32_t& state, std::uint32_t found) noexcept {
    state = (state & ~state_encoding_mask) | found;
}

bool big_endian_in_use(const codec& codec, std::uint32_t& state) noexcept {
    switch (state & state_byte_order_mask) {
    case state_little_endian: return false;
    case state_big_endian: return true;
    default: break;
    }
    if ((codec.mode & mode_byte_order_mask) == mode_big_endian)
        return true;
    if ((codec.mode & mode_byte_order_mask) == 0)
        state |= state_little_endian;
    return false;
}

std::uint32_t read_unit(const char* p, int size, bool big_endian) noexcept {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) {
        const std::uint32_t byte = byte_at(p, big_endian ? i : size - 1 - i);
        value = (value << 8) | byte;
    }
    return value;
}
void write_unit(char* p, std::uint32_t value, int size, bool big_endian) noexcept {
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<char>((value >> (8 * i)) & 0xFF);
        p[big_endian ? size - 1 - i : i] = byte;
    }
}

void record_style(std::uint32_t& state, std::uint32_t style) noexcept {
    const std::uint32_t recorded = state & state_style_mask;
    if (recorded == style)
        return;
    state = (state & ~state_style_mask) | (recorded == 0 ? style : state_style_mixed);
}

std::optional<decoded> decode_utf16(const codec& codec, std::uint32_t& state, const char* p,
                                    const char* end) {
    const bool big_endian = big_endian_in_use(codec, state);
    if (end - p < 2)
        return std::nullopt;
    const char32_t unit = read_unit(p, 2, big_endian);
    if (is_low_surrogate(unit))
        return bad_input(2);
    if (!is_high_surrogate(unit))
        return character(2, unit);
    if (end - p < 4)
        return std::nullopt;
    const char32_t next = read_unit(p + 2, 2, big_endian);
    if (!is_low_surrogate(next))
        return bad_input(2);
    return character(4, combine_surrogates(unit, next));
}

std::optional<decoded> decode_utf32(const codec& codec, std::uint32_t& state, const char* p,
                                    const char* end) {
    const bool big_endian = big_endian_in_use(codec, state);
    if (end - p < 4)
        return std::nullopt;
    const char32_t value = read_unit(p, 4, big_endian);
    if (is_surrogate(value) || value > 0x10FFFF)
        return bad_input(4);
    return character(4, value);
}

// A byte-order mark at the start of a file in automatic mode. Gives the mark's length (the state
// then holds the encoding, its byte order and "signature found"), 0 when the file starts with
// no mark (the state then says so), nothing while the first bytes cannot tell yet.
std::optional<std::ptrdiff_t> detect_signature(std::uint32_t& state, const char* p, const char* end) {
    const std::ptrdiff_t available = end - p;
    // The expected bytes are compared as far as they are there: a file that already differs
    // has no mark and need not wait for more bytes.
    const auto starts_with = [&](std::initializer_list<unsigned char> mark) -> std::optional<bool> {
        std::ptrdiff_t i = 0;
        for (const unsigned char byte : mark) {
            if (i == available)
                return std::nullopt;
            if (byte_at(p, i++) != byte)
                return false;
        }
        return true;
    };
    const auto found = [&](std::uint32_t encoding, std::uint32_t byte_order, std::ptrdiff_t length) {
        state = (state & ~(state_encoding_mask | state_byte_order_mask)) | encoding | byte_order |
                state_signature;
        return length;
    };

    switch (byte_at(p, 0)) {
    case 0xFF: {
        const auto utf16 = starts_with({0xFF, 0xFE});
        if (!utf16)
            return std::nullopt;
        if (*utf16) {
            // FF FE 00 00 is UTF-32, never UTF-16 that starts with U+0000.
            const auto utf32 = starts_with({0xFF, 0xFE, 0x00, 0x00});
            if (!utf32)
                return std::nullopt;
            return *utf32 ? found(state_utf32, state_little_endian, 4)
                          : found(state_utf16, state_little_endian, 2);
        }
        break;
    }
    case 0xFE: {
        const auto utf16 = starts_with({0xFE, 0xFF});
        if (!utf16)
            return std::nullopt;
        if (*utf16)
            return found(state_utf16, state_big_endian, 2);
        break;
    }
    case 0xEF: {
        const auto utf8 = decode_utf8(p, end, true);
        if (!utf8)
            return std::nullopt;
        if (!utf8->bad && utf8->code_point == 0xFEFF)
            return found(state_utf8, 0, 3);
        break;
    }
    case 0x00: {
        const auto utf32 = starts_with({0x00, 0x00, 0xFE, 0xFF});
        if (!utf32)
            return std::nullopt;
        if (*utf32)
            return found(state_utf32, state_big_endian, 4);
        break;
    }
    default:
        break;
    }
    state |= state_no_signature;
    return 0;
}

// Automatic mode without a decided encoding: UTF-8 as soon as a multi-byte sequence is valid,
// the code page as soon as UTF-8 fails or the code page reads a byte differently.
std::optional<decoded> guess_char(const codec& codec, std::uint32_t& state, const char* p,
                                  const char* end) {
    const auto utf8 = decode_utf8(p, end, true);
    if (!utf8)
        return std::nullopt;
    if (utf8->bad) {
        set_found_encoding(state, state_code_page);
        return decode_code_page(codec, p, end);
    }
    if (utf8->consumed >= 2) {
        set_found_encoding(state, state_utf8);
        return utf8;
    }
    const auto code_page = decode_code_page(codec, p, end);
    if (!code_page)
        return std::nullopt;
    if (code_page->code_point == utf8->code_point && code_page->consumed == utf8->consumed)
        return utf8;
    if (code_page->code_point && *code_page->code_point != replacement_character) {
        set_found_encoding(state, state_code_page);
        return code_page;
    }
    set_found_encoding(state, state_utf8);
    return utf8;
}

// CR, LF and CR LF each give one "\n" in the native and CR LF modes; the LF and CR modes take
// every CR and every LF for a line end of its own.
void translate_line_end(const codec& codec, std::uint32_t& state, decoded& result) {
    const char32_t code_point = *result.code_point;
    const std::uint32_t line_ends = codec.mode & mode_line_end_mask;
    if (line_ends == mode_lf || line_ends == mode_cr) {
        if (code_point == U'\r') {
            record_style(state, state_style_cr);
            result.code_point = U'\n';
        } else if (code_point == U'\n') {
            record_style(state, state_style_lf);
        }
        return;
    }

    const bool after_cr = (state & state_after_cr) != 0;
    // Whatever follows a CR ends the CR: the LF of CR LF is dropped once, so that CR LF LF
    // keeps its empty line.
    state &= ~state_after_cr;
    if (code_point == U'\n') {
        if (after_cr) {
            record_style(state, state_style_crlf);
            result.code_point = std::nullopt;
        } else {
            record_style(state, state_style_lf);
        }
        return;
    }
    if (after_cr)
        record_style(state, state_style_cr);
    if (code_point == U'\r') {
        state |= state_after_cr;
        result.code_point = U'\n';
    }
}

void write_code_point_units(char32_t code_point, wchar_t*& out) noexcept {
    if (code_point < 0x10000) {
        *out++ = static_cast<wchar_t>(code_point);
    } else {
        *out++ = static_cast<wchar_t>(0xD800 | ((code_point - 0x10000) >> 10));
        *out++ = static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF));
    }
}

// The sequence through the code-page facet, or the replacement byte for all of it when the
// code page cannot hold it.
int encode_code_page(const codec& codec, const char32_t* sequence, std::size_t count, char* to,
                     char* to_end) {
    std::array<wchar_t, 8> units{};
    wchar_t* units_end = units.data();
    for (std::size_t i = 0; i < count; ++i)
        write_code_point_units(sequence[i], units_end);

    constexpr std::ptrdiff_t buffer_size = 32;
    std::array<char, buffer_size> buffer{};
    const std::ptrdiff_t room = to_end - to;
    const std::ptrdiff_t limit = std::min(buffer_size, room);
    std::mbstate_t conversion{};
    const wchar_t* unit = units.data();
    char* written = buffer.data();
    for (;;) {
        const wchar_t* unit_next = unit;
        char* written_next = written;
        const auto result = codec.code_page->out(conversion, unit, units_end, unit_next, written,
                                                 buffer.data() + limit, written_next);
        if (result == std::codecvt_base::ok && unit_next == units_end) {
            const auto size = written_next - buffer.data();
            std::copy(buffer.data(), written_next, to);
            return static_cast<int>(size);
        }
        if (result != std::codecvt_base::ok && result != std::codecvt_base::partial)
            break;
        if (unit_next != unit || written_next != written) {
            unit = unit_next;
            written = written_next;
            continue;
        }
        if (limit < buffer_size)
            return -1;
        break;
    }
    if (codec.replacement == 0)
        return 0;
    if (room < 1)
        return -1;
    *to = codec.replacement;
    return 1;
}

} // namespace

codec::codec(std::uint32_t mode, const std::locale& locale)
    : mode(normalize_mode(mode)), locale(locale),
      code_page(&std::use_facet<code_page_codecvt>(this->locale)) {}

std::uint32_t normalize_mode(std::uint32_t mode) noexcept {
    std::uint32_t encoding = mode & mode_encoding_mask;
    if (encoding != mode_utf8 && encoding != mode_utf16 && encoding != mode_utf32 &&
        encoding != mode_code_page)
        encoding = mode_auto;

    std::uint32_t signature = mode & mode_signature_mask;
    if (signature == mode_signature_mask)
        signature = 0;
    if (encoding == mode_code_page)
        signature = mode_no_signature;

    std::uint32_t line_end = mode & mode_line_end_mask;
    if (line_end != mode_crlf && line_end != mode_lf && line_end != mode_cr)
        line_end = mode_native_line_end;

    std::uint32_t byte_order = mode & mode_byte_order_mask;
    if (byte_order == mode_byte_order_mask)
        byte_order = 0;

    constexpr std::uint32_t groups =
        mode_encoding_mask | mode_signature_mask | mode_line_end_mask | mode_byte_order_mask;
    return (mode & ~groups) | encoding | signature | line_end | byte_order;
}

std::uint32_t state_word(const std::mbstate_t& state) noexcept {
    static_assert(sizeof(std::mbstate_t) >= sizeof(std::uint32_t));
    std::uint32_t word;
    std::memcpy(&word, &state, sizeof word);
    return word;
}

void set_state_word(std::mbstate_t& state, std::uint32_t word) noexcept {
    std::memcpy(&state, &word, sizeof word);
}

std::optional<decoded> decode_utf8(const char* p, const char* end, bool strict) {
    const unsigned char lead = byte_at(p, 0);
    if (lead < 0x80)
        return character(1, lead);
    if (lead < (strict ? 0xC2 : 0xC0))
        return bad_input(1);

    const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
    // A byte that breaks the sequence is not part of it: it is read again as the next character,
    // and a broken sequence need not wait for the rest of its length.
    const std::ptrdiff_t available = std::min<std::ptrdiff_t>(length, end - p);
    for (std::ptrdiff_t i = 1; i < available; ++i) {
        if (!is_continuation(byte_at(p, i)))
            return bad_input(i);
    }
    if (available < length)
        return std::nullopt;

    char32_t value = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i)
        value = (value << 6) | (byte_at(p, i) & 0x3F);

    if (strict) {
        const unsigned char second = byte_at(p, 1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0))
            return bad_input(3);
        if (lead >= 0xF5 || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
            return bad_input(length);
        return character(length, value);
    }

    if (length == 3 && is_high_surrogate(value)) {
        // Text from Java-style and CESU-8 writers carries a supplementary character as two
        // encoded surrogates. Wait for the partner only while the next bytes can still be one.
        const std::ptrdiff_t partner_available = std::min<std::ptrdiff_t>(3, end - p - 3);
        const char* partner = p + 3;
        const bool partner_so_far =
            (partner_available < 1 || byte_at(partner, 0) == 0xED) &&
            (partner_available < 2 || (byte_at(partner, 1) >= 0xB0 && byte_at(partner, 1) <= 0xBF)) &&
            (partner_available < 3 || is_continuation(byte_at(partner, 2)));
        if (partner_so_far) {
            if (partner_available < 3)
                return std::nullopt;
            const char32_t low = 0xD000 | ((byte_at(partner, 1) & 0x3F) << 6) | (byte_at(partner, 2) & 0x3F);
            return character(6, combine_surrogates(value, low));
        }
    }
    if (is_surrogate(value) || value > 0x10FFFF)
        return bad_input(length);
    return character(length, value);
}

std::optional<decoded> decode_code_page(const codec& codec, const char* p, const char* end) {
    // A code page never needs more bytes for one character than its facet says; more would
    // overrun the file buffer's room for an incomplete character.
    const std::ptrdiff_t longest = std::max(1, codec.code_page->max_length());
    for (std::ptrdiff_t length = 1; length <= longest; ++length) {
        if (end - p < length)
            return std::nullopt;
        std::mbstate_t conversion{};
        std::array<wchar_t, 4> units{};
        const char* next = p;
        wchar_t* units_end = units.data();
        const auto result = codec.code_page->in(conversion, p, p + length, next, units.data(),
                                                units.data() + units.size(), units_end);
        if (result == std::codecvt_base::partial)
            continue;
        if (result != std::codecvt_base::ok || next == p)
            return bad_input(1);
        const std::ptrdiff_t consumed = next - p;
        if (units_end == units.data())
            return no_character(consumed);
        const char32_t first = static_cast<std::uint16_t>(units[0]);
        if (units_end - units.data() >= 2 && is_high_surrogate(first) &&
            is_low_surrogate(static_cast<std::uint16_t>(units[1])))
            return character(consumed, combine_surrogates(first, static_cast<std::uint16_t>(units[1])));
        if (is_surrogate(first))
            return bad_input(consumed);
        return character(consumed, first);
    }
    return bad_input(1);
}

std::optional<decoded> decode_char(const codec& codec, std::uint32_t& state, const char* p,
                                   const char* end) {
    std::uint32_t encoding = encoding_group(codec.mode);
    std::optional<decoded> result;
    if (encoding == mode_auto) {
        if (!(state & (state_signature | state_no_signature)) && wants_signature(codec.mode)) {
            const auto signature = detect_signature(state, p, end);
            if (!signature)
                return std::nullopt;
            if (*signature != 0)
                return no_character(*signature);
        }
        encoding = found_encoding(state);
        if (encoding == mode_auto) {
            result = guess_char(codec, state, p, end);
            if (!result)
                return std::nullopt;
        }
    }

    if (!result) {
        switch (encoding) {
        case mode_utf8: result = decode_utf8(p, end, false); break;
        case mode_utf16: result = decode_utf16(codec, state, p, end); break;
        case mode_utf32: result = decode_utf32(codec, state, p, end); break;
        default: result = decode_code_page(codec, p, end); break;
        }
        if (!result)
            return std::nullopt;
        if (encoding != mode_code_page && result->code_point &&
            !(state & (state_signature | state_no_signature)) && wants_signature(codec.mode)) {
            if (*result->code_point == 0xFEFF) {
                state |= state_signature;
                result->code_point = std::nullopt;
            } else {
                state |= state_no_signature;
            }
        }
    }

    if (result->code_point) {
        translate_line_end(codec, state, *result);
        if (result->code_point && (*result->code_point & 0xFFFF) >= 0xFFFE)
            result->code_point = replacement_character;
    }
    return result;
}

int encode_utf8(char32_t code_point, char* out) noexcept {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code_point >> 12));
        out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code_point >> 18));
    out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 4;
}

int encode_char(const codec& codec, std::uint32_t& state, char32_t code_point, char* to,
                char* to_end) {
    const std::uint32_t state_before = state;
    std::uint32_t encoding = encoding_group(codec.mode);
    if (encoding == mode_auto) {
        encoding = found_encoding(state);
        if (encoding == mode_auto) {
            encoding = mode_code_page;
            set_found_encoding(state, state_code_page);
        }
    }

    std::array<char32_t, 3> sequence{};
    std::size_t count = 0;
    if (encoding != mode_code_page && !(state & (state_signature | state_no_signature))) {
        if (wants_signature(codec.mode)) {
            state |= state_signature;
            sequence[count++] = 0xFEFF;
        } else {
            state |= state_no_signature;
        }
    }

    if ((code_point & 0xFFFF) >= 0xFFFE)
        code_point = replacement_character;
    // A CR stands for nothing of its own: the line end is written for the LF. The signature
    // decided above still goes out with it.
    if (code_point == U'\n') {
        std::uint32_t style = state & state_style_mask;
        if (style == 0) {
            switch (codec.mode & mode_line_end_mask) {
            case mode_lf: style = state_style_lf; break;
            case mode_cr: style = state_style_cr; break;
            default: style = state_style_crlf; break;
            }
        } else if (style == state_style_mixed) {
            style = state_style_crlf;
        }
        record_style(state, style);
        if (style != state_style_lf)
            sequence[count++] = U'\r';
        if (style != state_style_cr)
            sequence[count++] = U'\n';
    } else if (code_point != U'\r') {
        sequence[count++] = code_point;
    }
    if (count == 0)
        return 0;

    const auto does_not_fit = [&] {
        state = state_before;
        return -1;
    };
    const std::ptrdiff_t room = to_end - to;
    switch (encoding) {
    case mode_utf8: {
        std::array<char, 12> bytes{};
        int size = 0;
        for (std::size_t i = 0; i < count; ++i)
            size += encode_utf8(sequence[i], bytes.data() + size);
        if (size > room)
            return does_not_fit();
        std::copy_n(bytes.data(), size, to);
        return size;
    }
    case mode_utf16: {
        const bool big_endian = big_endian_in_use(codec, state);
        std::array<wchar_t, 6> units{};
        wchar_t* units_end = units.data();
        for (std::size_t i = 0; i < count; ++i)
            write_code_point_units(sequence[i], units_end);
        const int size = static_cast<int>(units_end - units.data()) * 2;
        if (size > room)
            return does_not_fit();
        for (const wchar_t* unit = units.data(); unit != units_end; ++unit, to += 2)
            write_unit(to, static_cast<std::uint16_t>(*unit), 2, big_endian);
        return size;
    }
    case mode_utf32: {
        const bool big_endian = big_endian_in_use(codec, state);
        const int size = static_cast<int>(count) * 4;
        if (size > room)
            return does_not_fit();
        for (std::size_t i = 0; i < count; ++i, to += 4)
            write_unit(to, sequence[i], 4, big_endian);
        return size;
    }
    default: {
        const int size = encode_code_page(codec, sequence.data(), count, to, to_end);
        return size < 0 ? does_not_fit() : size;
    }
    }
}

std::optional<char32_t> get_utf16(std::uint32_t& state, const wchar_t*& from,
                                  const wchar_t* from_end) noexcept {
    const auto keep_pending = [&](char32_t high) {
        state = (state & ~(state_pending_mask | state_value_mask)) | (1u << state_pending_shift) |
                ((high & 0x3FF) << state_value_shift);
    };

    char32_t high;
    if (state & state_pending_mask) {
        high = 0xD800 | ((state & state_value_mask) >> state_value_shift);
        state &= ~(state_pending_mask | state_value_mask);
    } else {
        const char32_t unit = static_cast<std::uint16_t>(*from++);
        if (is_low_surrogate(unit))
            return replacement_character;
        if (!is_high_surrogate(unit))
            return unit;
        high = unit;
    }
    if (from == from_end) {
        keep_pending(high);
        return std::nullopt;
    }
    const char32_t next = static_cast<std::uint16_t>(*from);
    if (!is_low_surrogate(next))
        return replacement_character;
    ++from;
    return combine_surrogates(high, next);
}

std::optional<char32_t> decode_utf8_partial(std::uint32_t& state, const char*& from,
                                            const char* from_end) noexcept {
    std::uint32_t missing = (state & state_pending_mask) >> state_pending_shift;
    char32_t value = (state & state_value_mask) >> state_value_shift;
    state &= ~(state_pending_mask | state_value_mask);
    if (missing == 0) {
        if (from == from_end)
            return std::nullopt;
        const auto lead = static_cast<unsigned char>(*from++);
        if (lead < 0x80)
            return lead;
        if (lead < 0xC2 || lead > 0xF4)
            return replacement_character;
        const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        value = lead & (0x7F >> length);
        missing = length - 1;
    }
    while (missing != 0) {
        if (from == from_end) {
            state |= (missing << state_pending_shift) | (value << state_value_shift);
            return std::nullopt;
        }
        const auto byte = static_cast<unsigned char>(*from);
        if (!is_continuation(byte))
            return replacement_character;
        // The second byte rules out overlong forms, surrogates and values above U+10FFFF. Only
        // the lead's bits are in value then: at most 4 bits before a 3-byte form's second byte,
        // while a 4-byte form's second byte has already made it 0x10 or more.
        const bool second_of_four = missing == 3;
        const bool second_of_three = missing == 2 && value < 0x10;
        if ((second_of_four && ((value == 0 && byte < 0x90) || (value == 4 && byte >= 0x90))) ||
            (second_of_three && ((value == 0 && byte < 0xA0) || (value == 0xD && byte >= 0xA0))))
            return replacement_character;
        ++from;
        value = (value << 6) | (byte & 0x3F);
        --missing;
    }
    return value;
}

// Both facets share every operation that does not touch the internal characters.
int max_length_of(const codec& codec) noexcept {
    const int code_page = codec.code_page->max_length();
    const int signature = wants_signature(codec.mode) ? 1 : 0;
    const bool one_char_line_end = (codec.mode & (mode_lf | mode_cr)) != 0;
    switch (encoding_group(codec.mode)) {
    case mode_utf8: return signature ? 9 : 6;
    case mode_utf16: return 4 + 2 * signature;
    case mode_utf32:
        if (signature)
            return one_char_line_end ? 8 : 12;
        return one_char_line_end ? 4 : 8;
    case mode_code_page: return one_char_line_end ? code_page : 2 * code_page;
    default:
        if (!one_char_line_end)
            return std::max(signature ? 12 : 8, 2 * code_page);
        return std::max(signature ? 9 : 6, 2 * code_page);
    }
}

int encoding_of(const codec& codec) noexcept {
    if (wants_signature(codec.mode))
        return -1;
    switch (codec.mode & mode_line_end_mask) {
    case mode_native_line_end: return -1;
    case mode_crlf: return 0;
    default: break;
    }
    switch (encoding_group(codec.mode)) {
    case mode_utf32: return 4;
    case mode_code_page: return codec.code_page->encoding();
    default: return 0;
    }
}

std::codecvt_base::result unshift_of(std::mbstate_t& state, char* to, char*& to_next) noexcept {
    to_next = to;
    return (state_word(state) & state_pending_mask) ? std::codecvt_base::error : std::codecvt_base::ok;
}

// The bytes that make up at most max internal characters: one character at a time, ending
// where the input ends or an incomplete character makes no progress.
template <class Facet>
int length_of(const Facet& facet, std::mbstate_t& state, const char* from, const char* from_end,
              std::size_t max) {
    const char* position = from;
    std::size_t count = 0;
    while (count < max && position != from_end) {
        typename Facet::intern_type unit{};
        typename Facet::intern_type* unit_end = &unit;
        const char* next = position;
        facet.in(state, position, from_end, next, &unit, &unit + 1, unit_end);
        if (unit_end == &unit && next == position)
            break;
        count += static_cast<std::size_t>(unit_end - &unit);
        position = next;
    }
    return static_cast<int>(position - from);
}

// libstdc++'s file buffer takes "partial" with nothing converted at the end of the file for a
// broken file and throws. An incomplete last character cannot ever be completed: report the
// conversion as done so that the buffer either reads more bytes or ends the text there.
std::codecvt_base::result in_result(bool needs_more_input, bool produced, bool input_left) noexcept {
    if (needs_more_input && !produced)
        return std::codecvt_base::ok;
    return input_left ? std::codecvt_base::partial : std::codecvt_base::ok;
}

// Encodes internal text (UTF-16 or UTF-8, read by decode) into the file's encoding, one
// character at a time, stopping before a character that does not fit.
template <class Intern, class Decode>
std::codecvt_base::result out_of(const codec& codec, std::mbstate_t& state, const Intern* from,
                                 const Intern* from_end, const Intern*& from_next, char* to, char* to_end,
                                 char*& to_next, Decode decode) {
    std::uint32_t word = state_word(state);
    from_next = from;
    to_next = to;
    while (from_next != from_end && to_next != to_end) {
        const std::uint32_t word_before = word;
        const Intern* from_before = from_next;
        const auto code_point = decode(word, from_next, from_end);
        if (!code_point)
            continue;
        const int written = encode_char(codec, word, *code_point, to_next, to_end);
        if (written < 0) {
            word = word_before;
            from_next = from_before;
            break;
        }
        to_next += written;
    }
    set_state_word(state, word);
    const bool pending = (word & state_pending_mask) != 0;
    return from_next == from_end && !pending ? std::codecvt_base::ok : std::codecvt_base::partial;
}

} // namespace details

using details::state_word;
using details::set_state_word;

// ----- UTF-16 inside -----

codecvt<wchar_t>::codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs)
    : std::codecvt<wchar_t, char, std::mbstate_t>(refs), codec_(mode, locale) {}

codecvt<wchar_t>::~codecvt() = default;

bool codecvt<wchar_t>::do_always_noconv() const noexcept {
    return false;
}

int codecvt<wchar_t>::do_max_length() const noexcept {
    return details::max_length_of(codec_);
}

int codecvt<wchar_t>::do_encoding() const noexcept {
    return details::encoding_of(codec_);
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_in(state_type& state, const extern_type* from,
                                                 const extern_type* from_end, const extern_type*& from_next,
                                                 intern_type* to, intern_type* to_end,
                                                 intern_type*& to_next) const {
    std::uint32_t word = state_word(state);
    from_next = from;
    to_next = to;
    bool needs_more_input = false;
    while (from_next != from_end && to_next != to_end) {
        if (word & details::state_pending_mask) {
            // The low surrogate of a pair split by the end of the buffer; the pair's last byte
            // was left unconsumed for it, so that the buffer calls again.
            *to_next++ = static_cast<wchar_t>(0xDC00 | ((word & details::state_value_mask) >> details::state_value_shift));
            word &= ~(details::state_pending_mask | details::state_value_mask);
            ++from_next;
            continue;
        }
        const std::uint32_t word_before = word;
        const auto decoded = details::decode_char(codec_, word, from_next, from_end);
        if (!decoded) {
            word = word_before;
            needs_more_input = true;
            break;
        }
        if (!decoded->code_point) {
            from_next += decoded->consumed;
            continue;
        }
        const char32_t code_point = *decoded->code_point;
        if (code_point < 0x10000) {
            *to_next++ = static_cast<wchar_t>(code_point);
            from_next += decoded->consumed;
        } else if (to_end - to_next >= 2) {
            details::write_code_point_units(code_point, to_next);
            from_next += decoded->consumed;
        } else {
            *to_next++ = static_cast<wchar_t>(0xD800 | ((code_point - 0x10000) >> 10));
            word |= (1u << details::state_pending_shift) | ((code_point & 0x3FF) << details::state_value_shift);
            from_next += decoded->consumed - 1;
        }
    }
    set_state_word(state, word);
    return details::in_result(needs_more_input, to_next != to, from_next != from_end);
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_out(state_type& state, const intern_type* from,
                                                  const intern_type* from_end, const intern_type*& from_next,
                                                  extern_type* to, extern_type* to_end,
                                                  extern_type*& to_next) const {
    return details::out_of(codec_, state, from, from_end, from_next, to, to_end, to_next,
                           [](std::uint32_t& word, const wchar_t*& next, const wchar_t* end) {
                               return details::get_utf16(word, next, end);
                           });
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_unshift(state_type& state, extern_type* to, extern_type*,
                                                      extern_type*& to_next) const {
    return details::unshift_of(state, to, to_next);
}

int codecvt<wchar_t>::do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                                std::size_t max) const {
    return details::length_of(*this, state, from, from_end, max);
}

// ----- UTF-8 inside -----

codecvt<char>::codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs)
    : std::codecvt<char, char, std::mbstate_t>(refs), codec_(mode, locale) {}

codecvt<char>::~codecvt() = default;

bool codecvt<char>::do_always_noconv() const noexcept {
    return false;
}

int codecvt<char>::do_max_length() const noexcept {
    return details::max_length_of(codec_);
}

int codecvt<char>::do_encoding() const noexcept {
    return details::encoding_of(codec_);
}

codecvt<char>::result codecvt<char>::do_in(state_type& state, const extern_type* from,
                                           const extern_type* from_end, const extern_type*& from_next,
                                           intern_type* to, intern_type* to_end, intern_type*& to_next) const {
    std::uint32_t word = state_word(state);
    from_next = from;
    to_next = to;
    bool needs_more_input = false;
    while (from_next != from_end && to_next != to_end) {
        std::uint32_t missing = (word & details::state_pending_mask) >> details::state_pending_shift;
        if (missing != 0) {
            // The rest of a character that did not fit; its last byte in the file was left
            // unconsumed for it, so that the buffer calls again.
            std::uint32_t value = (word & details::state_value_mask) >> details::state_value_shift;
            --missing;
            *to_next++ = static_cast<char>(0x80 | ((value >> (6 * missing)) & 0x3F));
            value &= (1u << (6 * missing)) - 1;
            word = (word & ~(details::state_pending_mask | details::state_value_mask)) |
                   (missing << details::state_pending_shift) | (value << details::state_value_shift);
            if (missing == 0)
                ++from_next;
            continue;
        }
        const std::uint32_t word_before = word;
        const auto decoded = details::decode_char(codec_, word, from_next, from_end);
        if (!decoded) {
            word = word_before;
            needs_more_input = true;
            break;
        }
        if (!decoded->code_point) {
            from_next += decoded->consumed;
            continue;
        }
        std::array<char, 4> bytes{};
        const int size = details::encode_utf8(*decoded->code_point, bytes.data());
        const std::ptrdiff_t room = to_end - to_next;
        if (size <= room) {
            to_next = std::copy_n(bytes.data(), size, to_next);
            from_next += decoded->consumed;
            continue;
        }
        to_next = std::copy_n(bytes.data(), room, to_next);
        const auto left = static_cast<std::uint32_t>(size - room);
        const std::uint32_t value = *decoded->code_point & ((1u << (6 * left)) - 1);
        word |= (left << details::state_pending_shift) | (value << details::state_value_shift);
        from_next += decoded->consumed - 1;
    }
    set_state_word(state, word);
    return details::in_result(needs_more_input, to_next != to, from_next != from_end);
}

codecvt<char>::result codecvt<char>::do_out(state_type& state, const intern_type* from,
                                            const intern_type* from_end, const intern_type*& from_next,
                                            extern_type* to, extern_type* to_end, extern_type*& to_next) const {
    return details::out_of(codec_, state, from, from_end, from_next, to, to_end, to_next,
                           [](std::uint32_t& word, const char*& next, const char* end) {
                               return details::decode_utf8_partial(word, next, end);
                           });
}

codecvt<char>::result codecvt<char>::do_unshift(state_type& state, extern_type* to, extern_type*,
                                                extern_type*& to_next) const {
    return details::unshift_of(state, to, to_next);
}

int codecvt<char>::do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                             std::size_t max) const {
    return details::length_of(*this, state, from, from_end, max);
}

} // namespace vd::txtf
