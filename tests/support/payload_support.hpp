// Reading payloads back in tests: inflating a stored payload and splitting it into its
// records and contents, the way the installer reads them.
#pragma once

#include "installer/payload/payload_file.hpp"
#include "installer/payload/payload_writer.hpp"

#include <string>
#include <vector>

namespace testing_support {

std::string inflate(const std::string& stored);

struct parsed_payload {
    std::vector<payload_file> records;
    std::vector<std::string> contents;
};

// Throws the reader's compress errors for a malformed payload.
parsed_payload parse(const std::string& inflated);

std::string stored_payload(const std::vector<payload_item>& items, payload_checks checks = payload_checks::enforce);
std::string inflated_payload(const std::vector<payload_item>& items, payload_checks checks = payload_checks::enforce);

} // namespace testing_support
