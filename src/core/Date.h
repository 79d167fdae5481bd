#pragma once

namespace quillby {

// A point in time: seconds since 1970-01-01 00:00:00 UTC. A double, so that a value that is
// "not finite" can be represented and rejected where the data rules say so.
using Date = double;

// A span of time in seconds.
using TimeInterval = double;

// Seconds from 1970-01-01 to 2001-01-01 00:00:00 UTC; saved-history JSON counts from the latter.
inline constexpr double kReferenceDateOffset = 978307200.0;

inline constexpr double secondsSinceReferenceDate(Date date) { return date - kReferenceDateOffset; }
inline constexpr Date dateFromReferenceSeconds(double seconds) { return seconds + kReferenceDateOffset; }

} // namespace quillby
