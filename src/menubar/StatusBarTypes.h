#pragma once

#include "core/Date.h"

namespace quillby {

// The icon shown instead of a title while no reading can be shown: the first reading is
// still on its way (waiting) or a refresh or error ended without one (attention).
enum class StatusBarIconState { waiting, attention };

// The colour style decided for a fresh reading.
enum class StatusStyle { normal, low, high };

// The small badge on the status item: a pending warning or an available update.
enum class StatusIndicator { none, warning, updateAvailable };

// How current a reading is: fresh under 15 minutes, stale under an hour, unavailable after.
enum class Freshness { fresh, stale, unavailable };

inline constexpr double kFreshReadingSeconds = 900;
inline constexpr double kStaleReadingSeconds = 3600;

// Age of a reading dated `date` at `now`, never below 0.
inline double readingAge(Date date, Date now)
{
    const double age = now - date;
    return age > 0 ? age : 0;
}

inline Freshness freshnessForAge(double age)
{
    if (age < kFreshReadingSeconds) {
        return Freshness::fresh;
    }
    return age < kStaleReadingSeconds ? Freshness::stale : Freshness::unavailable;
}

} // namespace quillby
