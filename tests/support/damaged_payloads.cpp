#include "support/damaged_payloads.hpp"

#include "installer/payload/payload_writer.hpp"
#include "support/payload_support.hpp"

#include <bzlib.h>

#include <array>
#include <cstring>
#include <random>
#include <string_view>

namespace testing_support {

namespace {

constexpr int verification_failed = 4;
constexpr int unexpected = 7;
constexpr int invalid_checksum = 3;

template <class T>
T field_at(const std::string& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <class T>
std::string with_field(std::string bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
}

// Where each field of a record lies in the inflated payload.
struct record_fields {
    std::size_t source_length;
    std::size_t template_length;
    std::size_t kind;
    std::size_t size;
    std::size_t crc;
};

std::vector<record_fields> fields_of(const std::string& inflated, std::size_t count) {
    std::vector<record_fields> fields;
    std::size_t offset = 12;
    for (std::size_t i = 0; i < count; ++i) {
        record_fields f{};
        f.source_length = offset;
        offset += 4 + 2 * std::size_t{field_at<std::uint32_t>(inflated, offset)};
        f.template_length = offset;
        offset += 4 + 2 * std::size_t{field_at<std::uint32_t>(inflated, offset)};
        f.kind = offset;
        f.size = offset + 4;
        f.crc = offset + 12;
        offset += 16;
        fields.push_back(f);
    }
    return fields;
}

std::string narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

// File names that Windows would not keep as given: device names with and without an
// extension, a trailing dot or blank, reserved and control characters, nothing at all.
const std::array<std::wstring_view, 28> bad_names{
    L"CON",        L"con.txt",   L"Aux.dll",        L"NUL",      L"nul.dat",   L"PRN.log",   L"COM1",
    L"com9.cab",   L"LPT1.txt",  L"COM\u00B9",      L"LPT\u00B2.dll", L"CONIN$", L"CONOUT$.txt", L"CLOCK$",
    L"name.",      L"name ",     L"name. ",         L"a:b.txt",  L"a*b",       L"a?b",       L"a\"b",
    L"a<b",        L"a>b",       L"a|b",            L"tab\there", std::wstring_view(L"nul\0byte", 8), L"..",
    L"CON .txt"};

// Folder names below a template that Windows would not keep, or that climb out of it.
const std::array<std::wstring_view, 9> bad_folders{L"..",        L".",  L"Languages.", L"Licenses ", L"Lang:uages",
                                                   L"CON",       L"aux", L"",          L"x\x01y"};

// Template heads that name no base folder: an unknown name (case counts), no brackets, a
// relative folder.
const std::array<std::wstring_view, 6> bad_heads{L"<Install Path>", L"InstallPath", L"<InstallPath",
                                                 L"<installpath>",  L"C:relative",  L".."};

} // namespace

std::optional<std::string> decode_streams(const std::string& stored) {
    std::string decoded;
    std::size_t used = 0;
    if (stored.empty())
        return std::nullopt;
    while (used < stored.size()) {
        bz_stream stream{};
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
            return std::nullopt;
        stream.next_in = const_cast<char*>(stored.data() + used);
        stream.avail_in = static_cast<unsigned>(stored.size() - used);
        int status = BZ_OK;
        char buffer[65536];
        while (status == BZ_OK) {
            stream.next_out = buffer;
            stream.avail_out = sizeof buffer;
            status = BZ2_bzDecompress(&stream);
            decoded.append(buffer, sizeof buffer - stream.avail_out);
            // All input taken, no output room used up and still no end: the stream is cut short.
            if (status == BZ_OK && stream.avail_in == 0 && stream.avail_out != 0)
                status = BZ_UNEXPECTED_EOF;
        }
        used = stored.size() - stream.avail_in;
        BZ2_bzDecompressEnd(&stream);
        if (status != BZ_STREAM_END)
            return std::nullopt;
    }
    return decoded;
}

std::vector<damaged_payload_case> damaged_payloads(const std::string& stored) {
    const std::string inflated = inflate(stored);
    const auto payload = parse(inflated);
    const auto& records = payload.records;
    const auto fields = fields_of(inflated, records.size());
    std::vector<damaged_payload_case> cases;

    // The stored stream itself: what the installation makes of it follows from decoding it.
    const auto stream_case = [&](std::string name, std::string bytes) {
        std::optional<int> code = verification_failed;
        if (const auto decoded = decode_streams(bytes)) {
            if (*decoded == inflated)
                code.reset();
            else if (decoded->size() > inflated.size() && decoded->starts_with(inflated))
                code = unexpected;  // bytes past the last file
            else
                code = any_compress_code;
        }
        cases.push_back({std::move(name), std::move(bytes), code});
    };
    // The inflated payload changed and compressed again: a well-formed stream.
    const auto forged = [&](std::string name, const std::string& bytes, int code) {
        cases.push_back({std::move(name), compress_payload(bytes), code});
    };

    std::mt19937 random(20240611);
    for (std::size_t i = 0; i < 220; ++i) {
        // Every bit of the first six bytes (the magic, the block size, the block's magic),
        // then bits anywhere.
        const std::size_t offset = i < 48 ? i / 8 : random() % stored.size();
        const unsigned bit = i < 48 ? i % 8 : random() % 8;
        auto bytes = stored;
        bytes[offset] = static_cast<char>(bytes[offset] ^ (1u << bit));
        stream_case("stored byte " + std::to_string(offset) + " bit " + std::to_string(bit) + " flipped", bytes);
    }
    for (const std::size_t cut : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{10}, std::size_t{14},
                                  stored.size() - 1, stored.size() - 2, stored.size() - 4, stored.size() - 10})
        stream_case("stored stream cut to " + std::to_string(cut) + " bytes", stored.substr(0, cut));
    for (std::size_t cut = 20; cut < stored.size() - 10; cut += stored.size() / 70)
        stream_case("stored stream cut to " + std::to_string(cut) + " bytes", stored.substr(0, cut));
    stream_case("a zero byte after the stream", stored + std::string(1, '\0'));
    stream_case("text after the stream", stored + "garbage");
    stream_case("a second copy of the stream after it", stored + stored);
    stream_case("the beginning of a second stream after it", stored + stored.substr(0, 10));
    stream_case("the magic of a second stream after it", stored + "BZh9");

