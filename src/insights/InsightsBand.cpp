#include "insights/InsightsBand.h"

#include "insights/InsightsStatisticsImpl.h"

namespace quillby {

std::string rawValue(InsightsBand band)
{
    switch (band) {
    case InsightsBand::veryLow: return "veryLow";
    case InsightsBand::low: return "low";
    case InsightsBand::inRange: return "inRange";
    case InsightsBand::high: return "high";
    case InsightsBand::veryHigh: return "veryHigh";
    }
    return "inRange";
}

std::optional<InsightsBand> insightsBandFromRaw(const std::string &raw)
{
    for (const InsightsBand band : allInsightsBands()) {
        if (rawValue(band) == raw) {
            return band;
        }
    }
    return std::nullopt;
}

std::map<InsightsBand, InsightsWeightedReadings> groupedByBand(std::span<const InsightsWeightedReading> readings)
{
    std::map<InsightsBand, InsightsWeightedReadings> groups;
    for (const InsightsWeightedReading &r : readings) {
        groups[insightsBand(r.reading.mgdL)].push_back(r);
    }
    return groups;
}

std::vector<InsightsBandSummary> bandSummaries(std::span<const InsightsWeightedReading> readings)
{
    return insights_detail::bandSummariesOf(readings);
}

} // namespace quillby
