#include "insights/WeightedStatistics.h"

#include "insights/InsightsStatisticsImpl.h"

#include <cmath>

namespace quillby {

namespace insights_detail {

double percentileOfSorted(std::span<const double> sorted, double fraction)
{
    const double h = clampedFraction(fraction) * static_cast<double>(sorted.size() - 1);
    const double lo = std::floor(h);
    const double hi = std::ceil(h);
    const double low = sorted[static_cast<std::size_t>(lo)];
    const double high = sorted[static_cast<std::size_t>(hi)];
    return low + (h - lo) * (high - low);
}

} // namespace insights_detail

std::optional<double> percentile(std::span<const double> sortedValues, double fraction)
{
    if (sortedValues.empty()) {
        return std::nullopt;
    }
    return insights_detail::percentileOfSorted(sortedValues, fraction);
}

namespace {

auto fixedCadenceOf(FixedCadenceRule rule)
{
    return [rule](const InsightsWeightedReading &r) { return isOnFixedCadence(rule, r.reading); };
}

} // namespace

std::optional<double> weightedQuantile(std::span<const InsightsWeightedReading> readings, double fraction,
                                       FixedCadenceRule fixedCadence)
{
    std::optional<double> result;
    insights_detail::weightedQuantilesInto(readings, std::span<const double>(&fraction, 1),
                                           std::span<std::optional<double>>(&result, 1), fixedCadenceOf(fixedCadence));
    return result;
}

std::vector<std::optional<double>> weightedQuantiles(std::span<const InsightsWeightedReading> readings,
                                                     std::span<const double> fractions, FixedCadenceRule fixedCadence)
{
    std::vector<std::optional<double>> results(fractions.size());
    insights_detail::weightedQuantilesInto(readings, fractions, std::span<std::optional<double>>(results),
                                           fixedCadenceOf(fixedCadence));
    return results;
}

std::optional<double> weightedMean(std::span<const InsightsWeightedReading> readings)
{
    return insights_detail::weightedMeanOf(readings);
}

std::optional<double> weightedStandardDeviation(std::span<const InsightsWeightedReading> readings,
                                                std::optional<double> mean)
{
    return insights_detail::weightedStandardDeviationOf(readings, mean);
}

} // namespace quillby
