#include "insights/TimeWeighting.h"

#include "insights/InsightsSample.h"

namespace quillby {

namespace insights_detail {

std::size_t lowerBound(std::span<const Sample> sorted, Date date)
{
    return static_cast<std::size_t>(
        std::lower_bound(sorted.begin(), sorted.end(), date, [](const Sample &s, Date d) { return s.date < d; }) -
        sorted.begin());
}

std::size_t firstWeightedIndex(std::span<const Sample> sorted, Date intervalStart)
{
    const std::size_t index = lowerBound(sorted, intervalStart);
    return index > 0 ? index - 1 : 0;
}

std::vector<WeightedSample> weightSamples(std::span<const Sample> sorted, const DateInterval &interval)
{
    std::vector<WeightedSample> result;
    const std::size_t first = firstWeightedIndex(sorted, interval.start);
    const std::size_t last = lowerBound(sorted, interval.end);
    // One reading past the end still bounds the one before it.
    const std::span<const Sample> relevant = sorted.subspan(0, std::min(sorted.size(), last + 1));
    result.reserve(relevant.size() - std::min(relevant.size(), first));
    forEachWeight(relevant, interval, first, [&](std::size_t i, Date start, TimeInterval duration) {
        const Sample &s = relevant[i];
        result.push_back(WeightedSample{s.date, start, s.mgdL, duration, s.fixedCadence()});
    });
    return result;
}

} // namespace insights_detail

InsightsWeightedReadings weightedReadings(const GlucoseReadings &readings, const DateInterval &interval)
{
    InsightsWeightedReadings result;
    insights_detail::forEachWeight(std::span<const GlucoseReading>(readings), interval, 0,
                  [&](std::size_t i, Date, TimeInterval duration) {
                      result.push_back(InsightsWeightedReading{readings[i], duration});
                  });
    return result;
}

} // namespace quillby
