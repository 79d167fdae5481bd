#include "core/ReadingCleanup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillby {

namespace {

bool isCleanCandidate(const GlucoseReading &reading)
{
    return std::isfinite(reading.mgdL) && reading.mgdL > 0 && std::isfinite(reading.date);
}

// Whether `candidate` repeats `last` (the last kept reading) within 30 s: same value, same trend.
bool repeats(const GlucoseReading &last, const GlucoseReading &candidate)
{
    return candidate.date - last.date <= 30.0 && candidate.mgdL == last.mgdL &&
           candidate.trendString == last.trendString;
}

// The clean-up in one pass, for input whose usable readings are already in date order (saved
// history always is): calls keep(index) for each surviving reading, in order. Returns false when
// a usable reading is dated before the one before it; what was kept until then is to be thrown
// away.
template <class Keep>
bool cleanSortedInOnePass(const GlucoseReadings &readings, Keep &&keep)
{
    // A run of equal dates yields its last reading (the pending one); each such reading is then
    // kept unless it repeats the last kept one.
    constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t pending = none;
    std::uint32_t lastKept = none;
    const auto settle = [&](std::uint32_t index) {
        if (lastKept != none && repeats(readings[lastKept], readings[index])) {
            return;
        }
        lastKept = index;
        keep(index);
    };
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const GlucoseReading &reading = readings[i];
        if (!isCleanCandidate(reading)) {
            continue;
        }
        if (pending != none) {
            const Date previous = readings[pending].date;
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
std::vector<std::uint32_t> cleanAnyOrder(const GlucoseReadings &readings)
{
    std::vector<std::uint32_t> order;
    order.reserve(readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (isCleanCandidate(readings[i])) {
            order.push_back(static_cast<std::uint32_t>(i));
        }
    }

    // Equal dates keep their input order, so the last of a run of equal dates is the one that
    // came later in the input.
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
        if (kept > 0 && repeats(readings[order[kept - 1]], readings[order[i]])) {
            continue;
        }
        order[kept++] = order[i];
    }
    order.resize(kept);
    return order;
}

} // namespace

std::vector<std::uint32_t> normalizedReadingIndices(const GlucoseReadings &readings)
{
    std::vector<std::uint32_t> order;
    order.reserve(readings.size());
    if (cleanSortedInOnePass(readings, [&](std::uint32_t index) { order.push_back(index); })) {
        return order;
    }
    return cleanAnyOrder(readings);   // not in date order
}

GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings)
{
    const std::vector<std::uint32_t> indices = normalizedReadingIndices(readings);
    GlucoseReadings result;
    result.reserve(indices.size());
    for (const std::uint32_t index : indices) {
        result.push_back(readings[index]);
    }
    return result;
}

} // namespace quillby
