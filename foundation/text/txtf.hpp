// Text files in UTF-8, UTF-16, UTF-32 or a locale's code page through the standard file streams.
// The facet finds the encoding from a byte-order mark (or guesses between UTF-8 and the code
// page), reads CR, LF and CR LF as "\n", writes "\n" as the chosen line end and never stops on
// bad input: what it cannot decode arrives as U+FFFD. A file that ends inside a character reads
// as far as its last whole character.
//
//   vd::txtf::wofstream out(path);   // UTF-16 little-endian, FF FE, CR LF
//   vd::txtf::wifstream in(path);    // whatever encoding and line ends the file has
//
// A plain std::basic_fstream becomes such a stream with imbue_auto / imbue_utf16 / imbue right
// after it is opened. The char streams keep UTF-8 inside the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <ios>
#include <locale>
#include <optional>
#include <string>
#include <type_traits>

namespace vd::txtf {

// The mode word, fixed for the life of a facet. Groups not given take their first value.
// Encoding (bits 0-3).
inline constexpr std::uint32_t mode_auto = 0x0;       // from the byte-order mark, else guessed
inline constexpr std::uint32_t mode_utf8 = 0x1;
inline constexpr std::uint32_t mode_utf16 = 0x2;
inline constexpr std::uint32_t mode_utf32 = 0x4;
inline constexpr std::uint32_t mode_code_page = 0x8;  // the held locale's code page
inline constexpr std::uint32_t mode_encoding_mask = 0x0F;
// Byte-order mark (bits 4-5): written on output, dropped at the start of input.
inline constexpr std::uint32_t mode_signature = 0x10;
inline constexpr std::uint32_t mode_no_signature = 0x20;
inline constexpr std::uint32_t mode_signature_mask = 0x30;
// Line end written for "\n" (bits 6-8). Native and CR LF read CR, LF and CR LF each as one
// "\n"; LF and CR read every CR and every LF as "\n".
inline constexpr std::uint32_t mode_native_line_end = 0x0;
inline constexpr std::uint32_t mode_crlf = 0x40;
inline constexpr std::uint32_t mode_lf = 0x80;
inline constexpr std::uint32_t mode_cr = 0x100;
inline constexpr std::uint32_t mode_line_end_mask = 0x1C0;
// Byte order of UTF-16 and UTF-32 when no byte-order mark decides it (bits 10-11).
inline constexpr std::uint32_t mode_little_endian = 0x400;
inline constexpr std::uint32_t mode_big_endian = 0x800;
inline constexpr std::uint32_t mode_byte_order_mask = 0xC00;

// What the journal and the wide output stream write: UTF-16 little-endian, FF FE, CR LF.
inline constexpr std::uint32_t mode_utf16_file = mode_utf16;
// What the char output stream writes when given mode 0: the code page with CR LF.
inline constexpr std::uint32_t mode_code_page_file = 0x458;

namespace details {

// The conversion set-up shared by both facets; it never changes after construction.
struct codec {
    codec(std::uint32_t mode, const std::locale& locale);

    std::uint32_t mode;                                                  // normalised
    std::locale locale;                                                  // the held locale
    const std::codecvt<wchar_t, char, std::mbstate_t>* code_page;       // in locale
    char replacement = '?';  // written for what the code page cannot hold; 0 writes nothing
};

} // namespace details

template <class Char>
class codecvt;

// UTF-16 inside, the file's encoding outside. All per-file knowledge lives in the stream's
// std::mbstate_t, so one facet may serve any number of streams on any thread.
template <>
class codecvt<wchar_t> : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs = 0);

    std::uint32_t mode() const noexcept { return codec_.mode; }

protected:
    ~codecvt() override;

    bool do_always_noconv() const noexcept override;
    int do_max_length() const noexcept override;
    int do_encoding() const noexcept override;
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    int do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                  std::size_t max) const override;

private:
    details::codec codec_;
};

// The same files with UTF-8 inside the program.
template <>
class codecvt<char> : public std::codecvt<char, char, std::mbstate_t> {
public:
    codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs = 0);

    std::uint32_t mode() const noexcept { return codec_.mode; }

protected:
    ~codecvt() override;

    bool do_always_noconv() const noexcept override;
    int do_max_length() const noexcept override;
    int do_encoding() const noexcept override;
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    int do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                  std::size_t max) const override;

private:
    details::codec codec_;
};

// Gives the stream a facet in the given mode, held locale = the stream's current locale.
// A stream that already converts with a vd::txtf facet keeps it, whatever its mode. Call it
// before the first read or write.
template <class Char, class Traits>
void imbue(std::basic_ios<Char, Traits>& stream, std::uint32_t mode) {
    using standard_codecvt = std::codecvt<Char, char, std::mbstate_t>;
    const std::locale current = stream.getloc();
    if (std::has_facet<standard_codecvt>(current) &&
        dynamic_cast<const codecvt<Char>*>(&std::use_facet<standard_codecvt>(current)))
        return;
    stream.imbue(std::locale(current, new codecvt<Char>(mode, current)));
}

// Reading: encoding and line ends as the file has them.
template <class Char, class Traits>
void imbue_auto(std::basic_ios<Char, Traits>& stream) {
    imbue(stream, mode_auto);
}

// Writing: UTF-16 little-endian with FF FE and CR LF.
template <class Char, class Traits>
void imbue_utf16(std::basic_ios<Char, Traits>& stream) {
    imbue(stream, mode_utf16_file);
}

