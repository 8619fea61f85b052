// The error category of the payload extraction's own failures ("compress").
#pragma once

#include <system_error>

enum class compress_error {
    invalid_checksum = 3,     // a written file's CRC-32 differs from its record
    verification_failed = 4,  // the dry run over the payload failed
    interrupted = 5,          // the callback answered stop
    bzip2_failure = 6,        // the stored stream is not valid bzip2
    unexpected = 7,           // bytes past the last file, a short or malformed payload, no base folder
};

const std::error_category& compress_category() noexcept;

std::error_code make_error_code(compress_error value) noexcept;

// Thrown as std::system_error, so that its what() carries the category's message.
[[noreturn]] void throw_compress_error(compress_error value);

template <>
struct std::is_error_code_enum<compress_error> : std::true_type {};
