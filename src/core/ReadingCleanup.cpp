#include "core/ReadingCleanup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillby {

namespace reading_cleanup_detail {

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

} // namespace reading_cleanup_detail

std::vector<std::uint32_t> normalizedReadingIndices(const GlucoseReadings &readings)
{
    std::vector<std::uint32_t> order;
    order.reserve(readings.size());
    if (reading_cleanup_detail::cleanSortedInOnePass(readings, [&](std::uint32_t index) { order.push_back(index); })) {
        return order;
    }
    return reading_cleanup_detail::cleanAnyOrder(readings);   // not in date order
}

GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings)
{
    GlucoseReadings result;
    result.reserve(readings.size());
    forEachNormalizedReading(
        readings, [&](std::uint32_t index) { result.push_back(readings[index]); }, [&] { result.clear(); });
    return result;
}

} // namespace quillby
