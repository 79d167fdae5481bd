#pragma once

#include "insights/ReadingCadence.h"
#include "insights/TimeWeighting.h"

#include <optional>
#include <span>
#include <vector>

namespace quillby {

// Statistics over time-weighted readings: every reading counts with the seconds it stands for.
// Values are mg/dL.

// The value at `fraction` of the weighted time; nothing for an empty list. When every reading is
// on a fixed cadence (as `fixedCadence` tells) and all weigh the same (within 1 µs), this is the
// plain type-7 percentile of the values; otherwise it interpolates between the midpoints of each
// distinct value's share of time. A fraction outside 0...1 is clamped into it, NaN counts as 0.
std::optional<double> weightedQuantile(std::span<const InsightsWeightedReading> readings, double fraction,
                                       FixedCadenceRule fixedCadence);

// Several fractions of the same readings at once (the readings are sorted once); each result is
// exactly what weightedQuantile gives for that fraction.
std::vector<std::optional<double>> weightedQuantiles(std::span<const InsightsWeightedReading> readings,
                                                     std::span<const double> fractions, FixedCadenceRule fixedCadence);

// Type-7 sample quantile of values sorted ascending: linear interpolation between the closest
// ranks. Nothing for an empty list. A fraction outside 0...1 is clamped into it, NaN counts as 0.
std::optional<double> percentile(std::span<const double> sortedValues, double fraction);

// Time-weighted mean; nothing when the list is empty or its total weight is not above 0.
std::optional<double> weightedMean(std::span<const InsightsWeightedReading> readings);

// Time-weighted population standard deviation around `mean`; nothing when the list is empty,
// the mean is absent or the total weight is not above 0.
std::optional<double> weightedStandardDeviation(std::span<const InsightsWeightedReading> readings,
                                                std::optional<double> mean);

} // namespace quillby
