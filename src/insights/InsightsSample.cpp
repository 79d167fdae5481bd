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

} // namespace quillby::insights_detail
