#include "insights/InsightsSample.h"

#include "core/ReadingCleanup.h"

#include <cmath>

namespace quillby::insights_detail {

double boundedSampleDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0) {
        return 60;
    }
    return std::min(seconds, 900.0);
}

std::vector<Sample> cleanedSamples(const GlucoseReadings &readings)
{
    std::vector<Sample> samples;
    samples.reserve(readings.size());
    forEachNormalizedReading(
        readings,
        [&](std::uint32_t index) {
            const GlucoseReading &reading = readings[index];
            samples.emplace_back(reading.date, reading.mgdL, boundedSampleDuration(reading.sampleDuration),
                                 reading.source);
        },
        [&] { samples.clear(); });
    return samples;
}

} // namespace quillby::insights_detail
