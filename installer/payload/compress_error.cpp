#include "installer/payload/compress_error.hpp"

#include <string>

namespace {

class impl final : public std::error_category {
public:
    const char* name() const noexcept override { return "compress"; }

    std::string message(int value) const override {
        switch (static_cast<compress_error>(value)) {
        case compress_error::invalid_checksum: return "invalid checksum";
        case compress_error::interrupted: return "interrupted";
        case compress_error::bzip2_failure: return "bzip2 error";
        case compress_error::unexpected: return "unexpected error";
        case compress_error::verification_failed: break;  // no text of its own
        }
        return "unknown error";
    }
};

} // namespace

const std::error_category& compress_category() noexcept {
    static const impl instance;
    return instance;
}

std::error_code make_error_code(compress_error value) noexcept {
    return {static_cast<int>(value), compress_category()};
}

void throw_compress_error(compress_error value) {
    throw std::system_error(make_error_code(value));
}
