// Whole-string conversions between the program's UTF-16 text and narrow text: UTF-8 both ways
// (bad input is dropped, never fatal) and UTF-16 to the thread's ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <locale>
#include <string>
#include <string_view>

namespace vd {

std::wstring utf8_to_wide(const char* first, const char* last);
std::string wide_to_utf8(const wchar_t* first, const wchar_t* last);

// In the calling thread's ANSI code page; characters it lacks become its default character.
// Any failure of the conversion gives "".
std::string wide_to_narrow(const wchar_t* text, std::size_t count);

inline std::wstring utf8_to_wide(std::string_view text) {
    return utf8_to_wide(text.data(), text.data() + text.size());
}
inline std::string wide_to_utf8(std::wstring_view text) {
    return wide_to_utf8(text.data(), text.data() + text.size());
}
inline std::string wide_to_narrow(std::wstring_view text) {
    return wide_to_narrow(text.data(), text.size());
}

namespace details {

inline constexpr std::int32_t utf8_invalid = -1;
inline constexpr std::int32_t utf8_exhausted = -2;

// Strict UTF-8: the next code point, utf8_invalid or utf8_exhausted. Advances the cursor past
// every byte it looked at, the lead byte always.
std::int32_t decode_utf8_code_point(const char*& cursor, const char* last);

// A code-conversion facet over the Windows code-page functions, always on CP_THREAD_ACP.
// It keeps no shift state. Its destructor is public so that it can serve as a plain object.
class w2a_codecvt : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    explicit w2a_codecvt(std::size_t refs = 0);
    ~w2a_codecvt() override;

    std::uint32_t code_page() const noexcept { return code_page_; }

protected:
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
    std::uint32_t code_page_;
};

} // namespace details
} // namespace vd
