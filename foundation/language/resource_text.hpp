// Texts given either literally or as ids of the program's string-table entries, and the
// texts of one line or one field of an entry. Entries come from find_resource_string, in the
// language that the system selects for the calling thread.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vd {

// A text argument in the MAKEINTRESOURCE convention: 0 is the empty text, 1 to 0xFFFF a
// string-table id, anything larger the address of a NUL-terminated wide string that the
// caller keeps alive while the argument lives.
class string_or_id {
public:
    string_or_id() noexcept = default;
    string_or_id(std::nullptr_t) noexcept {}
    string_or_id(const wchar_t* text) noexcept : value_(reinterpret_cast<std::uintptr_t>(text)) {}
    template <std::integral Id>
    string_or_id(Id id) noexcept : value_(static_cast<std::uintptr_t>(id)) {}

    std::uintptr_t value() const noexcept { return value_; }
    bool is_id() const noexcept { return value_ != 0 && value_ <= 0xFFFF; }

    // Valid until the argument is destroyed or asked again; a missing entry reads as "".
    const wchar_t* c_str() const;

private:
    std::uintptr_t value_ = 0;
    mutable std::wstring cache_;
};

// The whole entry; "" for id 0 or a missing entry.
std::wstring string_id_text(std::uint32_t id);

// One line of an entry of exactly two lines separated by '\n'; second 0 is the first line.
struct string_line {
    std::uint32_t id = 0;
    std::uint8_t second = 0;
};

// Field index (from 0) of an entry whose fields are separated by separator.
struct string_field {
    std::uint32_t id = 0;
    std::uint32_t index = 0;
    wchar_t separator = L'|';
};

// std::invalid_argument("invalid format string") unless the text holds exactly one '\n'.
std::wstring_view split_line(std::wstring_view text, bool second);

std::wstring string_line_text(const string_line& line);

// std::invalid_argument("invalid index") for a field beyond the last one.
std::wstring string_field_text(const string_field& field);

// A text to show: a whole entry, one line or field of one, or a literal.
class resource_text : public std::variant<std::uint32_t, string_line, std::wstring, string_field> {
public:
    using variant::variant;

    std::wstring str() const;
};

} // namespace vd
