#pragma once

#include "insights/TimeWeighting.h"

#include <array>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillby {

// The five fixed glucose ranges, in display order.
enum class InsightsBand { veryLow, low, inRange, high, veryHigh };

inline constexpr std::size_t kInsightsBandCount = 5;

constexpr std::array<InsightsBand, kInsightsBandCount> allInsightsBands()
{
    return {InsightsBand::veryLow, InsightsBand::low, InsightsBand::inRange, InsightsBand::high,
            InsightsBand::veryHigh};
}

// "veryLow", "low", "inRange", "high", "veryHigh".
std::string rawValue(InsightsBand band);
std::optional<InsightsBand> insightsBandFromRaw(const std::string &raw);

// The range of a mg/dL value: below 54, below 70, 70...180 (both included), up to 250 (included),
// above 250.
inline InsightsBand insightsBand(double mgdL)
{
    if (mgdL < 54) return InsightsBand::veryLow;
    if (mgdL < 70) return InsightsBand::low;
    if (mgdL <= 180) return InsightsBand::inRange;
    if (mgdL <= 250) return InsightsBand::high;
    return InsightsBand::veryHigh;
}

// One row of time in ranges.
struct InsightsBandSummary {
    InsightsBand band = InsightsBand::inRange;
    int count = 0;          // weighted readings whose value falls in the range
    double fraction = 0;    // the range's share of the total weighted time, 0...1

    bool operator==(const InsightsBandSummary &) const = default;
};

// The readings of each range, in input order; a range without readings has no entry.
std::map<InsightsBand, InsightsWeightedReadings> groupedByBand(std::span<const InsightsWeightedReading> readings);

// Exactly five rows in band order. Fractions are shares of the weighted time (not of the report
// interval), so they add up to 1 whenever any reading is weighted and are all 0 otherwise.
std::vector<InsightsBandSummary> bandSummaries(std::span<const InsightsWeightedReading> readings);

} // namespace quillby
