// What the payload extractor tells its caller, and what the caller answers.
#pragma once

#include "installer/payload/payload_file.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <variant>

namespace notifications {

struct start {};

struct finished {
    std::uint64_t done = 0;   // bytes read from the stored, compressed stream
    std::uint64_t total = 0;  // the inflated payload's size
};

struct file_begins {
    const payload_file* file = nullptr;  // about to be written
};

struct file_done {
    const payload_file* file = nullptr;  // written and verified
};

struct progress {
    std::uint64_t done = 0;   // inflated bytes consumed so far
    std::uint64_t total = 0;  // the inflated payload's size
};

struct error {
    std::error_code code;
    std::wstring text;
};

} // namespace notifications

// The index of the alternative is what a callback dispatches on.
struct notification
    : std::variant<notifications::start, notifications::finished, notifications::file_begins,
                   notifications::file_done, notifications::progress, notifications::error> {
    using variant::variant;

    using start = notifications::start;
    using finished = notifications::finished;
    using file_begins = notifications::file_begins;
    using file_done = notifications::file_done;
    using progress = notifications::progress;
    using error = notifications::error;

    // skip means something only as the answer to file_begins; elsewhere it is proceed.
    enum class result { proceed = 0, stop = 1, skip = 2 };
};

using extraction_callback = std::function<notification::result(notification)>;
