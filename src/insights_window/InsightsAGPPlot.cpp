#include "insights_window/InsightsAGPPlot.h"

#include <algorithm>
#include <cmath>

namespace quillby {

namespace {

constexpr int kBinMinutes = 15;

std::array<double, 5> values(const InsightsAGPPercentiles &p)
{
    return {p.p5Mgdl, p.p25Mgdl, p.medianMgdl, p.p75Mgdl, p.p95Mgdl};
}

InsightsAGPPercentiles fromValues(const std::array<double, 5> &v)
{
    return InsightsAGPPercentiles{v[0], v[1], v[2], v[3], v[4]};
}

bool contiguous(const InsightsAGPBin &earlier, const InsightsAGPBin &later)
{
    return later.startMinute == earlier.startMinute + kBinMinutes;
}

double lerp(double a, double b, double t)
{
    return a + (b - a) * t;
}

// de Casteljau evaluation of the cubic P0, C1, C2, P3 at t.
double bezier(double p0, double c1, double c2, double p3, double t)
{
    const double a = lerp(p0, c1, t);
    const double b = lerp(c1, c2, t);
    const double c = lerp(c2, p3, t);
    const double d = lerp(a, b, t);
    const double e = lerp(b, c, t);
    return lerp(d, e, t);
}

} // namespace

InsightsAGPPlot::Tangents InsightsAGPPlot::tangents(const std::vector<InsightsAGPBin> &bins, std::size_t index)
{
    Tangents result{};
    if (index < 1 || index + 1 >= bins.size()) {
        return result;
    }
    const auto &previous = bins[index - 1];
    const auto &current = bins[index];
    const auto &next = bins[index + 1];
    if (!contiguous(previous, current) || !contiguous(current, next) || !previous.percentiles ||
        !current.percentiles || !next.percentiles) {
        return result;
    }
    const auto p = values(*previous.percentiles);
    const auto c = values(*current.percentiles);
    const auto n = values(*next.percentiles);
    for (std::size_t q = 0; q < 5; ++q) {
        const double d0 = c[q] - p[q];
        const double d1 = n[q] - c[q];
        result[q] = d0 * d1 > 0 ? std::copysign(std::min(std::abs(d0), std::abs(d1)) / 3.0, d0) : 0.0;
    }
    // Keep neighbouring percentile curves from crossing.
    double scale = 1.0;
    for (std::size_t q = 0; q + 1 < 5; ++q) {
        const double difference = result[q + 1] - result[q];
        if (difference != 0) {
            scale = std::min(scale, (c[q + 1] - c[q]) / std::abs(difference));
        }
    }
    for (double &tangent : result) {
        tangent *= scale;
    }
    return result;
}

std::vector<InsightsAGPPlot::Point> InsightsAGPPlot::points(const std::vector<InsightsAGPBin> &bins)
{
    std::vector<Point> result;
    if (bins.empty()) {
        return result;
    }
    std::vector<Tangents> allTangents(bins.size());
    for (std::size_t i = 0; i < bins.size(); ++i) {
        allTangents[i] = tangents(bins, i);
    }
    int segment = 0;
    const auto add = [&](double minute, const InsightsAGPBin &bin, const InsightsAGPPercentiles &percentiles,
                         bool interpolated) {
        result.push_back(Point{static_cast<int>(result.size()), minute, segment, bin, percentiles, interpolated});
    };
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const auto &bin = bins[k];
        if (!bin.percentiles) {
            continue;
        }
        const double start = bin.startMinute;
        const double centre = start + 7.5;
        const bool continues = k >= 1 && bins[k - 1].percentiles && contiguous(bins[k - 1], bin);
        const bool closes = !(k + 1 < bins.size() && bins[k + 1].percentiles && contiguous(bin, bins[k + 1]));
        if (continues && !result.empty()) {
            const Point last = result.back();
            const auto p0 = values(last.percentiles);
            const auto p3 = values(*bin.percentiles);
            const auto &t0 = allTangents[k - 1];
            const auto &t1 = allTangents[k];
            for (int j = 1; j <= 5; ++j) {
                const double t = j / 6.0;
                std::array<double, 5> v{};
                for (std::size_t q = 0; q < 5; ++q) {
                    v[q] = bezier(p0[q], p0[q] + t0[q], p3[q] - t1[q], p3[q], t);
                }
                add(last.minute + (centre - last.minute) * t, bin, fromValues(v), true);
            }
        } else {
            ++segment;
            add(start, bin, *bin.percentiles, true);
        }
        add(centre, bin, *bin.percentiles, false);
        if (closes) {
            add(start + 15.0, bin, *bin.percentiles, true);
        }
    }
    return result;
}

} // namespace quillby
