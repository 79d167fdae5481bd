#include "settings/ThresholdValidator.h"

#include <cmath>

namespace quillby {

double ThresholdValidator::nearestOption(GlucoseThresholdKind kind, GlucoseUnits unit, double value) const
{
    const auto rows = GlucoseThresholdOption::options(kind, unit);
    if (rows.empty()) {
        return value;
    }
    double best = rows.front().mgdlValue;
    double bestDistance = std::fabs(best - value);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double distance = std::fabs(rows[i].mgdlValue - value);
        if (distance < bestDistance) {
            best = rows[i].mgdlValue;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace quillby