    const auto header_size = field_at<std::uint64_t>(inflated, 0);
    for (const std::uint64_t value : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{8}, std::uint64_t{11},
                                      std::uint64_t{12}, header_size - 1, header_size + 1, header_size + 2,
                                      std::uint64_t{1} << 32, std::uint64_t{16} << 20, ~std::uint64_t{0}})
        forged("header_size " + std::to_string(value), with_field(inflated, 0, value), unexpected);
    const auto count = static_cast<std::uint32_t>(records.size());
    for (const std::uint32_t value : {0u, 1u, count - 1, count + 1, 1000u, 0xFFFFFFFFu})
        forged("record_count " + std::to_string(value), with_field(inflated, 8, value), unexpected);

    std::size_t written = 0;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const auto& record = records[r];
        const auto& f = fields[r];
        const std::string which = "record " + std::to_string(r) + " (" + narrow(record.file_name()) + ")";
        const auto source_length = field_at<std::uint32_t>(inflated, f.source_length);
        const auto template_length = field_at<std::uint32_t>(inflated, f.template_length);

        // A length that no longer matches its text: the rest of the header is read askew.
        const std::array<std::pair<std::size_t, std::uint32_t>, 7> lengths{{{f.source_length, source_length + 1},
                                                                           {f.template_length, template_length - 1},
                                                                           {f.source_length, source_length - 1},
                                                                           {f.template_length, template_length + 1},
                                                                           {f.source_length, 0x7FFFFFFFu},
                                                                           {f.template_length, 0xFFFFFFFFu},
                                                                           {f.source_length, 0u}}};
        const auto& [at, length] = lengths[r % lengths.size()];
        forged(which + (at == f.source_length ? " source length " : " template length ") + std::to_string(length),
               with_field(inflated, at, length), unexpected);

        // Names Windows does not keep, for the file and for its folder.
        const auto items_with = [&](std::size_t changed, std::wstring source, std::wstring folder_template) {
            std::vector<payload_item> list;
            for (std::size_t i = 0; i < records.size(); ++i) {
                const bool is_changed = i == changed;
                list.push_back({is_changed ? source : records[i].source_path,
                                is_changed ? folder_template : records[i].target,
                                static_cast<payload_kind>(records[i].kind), payload.contents[i]});
            }
            return list;
        };
        const std::wstring bad_name(bad_names[r % bad_names.size()]);
        const auto renamed = items_with(r, L"D:\\build\\" + bad_name, record.target);
        forged(which + " file name \"" + narrow(bad_name) + "\"", inflated_payload(renamed, payload_checks::raw),
               unexpected);
        const auto components = template_components(record.target);
        std::wstring bad_template;
        std::string what;
        if (r % 3 == 2) {
            bad_template = std::wstring(bad_heads[r / 3 % bad_heads.size()]);
            for (std::size_t i = 1; i < components.size(); ++i)
                bad_template += L"\\" + components[i];
            what = " folder template head \"" + narrow(bad_heads[r / 3 % bad_heads.size()]) + "\"";
        } else {
            const std::wstring folder(bad_folders[r % bad_folders.size()]);
            bad_template = components.front() + L"\\" + folder;
            for (std::size_t i = 2; i < components.size(); ++i)
                bad_template += L"\\" + components[i];
            what = " folder \"" + narrow(folder) + "\"";
        }
        forged(which + what, inflated_payload(items_with(r, record.source_path, bad_template), payload_checks::raw),
               unexpected);

        // Sizes and checksums that no longer match the bytes, on every third file of those
        // that are always written: the file is written, read back and refused, or the stream
        // runs out inside it.
        if (record.kind == static_cast<std::uint32_t>(payload_kind::shared) || written++ % 3 != 0)
            continue;
        const bool last = r + 1 == records.size();
        switch (written / 3 % 5) {
        case 0:
            forged(which + " size one less", with_field(inflated, f.size, record.size - 1), invalid_checksum);
            break;
        case 1:
            forged(which + " size one more", with_field(inflated, f.size, record.size + 1),
                   last ? unexpected : invalid_checksum);
            break;
        case 2:
            forged(which + " checksum with a bit flipped", with_field(inflated, f.crc, record.crc ^ (1u << (r % 32))),
                   invalid_checksum);
            break;
        case 3:
            forged(which + " size 0", with_field(inflated, f.size, std::uint64_t{0}), invalid_checksum);
            break;
        default:
            forged(which + " size 2^40", with_field(inflated, f.size, std::uint64_t{1} << 40), unexpected);
            break;
        }
    }
    return cases;
}

} // namespace testing_support
