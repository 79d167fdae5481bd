#pragma once

#include "core/GlucoseReading.h"
#include "insights/DateInterval.h"

#include <vector>

namespace quillby {

// One reading with the seconds of a report interval that it stands for. `reading.date` stays the
// sample time even when the weighted span was clipped to the interval's start.
struct InsightsWeightedReading {
    GlucoseReading reading;
    TimeInterval duration = 0;   // always greater than 0

    bool operator==(const InsightsWeightedReading &) const = default;
};

using InsightsWeightedReadings = std::vector<InsightsWeightedReading>;

// Gives every reading that covers part of `interval` its weight, in input order. `readings` must
// be sorted ascending by date (the output of normalizedGlucoseReadings). A reading covers from its
// date (clipped to the interval's start) to the earliest of its date plus its sample duration,
// the next reading's date and the interval's end. Weights never overlap.
InsightsWeightedReadings weightedReadings(const GlucoseReadings &readings, const DateInterval &interval);

} // namespace quillby
