#include "insights/InsightsCollectionProgress.h"

#include "insights/InsightsCalculationImpl.h"
#include "insights/InsightsCoverageImpl.h"
#include "insights/InsightsPercent.h"

#include <algorithm>
#include <cmath>

namespace quillby {

bool InsightsCollectionProgress::meetsReadinessGates() const
{
    return hasReadings && collectionDuration >= kInsightsRequiredCollectionDuration &&
           coverageFraction >= kInsightsRequiredCoverageFraction;
}

double InsightsCollectionProgress::progressFraction() const
{
    if (!hasReadings) {
        return 0;
    }
    const auto unit = [](double share) { return std::isnan(share) ? 0.0 : std::clamp(share, 0.0, 1.0); };
    return std::min(unit(collectionDuration / kInsightsRequiredCollectionDuration),
                    unit(coverageFraction / kInsightsRequiredCoverageFraction));
}

double InsightsCollectionProgress::collectedShare() const
{
    if (!hasReadings) {
        return 0;
    }
    if (meetsReadinessGates()) {
        return 1;
    }
    return std::min(roundedDown(progressFraction(), 100), 0.99);
}

double InsightsCollectionProgress::roundedDownCoverageFraction() const
{
    return roundedDown(coverageFraction, 1000);
}

double InsightsCollectionProgress::roundedDownCollectionDays() const
{
    return std::min(roundedDown(collectionDuration / 86400, 10), 3.0);
}

namespace insights_detail {

InsightsCollectionProgress progressOfSamples(std::span<const Sample> sorted, Date end,
                                             std::optional<Date> collectionStartedAt)
{
    InsightsCollectionProgress progress;
    progress.interval = DateInterval(end - kInsightsCollectionWindow, end);
    if (const auto start = recordedCollectionStart(collectionStartedAt)) {
        progress.collectionDuration = std::max(0.0, end - *start);
    }
    // Only the covered share of the window is reported, so its days and hours are not measured.
    TimeInterval covered = 0;
    for (const DateInterval &span : coveredIntervalsOfSamples(sorted, progress.interval)) {
        covered += span.duration();
    }
    const TimeInterval total = progress.interval.duration();
    progress.coverageFraction = total > 0 ? covered / total : 0.0;
    progress.hasReadings = lowerBound(sorted, progress.interval.start) < lowerBound(sorted, end);
    return progress;
}

} // namespace insights_detail

InsightsCollectionProgress insightsCollectionProgress(const GlucoseReadings &readings, Date end,
                                                      std::optional<Date> collectionStartedAt)
{
    const std::vector<insights_detail::Sample> samples = insights_detail::cleanedSamples(readings, nullptr);   // no quantiles here
    return insights_detail::progressOfSamples(samples, end, collectionStartedAt);
}

} // namespace quillby
