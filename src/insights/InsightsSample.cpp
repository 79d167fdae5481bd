#include "insights/InsightsSample.h"

#include "core/ReadingCleanup.h"

#include <cmath>
#include <limits>

namespace quillby::insights_detail {

double boundedSampleDuration(double seconds)
{
    // Finite and positive as plain comparisons (NaN fails both).
    if (seconds > 0 && seconds < std::numeric_limits<double>::infinity()) {
        return std::min(seconds, 900.0);
    }
    return 60;
}

std::vector<Sample> cleanedSamples(const GlucoseReadings &readings, FixedCadenceRule fixedCadence)
{
    std::vector<Sample> samples;
    samples.reserve(readings.size());
    FixedCadenceBySource onFixedCadence(fixedCadence);
    forEachNormalizedReading(
        readings,
        [&](std::uint32_t index) {
            const GlucoseReading &reading = readings[index];
            samples.emplace_back(reading.date, reading.mgdL, boundedSampleDuration(reading.sampleDuration),
                                 onFixedCadence(reading));
        },
        [&] { samples.clear(); });
    return samples;
}

std::vector<Sample> cleanedSamples(const GlucoseReadings &readings, FixedCadenceRule fixedCadence, Date from,
                                   Date to)
{
    if (!(std::isfinite(from) && std::isfinite(to) && from <= to)) {
        return cleanedSamples(readings, fixedCadence);
    }
    // Readings before `from` are cleaned (which of them survive decides what comes after) but
    // only the last survivor is kept; after `to` only the first.
    constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
    FixedCadenceBySource onFixedCadence(fixedCadence);
    std::vector<Sample> samples;
    samples.reserve(readings.size());   // never more; growing would copy the list several times
    std::uint32_t before = none;
    bool after = false;
    const auto emit = [&](std::uint32_t index) {
        const GlucoseReading &reading = readings[index];
        samples.emplace_back(reading.date, reading.mgdL, boundedSampleDuration(reading.sampleDuration),
                             onFixedCadence(reading));
    };
    // The first reading at or after `from` after one before it, and readings at or after `to`.
    const auto keepAtEdge = [&](std::uint32_t index) __attribute__((noinline)) {
        const Date date = readings[index].date;
        if (before != none) {
            emit(before);
            before = none;
        }
        if (date >= to) {
            if (!after) {
                emit(index);
                after = true;
            }
            return;
        }
        emit(index);
    };
    const GlucoseReading *const data = readings.data();   // read once (see cleanSortedInOnePass)
    forEachNormalizedReading(
        readings,
        [&](std::uint32_t index) __attribute__((always_inline)) {
            const GlucoseReading &reading = data[index];
            if (reading.date < from) {
                before = index;
                return;
            }
            if (reading.date < to && before == none) [[likely]] {
                samples.emplace_back(reading.date, reading.mgdL, boundedSampleDuration(reading.sampleDuration),
                                     onFixedCadence(reading));
                return;
            }
            keepAtEdge(index);
        },
        [&] {
            samples.clear();
            before = none;
            after = false;
        });
    if (before != none) {
        emit(before);
    }
    return samples;
}

} // namespace quillby::insights_detail
