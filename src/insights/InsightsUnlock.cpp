#include "insights/InsightsCollectionProgress.h"

#include <algorithm>
#include <cmath>

namespace quillby {

bool insightsMinimumDatasetReached(const GlucoseReadings &readings, std::optional<Date> collectionStartedAt, Date now)
{
    // The collection-time gate needs no readings: test it first.
    if (!collectionStartedAt || !std::isfinite(*collectionStartedAt) ||
        !(now - *collectionStartedAt >= kInsightsRequiredCollectionDuration)) {
        return false;
    }
    // Saved readings are clean and ascending, so any suffix of them is clean too; readings ending
    // more than an hour before the window (a reading stands for at most 900 s) cannot cover it.
    const Date windowStart = now - kInsightsCollectionWindow;
    const bool ascending = std::is_sorted(readings.begin(), readings.end(),
                                          [](const GlucoseReading &a, const GlucoseReading &b) { return a.date < b.date; });
    if (!ascending) {
        return insightsCollectionProgress(readings, now, collectionStartedAt).meetsReadinessGates();
    }
    const auto first = std::lower_bound(readings.begin(), readings.end(), windowStart - 3600,
                                        [](const GlucoseReading &reading, Date date) { return reading.date < date; });
    const GlucoseReadings window(first, readings.end());
    return insightsCollectionProgress(window, now, collectionStartedAt).meetsReadinessGates();
}

} // namespace quillby
