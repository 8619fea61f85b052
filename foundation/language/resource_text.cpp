#include "foundation/language/resource_text.hpp"

#include <stdexcept>

#include "foundation/streams/resource_stream.hpp"

namespace vd {
namespace {

std::wstring_view entry_of(std::uint32_t id) {
    if (id == 0)
        return {};
    const auto [text, length] = find_resource_string(id);
    if (!text)
        return {};
    return {text, length};
}

} // namespace

const wchar_t* string_or_id::c_str() const {
    if (value_ == 0)
        return L"";
    if (value_ > 0xFFFF)
        return reinterpret_cast<const wchar_t*>(value_);
    cache_.assign(entry_of(static_cast<std::uint32_t>(value_)));
    return cache_.c_str();
}

std::wstring string_id_text(std::uint32_t id) {
    return std::wstring(entry_of(id));
}

std::wstring_view split_line(std::wstring_view text, bool second) {
    const auto newline = text.find(L'\n');
    if (text.empty() || newline == std::wstring_view::npos || text.find(L'\n', newline + 1) != std::wstring_view::npos)
        throw std::invalid_argument("invalid format string");
    return second ? text.substr(newline + 1) : text.substr(0, newline);
}

std::wstring string_line_text(const string_line& line) {
    return std::wstring(split_line(entry_of(line.id), line.second != 0));
}

std::wstring string_field_text(const string_field& field) {
    std::wstring_view rest = entry_of(field.id);
    std::uint32_t index = field.index;
    while (!rest.empty()) {
        const auto separator = rest.find(field.separator);
        if (separator == std::wstring_view::npos)
            break;
        if (index == 0)
            return std::wstring(rest.substr(0, separator));
        --index;
        rest.remove_prefix(separator + 1);
    }
    if (index > 0)
        throw std::invalid_argument("invalid index");
    return std::wstring(rest);
}

std::wstring resource_text::str() const {
    struct text_of {
        std::wstring operator()(std::uint32_t id) const { return string_id_text(id); }
        std::wstring operator()(const string_line& line) const { return string_line_text(line); }
        std::wstring operator()(const std::wstring& literal) const { return literal; }
        std::wstring operator()(const string_field& field) const { return string_field_text(field); }
    };
    return std::visit(text_of{}, static_cast<const variant&>(*this));
}

} // namespace vd
