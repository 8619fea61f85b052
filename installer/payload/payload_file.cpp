#include "installer/payload/payload_file.hpp"

#include "installer/payload/compress_error.hpp"

#include <algorithm>
#include <istream>
#include <limits>
#include <ostream>
#include <string_view>

namespace {

template <class T>
T read_le(std::istream& in) {
    unsigned char bytes[sizeof(T)];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        throw_compress_error(compress_error::unexpected);
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        value = static_cast<T>((value << 8) | bytes[i]);
    return value;
}

template <class T>
void write_le(std::ostream& out, T value) {
    char bytes[sizeof(T)];
    for (auto& byte : bytes) {
        byte = static_cast<char>(value & 0xFF);
        value = static_cast<T>(value >> 8);
    }
    out.write(bytes, sizeof bytes);
}

// Bytes left between the read position and the stream's end.
std::uint64_t bytes_left(std::istream& in) {
    const auto here = in.tellg();
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.seekg(here);
    if (here == std::streampos(-1) || end == std::streampos(-1) || !in)
        throw_compress_error(compress_error::unexpected);
    return static_cast<std::uint64_t>(end - here);
}

std::wstring read_string(std::istream& in) {
    const auto units = read_le<std::uint32_t>(in);
    if (std::uint64_t{units} * 2 > bytes_left(in))
        throw_compress_error(compress_error::unexpected);
    std::wstring text(units, L'\0');
    for (auto& unit : text)
        unit = static_cast<wchar_t>(read_le<std::uint16_t>(in));
    return text;
}

void write_string(std::ostream& out, const std::wstring& text) {
    write_le(out, static_cast<std::uint32_t>(text.size()));
    for (wchar_t unit : text)
        write_le(out, static_cast<std::uint16_t>(unit));
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Device names match in any case of their ASCII letters, whatever the locale.
bool equals_ignoring_case(std::wstring_view a, std::wstring_view b) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
    return a.size() == b.size() && std::ranges::equal(a, b, {}, upper, upper);
}

// The names that Win32 maps to devices in every folder: COM and LPT with a digit or a
// superscript one, two or three.
bool is_device_name(std::wstring_view stem) {
    constexpr std::wstring_view fixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    if (std::ranges::any_of(fixed, [&](std::wstring_view device) { return equals_ignoring_case(stem, device); }))
        return true;
    if (stem.size() != 4 || !(equals_ignoring_case(stem.substr(0, 3), L"COM") || equals_ignoring_case(stem.substr(0, 3), L"LPT")))
        return false;
    return std::wstring_view(L"0123456789\u00B9\u00B2\u00B3").find(stem[3]) != std::wstring_view::npos;
}

// Whether Windows keeps a name as given. A device name, with any extension, opens the device
// (the bytes of "AUX" go to a serial port, "NUL" swallows them); a trailing dot or blank is
// dropped, so "x." becomes "x"; a control character (U+0000 among them) cuts the name short
// or is refused, like the characters the file systems reserve.
bool is_kept_name(std::wstring_view name) {
    if (name.empty() || name.back() == L'.' || name.back() == L' ')
        return false;
    if (std::ranges::any_of(name, [](wchar_t c) { return c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos; }))
        return false;
    auto stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    return !is_device_name(stem);
}

} // namespace

void payload_file::read(std::istream& in) {
    source_path = read_string(in);
    target = read_string(in);
    kind = read_le<std::uint32_t>(in);
    size = read_le<std::uint64_t>(in);
    crc = read_le<std::uint32_t>(in);
}

void payload_file::write(std::ostream& out) const {
    write_string(out, source_path);
    write_string(out, target);
    write_le(out, kind);
    write_le(out, size);
    write_le(out, crc);
}

std::uint64_t payload_file::record_size() const noexcept {
    return payload_layout::record_fixed_size + 2 * (std::uint64_t{source_path.size()} + target.size());
}

std::wstring payload_file::file_name() const {
    const auto last = std::find_if(source_path.rbegin(), source_path.rend(), is_separator);
    return std::wstring(last.base(), source_path.end());
}

std::vector<std::wstring> template_components(const std::wstring& folder_template) {
    std::vector<std::wstring> components(1);
    for (wchar_t c : folder_template) {
        if (is_separator(c))
            components.emplace_back();
        else
            components.back() += c;
    }
    return components;
}

void check_header_size(std::uint64_t header_size) {
    if (header_size < payload_layout::prefix_size || header_size > payload_layout::max_header_size)
        throw_compress_error(compress_error::unexpected);
}

void check_record(const payload_file& record) {
    if (!is_kept_name(record.file_name()))
        throw_compress_error(compress_error::unexpected);
    const auto components = template_components(record.target);
    for (std::size_t i = 1; i < components.size(); ++i) {
        if (!is_kept_name(components[i]))
            throw_compress_error(compress_error::unexpected);
    }
}

std::vector<payload_file> read_payload_records(std::istream& header, std::uint64_t header_size) {
    check_header_size(header_size);
    const auto record_count = read_le<std::uint32_t>(header);
    if (record_count > (header_size - payload_layout::prefix_size) / payload_layout::record_fixed_size)
        throw_compress_error(compress_error::unexpected);
    std::vector<payload_file> records(record_count);
    for (auto& record : records) {
        record.read(header);
        check_record(record);
    }
    if (static_cast<std::uint64_t>(header.tellg()) != header_size)
        throw_compress_error(compress_error::unexpected);
    return records;
}

std::uint64_t payload_total(std::uint64_t header_size, const std::vector<payload_file>& records) {
    std::uint64_t total = header_size;
    for (const auto& record : records) {
        if (record.size > std::numeric_limits<std::uint64_t>::max() - total)
            throw_compress_error(compress_error::unexpected);
        total += record.size;
    }
    return total;
}

std::uint64_t payload_header_size(const std::vector<payload_file>& records) noexcept {
    std::uint64_t size = payload_layout::prefix_size;
    for (const auto& record : records)
        size += record.record_size();
    return size;
}

void write_payload_header(std::ostream& out, const std::vector<payload_file>& records) {
    write_le(out, payload_header_size(records));
    write_le(out, static_cast<std::uint32_t>(records.size()));
    for (const auto& record : records)
        record.write(out);
}

std::filesystem::path checked_base(const std::filesystem::path& base) {
    if (!base.is_absolute())
        throw_compress_error(compress_error::unexpected);
    return base;
}

void append_checked(std::wstring& folder, const std::wstring& name) {
    if (!is_kept_name(name))
        throw_compress_error(compress_error::unexpected);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    folder += name;
    if (folder.size() > payload_layout::longest_path)
        throw_compress_error(compress_error::unexpected);
}

std::filesystem::path append_checked(const std::filesystem::path& folder, const std::wstring& name) {
    std::wstring joined = folder.native();
    append_checked(joined, name);
    return joined;
}
