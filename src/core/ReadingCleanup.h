#pragma once

#include "core/GlucoseReading.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace quillby {

// The cleaned reading list that saved history and Insights share: only finite, positive values
// with finite dates; one reading per exact timestamp (the later one in the input); sorted oldest
// first; a reading no more than 30 s after the last kept one with the same value and trend
// text is dropped.
GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings);

// The same clean-up as indices into `readings`, in date order.
std::vector<std::uint32_t> normalizedReadingIndices(const GlucoseReadings &readings);

// The same clean-up as calls: keep(index) for each kept reading, in date order. Input whose usable
// readings are already in date order (saved history always is) is cleaned in one pass that reads
// each reading once and builds no list; a caller that copies what it needs out of each kept
// reading then never comes back to the readings. When a usable reading turns out to be dated
// before the one before it, discard() is called and keep() starts again with the readings sorted.
template <class Keep, class Discard>
void forEachNormalizedReading(const GlucoseReadings &readings, Keep &&keep, Discard &&discard);

namespace reading_cleanup_detail {

inline bool isCleanCandidate(const GlucoseReading &reading)
{
    // Finite and positive, finite: as plain comparisons (NaN fails each), which cost the walk
    // over every reading less than taking the numbers' bits apart.
    constexpr double infinity = std::numeric_limits<double>::infinity();
    return reading.mgdL > 0 && reading.mgdL < infinity && std::fabs(reading.date) < infinity;
}

// Whether `candidate` repeats `last` (the last kept reading) within 30 s: same value, same trend.
inline bool repeats(const GlucoseReading &last, const GlucoseReading &candidate)
{
    return candidate.date - last.date <= 30.0 && candidate.mgdL == last.mgdL &&
           candidate.trendString == last.trendString;
}

// The clean-up in one pass, for input whose usable readings are already in date order: calls
// keep(index) for each surviving reading, in order. Returns false when a usable reading is dated
// before the one before it; what was kept until then is to be thrown away.
template <class Keep>
bool cleanSortedInOnePass(const GlucoseReadings &readings, Keep &&keep)
{
    // A run of equal dates yields its last reading (the pending one); each such reading is then
    // kept unless it repeats the last kept one.
    constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t pending = none;
    std::uint32_t lastKept = none;
    // The list's start and size in locals: keep() writes memory, which the compiler cannot tell
    // apart from the vector's own, and would otherwise read them again for every reading.
    const GlucoseReading *const data = readings.data();
    const std::size_t count = readings.size();
    // Inlined: a call per reading would send the caller's running state to memory.
    const auto settle = [&](std::uint32_t index) __attribute__((always_inline)) {
        if (lastKept != none && repeats(data[lastKept], data[index])) {
            return;
        }
        lastKept = index;
        keep(index);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const GlucoseReading &reading = data[i];
        if (!isCleanCandidate(reading)) {
            continue;
        }
        if (pending != none) {
            const Date previous = data[pending].date;
            if (reading.date < previous) {
                return false;
            }
            if (previous != reading.date) {
                settle(pending);
            }
        }
        pending = static_cast<std::uint32_t>(i);
    }
    if (pending != none) {
        settle(pending);
    }
    return true;
}

// The clean-up for any order: sort, one reading per date, drop repeats.
std::vector<std::uint32_t> cleanAnyOrder(const GlucoseReadings &readings);

} // namespace reading_cleanup_detail

template <class Keep, class Discard>
void forEachNormalizedReading(const GlucoseReadings &readings, Keep &&keep, Discard &&discard)
{
    if (reading_cleanup_detail::cleanSortedInOnePass(readings, keep)) {
        return;
    }
    discard();
    for (const std::uint32_t index : reading_cleanup_detail::cleanAnyOrder(readings)) {
        keep(index);
    }
}

} // namespace quillby
