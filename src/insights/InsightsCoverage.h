#pragma once

#include "core/GlucoseReading.h"
#include "insights/DateInterval.h"
#include "insights/LocalCalendar.h"

#include <span>
#include <vector>

namespace quillby {

// Covered seconds of one local calendar day, clipped to the measured interval.
struct InsightsDayCoverage {
    DateInterval interval;
    TimeInterval coveredDuration = 0;

    bool operator==(const InsightsDayCoverage &) const = default;
};

// Covered and total seconds of one hour of the day, summed over all days of the interval.
struct InsightsHourCoverage {
    int hour = 0;   // 0...23
    TimeInterval coveredDuration = 0;
    TimeInterval totalDuration = 0;

    bool operator==(const InsightsHourCoverage &) const = default;
};

// How much of an interval the readings observe.
struct InsightsCoverage {
    TimeInterval coveredDuration = 0;   // seconds covered by at least one reading
    TimeInterval totalDuration = 0;     // the interval's length
    std::vector<InsightsDayCoverage> days;    // one per local day the interval touches
    std::vector<InsightsHourCoverage> hours;  // exactly 24, hour 0...23
    bool hasMissingNightWarning = false;

    // coveredDuration / totalDuration, or 0 when the total is not above 0. The exact share:
    // texts and gates derive from it without rounding it first.
    double fraction() const;

    bool operator==(const InsightsCoverage &) const = default;
};

// Coverage of `interval` by `readings` (any order, unclean); days and hours are those of
// `calendar`. The saved-history store measures the latest three days with it.
InsightsCoverage insightsCoverage(const GlucoseReadings &readings, const DateInterval &interval,
                                  const LocalCalendar &calendar);

// Sorted, disjoint, non-touching spans inside the interval that the readings (clean and sorted)
// cover. A reading dated just before the interval covers its beginning.
std::vector<DateInterval> coveredIntervals(const GlucoseReadings &sortedReadings, const DateInterval &interval);

// The local days that the interval touches, each clipped to it, in order; empty when the
// interval's start is not earlier than its end.
std::vector<DateInterval> dayIntervals(const DateInterval &interval, const LocalCalendar &calendar);

// Covered seconds of `covered` (sorted, disjoint) inside `within`.
TimeInterval coveredDuration(std::span<const DateInterval> covered, const DateInterval &within);

// The 24 hour-of-day rows over the given day intervals. A repeated hour at a daylight-saving
// change adds twice to its hour; a skipped hour adds nothing that day.
std::vector<InsightsHourCoverage> hourCoverage(std::span<const DateInterval> days,
                                               std::span<const DateInterval> covered,
                                               const LocalCalendar &calendar);

// True when at least three nights (local midnight to 06:00, counted only when wholly inside the
// interval) are covered below 70 % and they make up at least half of the counted nights.
bool hasMissingNightCoverage(std::span<const DateInterval> days, const DateInterval &interval,
                             std::span<const DateInterval> covered, const LocalCalendar &calendar);

} // namespace quillby
