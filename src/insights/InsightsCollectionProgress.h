#pragma once

#include "core/GlucoseReading.h"
#include "insights/DateInterval.h"

#include <optional>

namespace quillby {

// The readiness gates of the first collection: 3 days collected and 70 % of the latest three
// days covered (both inclusive), with at least one reading in those days.
inline constexpr TimeInterval kInsightsCollectionWindow = 259200;       // 3 days
inline constexpr TimeInterval kInsightsRequiredCollectionDuration = 259200;
inline constexpr double kInsightsRequiredCoverageFraction = 0.7;

// How far the first collection has come, measured over the latest three days whatever the report
// period is. Only measurements: the readers apply the gates.
struct InsightsCollectionProgress {
    DateInterval interval;                  // [end - 3 days, end]
    TimeInterval collectionDuration = 0;    // from collection start to end, at least 0; 0 when none
    double coverageFraction = 0;            // covered share of the three-day window, 0...1
    bool hasReadings = false;               // a clean reading is dated in [start, end)

    // Readings present, collectionDuration >= 259200 s and coverageFraction >= 0.7.
    bool meetsReadinessGates() const;
    // The fill of a progress ring: 0 without readings, else the smaller of the collected share
    // of 3 days and the covered share of 70 %, each clamped to 0...1. It is 1 exactly when the
    // gates pass.
    double progressFraction() const;
    // The share to state as a whole percent: 0 without readings, 1 once the gates pass, else
    // progressFraction() rounded down to whole percent and capped at 0.99.
    double collectedShare() const;
    // coverageFraction rounded down to a tenth of a percent.
    double roundedDownCoverageFraction() const;
    // Days collected, rounded down to a tenth of a day and capped at 3.
    double roundedDownCollectionDays() const;

    bool operator==(const InsightsCollectionProgress &) const = default;
};

// The progress over [end - 3 days, end] of `readings` (any order, unclean): the saved-history
// store decides the unlock with it and the Insights calculation reports it. A collection start
// that is absent or not finite counts as not recorded. (The covered share of the window does not
// depend on the calendar, so none is taken.)
InsightsCollectionProgress insightsCollectionProgress(const GlucoseReadings &readings, Date end,
                                                      std::optional<Date> collectionStartedAt);

// Whether the latest three days show the minimum dataset for Insights: some cleaned reading in
// [now - 259200 s, now), collection running for at least 259200 s, and coverage of at least 0.7.
// The saved-history store records the unlock with it.
bool insightsMinimumDatasetReached(const GlucoseReadings &readings, std::optional<Date> collectionStartedAt, Date now);

} // namespace quillby
