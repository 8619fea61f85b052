// The payload's inflated layout: a header (u64 header_size, u32 record_count, the records)
// followed by the files' contents in record order, all integers little-endian. This file is
// the one definition of that layout; the reader and the payload builder both use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

enum class payload_kind : std::uint32_t {
    ordinary = 0,      // program files
    main_program = 1,  // the installed program's executable
    uninstaller = 2,   // the uninstaller; the journal goes beside it
    shared = 3,        // shared data, kept when already there, opened to Users
    sample = 4,        // samples, left out when updating
    setup_only = 5,    // needed only while installing, removed afterwards
};

// One record of the file table.
struct payload_file {
    std::wstring source_path;  // where the payload was built; only the file name is used
    std::wstring target;       // the folder template, then the expanded target path
    std::uint32_t kind = 0;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    // Not stored: set with target, the folder users may change that target lies below (the
    // folder above the first one checked), or empty. Everything the installation does there goes
    // through a handle checked against it (linked_folders.hpp).
    std::wstring checked_below;

    // Reads the record's seven fields; a record that runs past the stream's end is
    // compress error 7.
    void read(std::istream& in);
    void write(std::ostream& out) const;

    // Bytes the record takes in the header.
    std::uint64_t record_size() const noexcept;

    // The last component of source_path.
    std::wstring file_name() const;
};

namespace payload_layout {
inline constexpr std::uint64_t prefix_size = 12;        // header_size and record_count
inline constexpr std::uint64_t record_fixed_size = 24;  // the record's integer fields
inline constexpr std::uint64_t max_header_size = 16ull << 20;
// No file system takes a longer path; a target beyond it is refused before anything is made.
inline constexpr std::size_t longest_path = 32767;
}

// Rejects (compress error 7) a header_size that cannot be genuine: below the fixed prefix,
// or so large that gathering it in memory would be unreasonable.
void check_header_size(std::uint64_t header_size);

// Rejects (compress error 7) a record whose file name or folders below the template Windows
// would not keep as given, or that would reach outside its folder: empty, ending in a dot or
// a blank ("." and ".." among them), holding a control character or one of < > : " / \ | ? *,
// or a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, CLOCK$) in any case,
// with or without an extension.
void check_record(const payload_file& record);

// Reads the file table from a stream that holds the whole header and stands at offset 8
// (just past header_size). The records must end exactly at header_size and pass
// check_record; anything else is compress error 7.
std::vector<payload_file> read_payload_records(std::istream& header, std::uint64_t header_size);

// header_size + the sum of the sizes: the length of the inflated payload (compress error 7
// when the sum does not fit 64 bits).
std::uint64_t payload_total(std::uint64_t header_size, const std::vector<payload_file>& records);

// Writes header_size, record_count and the records.
void write_payload_header(std::ostream& out, const std::vector<payload_file>& records);

// header_size of a table holding these records.
std::uint64_t payload_header_size(const std::vector<payload_file>& records) noexcept;

// Splits a folder template into its components ('\' and '/' both separate, as in Windows
// paths).
std::vector<std::wstring> template_components(const std::wstring& folder_template);

// Where records may write: a target never resolves against the current folder and always
// lies below its base folder. A base that is not an absolute folder is compress error 7.
std::filesystem::path checked_base(const std::filesystem::path& base);

// folder / name, when name is a single component that check_record would accept and the
// result is no longer than payload_layout::longest_path; compress error 7 otherwise.
std::filesystem::path append_checked(const std::filesystem::path& folder, const std::wstring& name);
// The same, appended to folder in place: a template of many components is expanded in time
// linear in its length.
void append_checked(std::wstring& folder, const std::wstring& name);
