#include "support/extraction_recorder.hpp"

#include <algorithm>

namespace testing_support {

namespace {

struct to_event {
    extraction_event operator()(const notification::start&) const { return {.kind = start_event}; }
    extraction_event operator()(const notification::finished& n) const {
        return {.kind = finished_event, .done = n.done, .total = n.total};
    }
    extraction_event operator()(const notification::file_begins& n) const {
        return {.kind = file_begins_event, .target = n.file->target};
    }
    extraction_event operator()(const notification::file_done& n) const {
        return {.kind = file_done_event, .target = n.file->target};
    }
    extraction_event operator()(const notification::progress& n) const {
        return {.kind = progress_event, .done = n.done, .total = n.total};
    }
    extraction_event operator()(const notification::error& n) const {
        return {.kind = error_event, .code = n.code, .text = n.text};
    }
};

} // namespace

extraction_callback extraction_recorder::callback() {
    return [this](notification n) {
        events_.push_back(std::visit(to_event{}, static_cast<const notification::variant&>(n)));
        return answer ? answer(events_.back()) : notification::result::proceed;
    };
}

std::size_t extraction_recorder::count(std::size_t kind) const {
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), [&](const auto& e) { return e.kind == kind; }));
}

const extraction_event* extraction_recorder::last_error() const {
    const auto found = std::find_if(events_.rbegin(), events_.rend(), [](const auto& e) { return e.kind == error_event; });
    return found == events_.rend() ? nullptr : &*found;
}

std::vector<std::wstring> extraction_recorder::targets(std::size_t kind) const {
    std::vector<std::wstring> result;
    for (const auto& e : events_) {
        if (e.kind == kind)
            result.push_back(e.target);
    }
    return result;
}

} // namespace testing_support
