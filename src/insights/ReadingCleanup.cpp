#include "insights/ReadingCleanup.h"

#include "insights/InsightsSample.h"

#include <algorithm>
#include <cmath>

namespace quillby {

namespace insights_detail {

std::vector<std::uint32_t> normalizedReadingIndices(const GlucoseReadings &readings)
{
    std::vector<std::uint32_t> order;
    order.reserve(readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const GlucoseReading &reading = readings[i];
        if (std::isfinite(reading.mgdL) && reading.mgdL > 0 && std::isfinite(reading.date)) {
            order.push_back(static_cast<std::uint32_t>(i));
        }
    }

    // Saved history arrives sorted; only sort when it is not. Equal dates keep their input order,
    // so the last of a run of equal dates is the one that came later in the input.
    const auto earlier = [&](std::uint32_t a, std::uint32_t b) {
        return readings[a].date < readings[b].date || (readings[a].date == readings[b].date && a < b);
    };
    if (!std::is_sorted(order.begin(), order.end(), earlier)) {
        std::sort(order.begin(), order.end(), earlier);
    }

    // One reading per exact date: the later one in the input replaces the earlier, whole.
    std::size_t unique = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (unique > 0 && readings[order[unique - 1]].date == readings[order[i]].date) {
            order[unique - 1] = order[i];
        } else {
            order[unique++] = order[i];
        }
    }
    order.resize(unique);

    // Drop a reading that repeats the last kept one within 30 s (same value, same trend text).
    std::size_t kept = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (kept > 0) {
            const GlucoseReading &last = readings[order[kept - 1]];
            const GlucoseReading &candidate = readings[order[i]];
            if (candidate.date - last.date <= 30.0 && candidate.mgdL == last.mgdL &&
                candidate.trendString == last.trendString) {
                continue;
            }
        }
        order[kept++] = order[i];
    }
    order.resize(kept);
    return order;
}

double boundedSampleDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0) {
        return 60;
    }
    return std::min(seconds, 900.0);
}

std::vector<Sample> cleanedSamples(const GlucoseReadings &readings)
{
    const std::vector<std::uint32_t> indices = normalizedReadingIndices(readings);
    std::vector<Sample> samples;
    samples.reserve(indices.size());
    for (const std::uint32_t index : indices) {
        const GlucoseReading &reading = readings[index];
        samples.push_back(Sample{reading.date, reading.mgdL, boundedSampleDuration(reading.sampleDuration),
                                 reading.source});
    }
    return samples;
}

} // namespace insights_detail

GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings)
{
    const std::vector<std::uint32_t> indices = insights_detail::normalizedReadingIndices(readings);
    GlucoseReadings result;
    result.reserve(indices.size());
    for (const std::uint32_t index : indices) {
        result.push_back(readings[index]);
    }
    return result;
}

} // namespace quillby