namespace details {

// Groups with a value outside their table become 0; the code page never gets a signature.
std::uint32_t normalize_mode(std::uint32_t mode) noexcept;

// The state word: the first 32 bits of the stream's std::mbstate_t, zero for a fresh file.
inline constexpr std::uint32_t state_encoding_mask = 0x7;  // found in automatic mode:
inline constexpr std::uint32_t state_code_page = 1;
inline constexpr std::uint32_t state_utf8 = 2;
inline constexpr std::uint32_t state_utf16 = 3;
inline constexpr std::uint32_t state_utf32 = 4;
inline constexpr std::uint32_t state_signature = 0x8;       // found / written
inline constexpr std::uint32_t state_no_signature = 0x10;   // absent / not written
inline constexpr std::uint32_t state_style_mask = 0xE0;     // line ends met (or written):
inline constexpr std::uint32_t state_style_crlf = 0x20;
inline constexpr std::uint32_t state_style_lf = 0x40;
inline constexpr std::uint32_t state_style_cr = 0x60;
inline constexpr std::uint32_t state_style_mixed = 0x80;
inline constexpr std::uint32_t state_little_endian = 0x100;
inline constexpr std::uint32_t state_big_endian = 0x200;
inline constexpr std::uint32_t state_byte_order_mask = 0x300;
inline constexpr std::uint32_t state_pending_mask = 0xC00;  // count of pending units / bytes
inline constexpr int state_pending_shift = 10;
inline constexpr std::uint32_t state_value_mask = 0x3FFFF000;  // the pending value
inline constexpr int state_value_shift = 12;
inline constexpr std::uint32_t state_after_cr = 0x40000000;

std::uint32_t state_word(const std::mbstate_t& state) noexcept;
void set_state_word(std::mbstate_t& state, std::uint32_t word) noexcept;

inline constexpr char32_t replacement_character = 0xFFFD;

// One decoded character: the bytes it took and its code point, none for bytes that stand for
// no character (a byte-order mark, the LF of CR LF). bad marks a U+FFFD that stands for input
// that could not be decoded.
struct decoded {
    std::ptrdiff_t consumed = 0;
    std::optional<char32_t> code_point;
    bool bad = false;
};

// Each decoder gives std::nullopt when [p, end) does not yet hold a whole character.
std::optional<decoded> decode_utf8(const char* p, const char* end, bool strict);
std::optional<decoded> decode_code_page(const codec& codec, const char* p, const char* end);
// The next character of the file in the codec's mode, with detection, guessing and line ends;
// updates the state word.
std::optional<decoded> decode_char(const codec& codec, std::uint32_t& state, const char* p,
                                   const char* end);

// Writes the code point (with the signature and line end it calls for) into [to, to_end) and
// gives the bytes written, or -1 when they do not fit (nothing written). Updates the state word.
int encode_char(const codec& codec, std::uint32_t& state, char32_t code_point, char* to,
                char* to_end);
// 1 to 4 bytes into out.
int encode_utf8(char32_t code_point, char* out) noexcept;

// The next code point of UTF-16 text, pairing surrogates across calls through the state word;
// nothing when a high surrogate ends the input (it waits in the state).
std::optional<char32_t> get_utf16(std::uint32_t& state, const wchar_t*& from,
                                  const wchar_t* from_end) noexcept;
// The next code point of the program's UTF-8; a sequence cut by the end of the input waits in
// the state and gives nothing.
std::optional<char32_t> decode_utf8_partial(std::uint32_t& state, const char*& from,
                                            const char* from_end) noexcept;

// A file stream that converts through a vd::txtf facet from the moment it is opened.
// Mode is the stream's open-mode bit: 1 (in) or 2 (out). Input streams read in automatic mode;
// the wide output stream writes UTF-16 (FF FE, CR LF); the char output stream writes in the
// mode given, the code page with CR LF when that is 0.
template <template <class, class> class Stream, class Char, class Traits, int Mode>
class stream_impl : public Stream<Char, Traits> {
    static_assert(Mode == 1 || Mode == 2);
    static constexpr bool takes_mode = Mode == 2 && std::is_same_v<Char, char>;

public:
    stream_impl() = default;
    explicit stream_impl(const std::filesystem::path& path) { open(path); }
    stream_impl(const std::filesystem::path& path, std::uint32_t mode)
        requires takes_mode
    {
        open(path, mode);
    }

    stream_impl(stream_impl&&) = default;
    stream_impl& operator=(stream_impl&&) = default;
    ~stream_impl() override = default;

    // Opens the file (binary, an output file truncated) and installs the facet. A file that
    // cannot be opened leaves failbit set, as with the standard streams.
    void open(const std::filesystem::path& path) { open_with(path, 0); }
    void open(const std::filesystem::path& path, std::uint32_t mode)
        requires takes_mode
    {
        open_with(path, mode);
    }

private:
    void open_with(const std::filesystem::path& path, std::uint32_t mode) {
        if constexpr (Mode == 1)
            Stream<Char, Traits>::open(path, std::ios_base::in | std::ios_base::binary);
        else
            Stream<Char, Traits>::open(path, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
        if constexpr (Mode == 1)
            imbue_auto(*this);
        else if constexpr (takes_mode)
            imbue(*this, mode != 0 ? mode : mode_code_page_file);
        else
            imbue_utf16(*this);
    }
};

} // namespace details

using wifstream = details::stream_impl<std::basic_ifstream, wchar_t, std::char_traits<wchar_t>, 1>;
using wofstream = details::stream_impl<std::basic_ofstream, wchar_t, std::char_traits<wchar_t>, 2>;
using ifstream = details::stream_impl<std::basic_ifstream, char, std::char_traits<char>, 1>;
using ofstream = details::stream_impl<std::basic_ofstream, char, std::char_traits<char>, 2>;

} // namespace vd::txtf
