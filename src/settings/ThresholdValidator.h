#pragma once

#include "settings/GlucoseThresholdOption.h"

namespace quillby {

// Snaps a stored threshold onto a picker's grid.
struct ThresholdValidator {
    // The mgdlValue of the row of options(kind, unit) nearest to `value` (mg/dL); on equal
    // distances the smaller row wins; `value` itself when there are no rows.
    double nearestOption(GlucoseThresholdKind kind, GlucoseUnits unit, double value) const;
};

} // namespace quillby
