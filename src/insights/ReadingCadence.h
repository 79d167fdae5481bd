#pragma once

#include "core/GlucoseReading.h"

namespace quillby {

// Whether a reading belongs to a series that its source samples on one fixed cadence. Readings
// of such series that all weigh the same are evenly spaced samples, and the quantiles of a list
// of them are the plain percentiles of their values; one other reading in the list, or one
// weight that differs, makes them time-weighted. The engine does not know where readings come
// from: whoever does hands the rule in with them. No rule: no reading is on a fixed cadence.
using FixedCadenceRule = bool (*)(const GlucoseReading &reading);

inline bool isOnFixedCadence(FixedCadenceRule rule, const GlucoseReading &reading)
{
    return rule != nullptr && rule(reading);
}

} // namespace quillby
