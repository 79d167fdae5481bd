#include "insights/InsightsPercent.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quillby {

namespace {

double flooredProduct(double value, double divisions)
{
    const double product = value * divisions;
    if (std::isnan(product)) {
        return 0;
    }
    const double nearest = std::round(product);
    // Each of the few operations that produced `value` may be off by half a unit in the last
    // place; eight units of tolerance cover a chain of them.
    if (std::fabs(product - nearest) <= 8 * DBL_EPSILON * std::max(1.0, std::fabs(nearest))) {
        return nearest;
    }
    return std::floor(product);
}

} // namespace

double roundedDown(double value, double divisions)
{
    return flooredProduct(value, divisions) / divisions;
}

int flooredPercent(double fraction)
{
    return static_cast<int>(std::clamp(flooredProduct(fraction, 100), -1e9, 1e9));
}

} // namespace quillby
