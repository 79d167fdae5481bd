#pragma once

#include "core/GlucoseReading.h"

#include <string>
#include <vector>

namespace quillby {

enum class GlucoseThresholdKind { low, high };

// One row of a threshold picker. Thresholds are stored in mg/dL; the mmol/L rows are a second
// way of choosing the same mg/dL values.
struct GlucoseThresholdOption {
    double mgdlValue = 0;
    std::string label;

    bool operator==(const GlucoseThresholdOption &) const = default;

    // Ascending grids: low 65...90 and high 108...360 mg/dL in steps of 1; low 3.6...5.0 and
    // high 6.0...20.0 mmol/L in steps of 0.1 (each a whole number of tenths divided by 10).
    static std::vector<double> mgdlValues(GlucoseThresholdKind kind);
    static std::vector<double> mmolValues(GlucoseThresholdKind kind);
    // One row per grid value, ascending. mg/dL: "72 mg/dL"; mmol/L: "4.0 mmol/L" standing for
    // the value × 18 rounded half away from zero.
    static std::vector<GlucoseThresholdOption> options(GlucoseThresholdKind kind, GlucoseUnits unit);
};

} // namespace quillby
