#include "installer/payload/payload_writer.hpp"

#include "installer/payload/file_check.hpp"

#include <boost/crc.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <fstream>
#include <ostream>
#include <sstream>

namespace io = boost::iostreams;

namespace {

constexpr int block_size = 9;

struct content_size {
    std::uint64_t operator()(const std::string& bytes) const { return bytes.size(); }
    std::uint64_t operator()(const std::filesystem::path& file) const { return std::filesystem::file_size(file); }
};

std::uint32_t content_crc(const payload_item& item) {
    if (const auto* bytes = std::get_if<std::string>(&item.content)) {
        boost::crc_32_type crc;
        crc.process_bytes(bytes->data(), bytes->size());
        return crc.checksum();
    }
    return crc_of_file(std::get<std::filesystem::path>(item.content));
}

void write_content(std::ostream& out, const payload_item& item) {
    if (const auto* bytes = std::get_if<std::string>(&item.content)) {
        out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
        return;
    }
    std::ifstream in(std::get<std::filesystem::path>(item.content), std::ios::binary);
    in.exceptions(std::ios::badbit);
    if (!in)
        throw std::ios_base::failure("cannot open " + std::get<std::filesystem::path>(item.content).string());
    io::copy(in, out, 4096);
}

} // namespace

std::vector<payload_file> payload_records(const std::vector<payload_item>& items, payload_checks checks) {
    std::vector<payload_file> records;
    records.reserve(items.size());
    for (const auto& item : items) {
        payload_file record;
        record.source_path = item.source_path;
        record.target = item.folder_template;
        record.kind = static_cast<std::uint32_t>(item.kind);
        record.size = std::visit(content_size{}, item.content);
        record.crc = content_crc(item);
        if (checks == payload_checks::enforce)
            check_record(record);
        records.push_back(std::move(record));
    }
    return records;
}

void write_inflated_payload(std::ostream& out, const std::vector<payload_item>& items, payload_checks checks) {
    write_payload_header(out, payload_records(items, checks));
    for (const auto& item : items)
        write_content(out, item);
    out.flush();
}

void write_payload(std::ostream& out, const std::vector<payload_item>& items, payload_checks checks) {
    io::filtering_ostream compressed;
    compressed.push(io::bzip2_compressor(io::bzip2_params(block_size)));
    compressed.push(out);
    compressed.exceptions(std::ios::badbit | std::ios::failbit);
    write_inflated_payload(compressed, items, checks);
    compressed.reset();  // flushes and ends the bzip2 stream
}

std::string compress_payload(std::string_view inflated) {
    // Not a back_inserter: g++ 12 misreads its string::insert as an overlapping copy (-Wrestrict).
    std::ostringstream stored;
    io::filtering_ostream compressed;
    compressed.push(io::bzip2_compressor(io::bzip2_params(block_size)));
    compressed.push(stored);
    compressed.write(inflated.data(), static_cast<std::streamsize>(inflated.size()));
    compressed.reset();
    return std::move(stored).str();
}
