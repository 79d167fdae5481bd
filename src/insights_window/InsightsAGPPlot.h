#pragma once

#include "insights/InsightsAGP.h"

#include <array>
#include <vector>

namespace quillby {

// The points the profile chart draws: each run of contiguous bins with percentiles becomes one
// segment, with every bin's values at the centre of its quarter hour, level edges out to the
// outer sides of the first and last bin, and five points on a monotone cubic Bézier curve
// between neighbouring centres. Gaps get no points. Pure functions.
struct InsightsAGPPlot {
    struct Point {
        int id = 0;                       // position in the list
        double minute = 0;                // minutes after local midnight, 0...1440
        int segment = 0;                  // run of contiguous bins, from 1
        InsightsAGPBin bin;               // for a curve point, the later of its two bins
        InsightsAGPPercentiles percentiles;
        bool isInterpolated = false;      // false only for a bin's centre point

        bool operator==(const Point &) const = default;
    };

    // p5, p25, median, p75, p95: offsets to the neighbouring Bézier control points (mg/dL per
    // bin, already divided by 3).
    using Tangents = std::array<double, 5>;

    static std::vector<Point> points(const std::vector<InsightsAGPBin> &bins);
    static Tangents tangents(const std::vector<InsightsAGPBin> &bins, std::size_t index);
};

} // namespace quillby
