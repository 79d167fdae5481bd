#pragma once

#include "insights/LocalCalendar.h"
#include "insights/ReadingCadence.h"
#include "insights/TimeWeighting.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillby {

// The five weighted percentiles of one quarter hour, mg/dL.
struct InsightsAGPPercentiles {
    double p5Mgdl = 0;
    double p25Mgdl = 0;
    double medianMgdl = 0;
    double p75Mgdl = 0;
    double p95Mgdl = 0;

    bool operator==(const InsightsAGPPercentiles &) const = default;
};

// One quarter hour of the local day.
struct InsightsAGPBin {
    int startMinute = 0;      // 0, 15, ... 1425 after local midnight
    int readingCount = 0;     // reading pieces in the bin
    int dayCount = 0;         // distinct local days among them
    std::optional<InsightsAGPPercentiles> percentiles;   // only with at least 3 days

    bool operator==(const InsightsAGPBin &) const = default;
};

inline constexpr int kInsightsAGPBinCount = 96;
inline constexpr int kInsightsAGPMinimumDays = 3;

// One part of a weighted reading that falls inside one quarter hour, with the instant it starts.
struct InsightsAGPPiece {
    InsightsWeightedReading reading;   // duration = the part's length
    Date start = 0;

    bool operator==(const InsightsAGPPiece &) const = default;
};

// The ambulatory glucose profile: every day of the period folded onto one local day.
struct InsightsAGP {
    std::vector<InsightsAGPBin> bins;   // exactly 96, by startMinute
    int contributingDayCount = 0;       // distinct local days with at least one piece
    std::string timeZoneIdentifier;     // the zone the clock times refer to

    // The profile of the report's weighted readings in the report's calendar; `fixedCadence`
    // tells which readings are on a fixed cadence.
    static InsightsAGP build(std::span<const InsightsWeightedReading> weightedReadings, const LocalCalendar &calendar,
                             FixedCadenceRule fixedCadence);

    bool operator==(const InsightsAGP &) const = default;
};

// Cuts a weighted reading (from its date, for its weighted duration) at local quarter-hour
// boundaries; the pieces come in time order.
std::vector<InsightsAGPPiece> quarterHourSlices(const InsightsWeightedReading &reading, const LocalCalendar &calendar);

} // namespace quillby
