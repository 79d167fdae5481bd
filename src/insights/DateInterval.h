#pragma once

#include "core/Date.h"

namespace quillby {

// A span of time from `start` to `end`. Nothing enforces end >= start: every consumer treats a
// span whose start is not earlier than its end (or that holds a NaN) as empty.
struct DateInterval {
    Date start = 0;
    Date end = 0;

    DateInterval() = default;
    constexpr DateInterval(Date start, Date end) : start(start), end(end) {}

    constexpr TimeInterval duration() const { return end - start; }
    bool operator==(const DateInterval &) const = default;
};

} // namespace quillby
