// Damaged copies of a stored payload, each with the outcome that an installation of it must
// give: bit flips and truncations of the stored bzip2 stream, bytes after it, forged header
// fields and file or folder names that Windows does not keep as given. The outcome of a
// damaged stored stream comes from decoding it with libbzip2 here, not from the installer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The compress code a case must end with: verification_failed (4) for a stored stream that
// does not decode, unexpected (7) for a header or a stream that breaks the layout,
// invalid_checksum (3) for a file whose bytes do not match its record.
struct damaged_payload_case {
    std::string name;
    std::string stored;
    // Nothing when the damage still decodes to the payload as built: the installation may
    // then succeed. any_compress_code when the decoded bytes differ in a way this file does
    // not foresee.
    std::optional<int> code;
};

inline constexpr int any_compress_code = -1;

// At least 500 cases, the same ones for the same stored payload. Damage to the file sizes
// and checksums is made only on records that an installation over a previous one writes
// (not on shared files, which it may skip).
std::vector<damaged_payload_case> damaged_payloads(const std::string& stored);

// The bytes of the bzip2 streams in stored, one after another, as a bzip2 reader gives them;
// nothing when a stream is damaged or cut short, when bytes follow that begin no stream, or
// when there is no stream at all.
std::optional<std::string> decode_streams(const std::string& stored);

} // namespace testing_support
