#pragma once

#include <algorithm>
#include <cmath>

namespace quillby {

// One glucose threshold setting, in mg/dL: the first-run value and the whole-number range a
// saved or edited value is held to.
struct GlucoseThresholdSetting {
    double defaultValue;
    double minimum;
    double maximum;

    // Rounded to a whole mg/dL and held in range; a value that is not finite (NaN would pass
    // a clamp unchanged, +inf become the maximum) gives `fallback` instead.
    constexpr double snapped(double value, double fallback) const
    {
        return std::clamp(std::isfinite(value) ? std::round(value) : fallback, minimum, maximum);
    }
};

// The owner of the low and high glucose threshold settings.
struct GlucoseThresholds {
    static constexpr GlucoseThresholdSetting low{72, 65, 90};
    static constexpr GlucoseThresholdSetting high{270, 108, 360};

    static constexpr double kMgdlPerMmol = 18;

    // An older version stored both thresholds in mmol/L: both at or below this value are read
    // as mmol/L and turned into mg/dL. Either one above it means they are already mg/dL.
    static constexpr double kHighestMmolValue = 40;
    static void migrateUnits(double &lowValue, double &highValue)
    {
        if (lowValue <= kHighestMmolValue && highValue <= kHighestMmolValue) {
            lowValue *= kMgdlPerMmol;
            highValue *= kMgdlPerMmol;
        }
    }
};

} // namespace quillby
