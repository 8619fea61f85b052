#include "support/payload_support.hpp"

#include "installer/payload/compress_error.hpp"
#include "foundation/streams/memstream.hpp"

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <cstring>
#include <sstream>

namespace io = boost::iostreams;

namespace testing_support {

std::string inflate(const std::string& stored) {
    std::string inflated;
    io::filtering_istream in;
    in.push(io::bzip2_decompressor());
    in.push(io::array_source(stored.data(), stored.size()));
    io::copy(in, io::back_inserter(inflated));
    return inflated;
}

std::uint64_t u64_at(const std::string& bytes, std::size_t offset) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

parsed_payload parse(const std::string& inflated) {
    vd::imemstream in(inflated.data(), inflated.size());
    char prefix[8];
    if (!in.read(prefix, 8))
        throw_compress_error(compress_error::unexpected);
    const auto header_size = u64_at(inflated, 0);
    check_header_size(header_size);
    if (header_size > inflated.size())
        throw_compress_error(compress_error::unexpected);
    vd::imemstream header(inflated.data(), static_cast<std::size_t>(header_size));
    header.seekg(8);
    parsed_payload payload{read_payload_records(header, header_size), {}};
    if (payload_total(header_size, payload.records) != inflated.size())
        throw_compress_error(compress_error::unexpected);
    std::size_t offset = static_cast<std::size_t>(header_size);
    for (const auto& record : payload.records) {
        payload.contents.push_back(inflated.substr(offset, static_cast<std::size_t>(record.size)));
        offset += static_cast<std::size_t>(record.size);
    }
    return payload;
}

std::string stored_payload(const std::vector<payload_item>& items, payload_checks checks) {
    std::ostringstream out;
    write_payload(out, items, checks);
    return out.str();
}

std::string inflated_payload(const std::vector<payload_item>& items, payload_checks checks) {
    std::ostringstream out;
    write_inflated_payload(out, items, checks);
    return out.str();
}

} // namespace testing_support
