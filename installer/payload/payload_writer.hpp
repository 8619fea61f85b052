// Builds payloads: the header and the contents, compressed as one bzip2 stream (block
// size 9), the stored form that the installer carries as its resource 260/134.
#pragma once

#include "installer/payload/payload_file.hpp"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One file to carry: its content given as bytes or as a file to copy.
struct payload_item {
    std::wstring source_path;
    std::wstring folder_template;
    payload_kind kind = payload_kind::ordinary;
    std::variant<std::string, std::filesystem::path> content;
};

enum class payload_checks {
    enforce,  // refuse records that check_record rejects
    raw,      // write whatever is given (to make damaged payloads on purpose)
};

// The records of the items, with their sizes and CRC-32s taken from the content.
std::vector<payload_file> payload_records(const std::vector<payload_item>& items, payload_checks checks);

// Writes the inflated payload: header, then every item's content.
void write_inflated_payload(std::ostream& out, const std::vector<payload_item>& items,
                            payload_checks checks = payload_checks::enforce);

// Writes the stored payload: the inflated payload compressed as one bzip2 stream.
void write_payload(std::ostream& out, const std::vector<payload_item>& items,
                   payload_checks checks = payload_checks::enforce);

// Compresses arbitrary inflated bytes the way the stored payload is compressed.
std::string compress_payload(std::string_view inflated);
