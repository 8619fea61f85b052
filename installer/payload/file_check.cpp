#include "installer/payload/file_check.hpp"

#include "foundation/errors/error.hpp"

#include <boost/system/system_error.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <thread>
#include <vector>

#include <windows.h>
#include <zlib.h>

bool is_sharing_violation(const std::exception& failure) noexcept {
    if (const auto* system = dynamic_cast<const std::system_error*>(&failure))
        return system->code().category() == std::system_category() && system->code().value() == ERROR_SHARING_VIOLATION;
    if (const auto* boost_system = dynamic_cast<const boost::system::system_error*>(&failure))
        return boost_system->code().category() == boost::system::system_category() &&
               boost_system->code().value() == ERROR_SHARING_VIOLATION;
    return false;
}

void wait_one_second() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (auto now = std::chrono::steady_clock::now(); now < deadline; now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
}

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t size) noexcept {
    auto bytes = static_cast<const Bytef*>(data);
    // zlib counts in uInt; a larger block goes in pieces.
    for (std::size_t piece; size > 0; size -= piece, bytes += piece) {
        piece = std::min<std::size_t>(size, 1u << 30);
        crc = ::crc32(crc, bytes, static_cast<uInt>(piece));
    }
    return crc;
}

std::uint32_t read_file_crc(const std::filesystem::path& file) {
    errno = 0;
    _doserrno = 0;
    std::uint32_t crc = 0;
    // std::filebuf reads a block larger than its buffer straight from the system; with a
    // buffer of 64 KiB, sixteen blocks come from one read.
    std::vector<char> buffer(64 * 1024);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    in.open(file, std::ios::binary);
    if (!in.is_open() && _doserrno == ERROR_SHARING_VIOLATION)
        throw std::system_error(ERROR_SHARING_VIOLATION, std::system_category(), "read_file_crc");

    char block[4096];
    while (!(in.rdstate() & (std::ios::failbit | std::ios::badbit))) {
        in.read(block, sizeof block);
        crc = crc32_update(crc, block, static_cast<std::size_t>(in.gcount()));
    }
    if (in.eof() && errno == 0 && _doserrno == 0)
        return crc;

    in.exceptions(std::ios::failbit | std::ios::badbit);
    // The stream failed without failbit or badbit only if the C runtime saw an error
    // that the stream did not: report that as a stream failure too.
    throw std::ios_base::failure("read_file_crc");
}

std::uint32_t crc_of_file(const std::filesystem::path& file) {
    return retry_while_shared([&] { return read_file_crc(file); });
}

std::uint32_t crc_of_held_file(void* file) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        vd::throw_system_error();
    std::uint32_t crc = 0;
    std::vector<char> block(64 * 1024);
    for (DWORD read = 0;;) {
        if (!::ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            vd::throw_system_error();
        if (read == 0)
            return crc;
        crc = crc32_update(crc, block.data(), read);
    }
}
