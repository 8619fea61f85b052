// A resource of the running program read from the program's file instead of where the loader
// mapped it. Every page of a mapped resource that has been read stays in the process's working
// set until the end: a payload of 50 MB read in place makes the installer 50 MB larger. Read
// from the file through a small buffer, its bytes stay in the system's file cache and the
// process holds one buffer of them at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <optional>

#include <boost/iostreams/restrict.hpp>
#include <boost/iostreams/stream_buffer.hpp>

#include <windows.h>

namespace vd {

// Bytes [offset, offset + size) of a file.
struct file_range {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Where the bytes of one of the running program's resources lie in its file, found through
// the section that holds them; nothing for a missing or empty resource.
std::optional<file_range> program_resource_range(const wchar_t* name, const wchar_t* type);

// A read-only, seekable stream over a range of a file: its positions count from the range's
// start and the range's end is the stream's end. A file that cannot be opened leaves the
// stream failed.
class file_range_stream : public std::istream {
public:
    file_range_stream(const std::filesystem::path& file, file_range range);
    file_range_stream(const file_range_stream&) = delete;
    file_range_stream& operator=(const file_range_stream&) = delete;

private:
    static constexpr std::streamsize buffer_size = 64 * 1024;

    std::ifstream file_;
    boost::iostreams::stream_buffer<boost::iostreams::restriction<std::istream>> buffer_;
};

// The running program's resource read from its file; null when the resource is missing or
// the file cannot be opened, and the caller reads the resource where it lies instead
// (load_resource_stream).
std::unique_ptr<std::istream> open_program_resource(const wchar_t* type, const wchar_t* name);

} // namespace vd
