// Records what an extraction tells its callback and answers as the test wishes.
#pragma once

#include "installer/payload/notification.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// One notification, with the record's target copied out (the record dies with the extractor).
struct extraction_event {
    std::size_t kind = 0;  // the notification's index
    std::wstring target{};
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::error_code code{};
    std::wstring text{};
};

class extraction_recorder {
public:
    // Decides the answer to each event; proceed when unset.
    std::function<notification::result(const extraction_event&)> answer;

    extraction_callback callback();

    const std::vector<extraction_event>& events() const noexcept { return events_; }
    std::size_t count(std::size_t kind) const;
    const extraction_event* last_error() const;
    std::vector<std::wstring> targets(std::size_t kind) const;

private:
    std::vector<extraction_event> events_;
};

inline constexpr std::size_t start_event = 0;
inline constexpr std::size_t finished_event = 1;
inline constexpr std::size_t file_begins_event = 2;
inline constexpr std::size_t file_done_event = 3;
inline constexpr std::size_t progress_event = 4;
inline constexpr std::size_t error_event = 5;

} // namespace testing_support
