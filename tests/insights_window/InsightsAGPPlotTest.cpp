// The plot points of the profile chart: segments, edges, curve points and their tangents.

#include "insights_window/InsightsAGPPlot.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillby::test {
namespace {

InsightsAGPBin bin(int startMinute, std::optional<InsightsAGPPercentiles> percentiles = std::nullopt)
{
    return InsightsAGPBin{startMinute, 10, 5, percentiles};
}

InsightsAGPPercentiles level(double median, double spread = 20)
{
    return {median - 2 * spread, median - spread, median, median + spread, median + 2 * spread};
}

std::vector<InsightsAGPBin> fullDay(const std::function<std::optional<InsightsAGPPercentiles>(int)> &at)
{
    std::vector<InsightsAGPBin> bins;
    for (int i = 0; i < 96; ++i) {
        bins.push_back(bin(i * 15, at(i)));
    }
    return bins;
}

TEST(InsightsAGPPlotTest, PointCountsSegmentsAndPositions)
{
    struct Case {
        const char *name;
        std::vector<InsightsAGPBin> bins;
        std::size_t count;
        int segments;
        double firstMinute;
        double lastMinute;
    };
    std::vector<InsightsAGPBin> gap = fullDay([](int) { return level(120); });
    gap[40].percentiles.reset();
    const std::vector<Case> cases = {
        {"no bins", {}, 0, 0, 0, 0},
        {"no percentiles", fullDay([](int) { return std::nullopt; }), 0, 0, 0, 0},
        {"one isolated bin", {bin(585), bin(600, level(120)), bin(615)}, 3, 1, 600, 615},
        {"two contiguous bins", {bin(600, level(120)), bin(615, level(150))}, 9, 1, 600, 630},
        {"a full day", fullDay([](int) { return level(120); }), 573, 1, 0, 1440},
        {"one gap in the day", gap, 6 * 40 - 3 + 6 * 55 - 3, 2, 0, 1440},
        {"steps other than 15 are not joined", {bin(0, level(100)), bin(20, level(110))}, 6, 2, 0, 35},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto points = InsightsAGPPlot::points(c.bins);
        ASSERT_EQ(points.size(), c.count);
        if (points.empty()) {
            continue;
        }
        EXPECT_EQ(points.back().segment, c.segments);
        EXPECT_DOUBLE_EQ(points.front().minute, c.firstMinute);
        EXPECT_DOUBLE_EQ(points.back().minute, c.lastMinute);
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_EQ(points[i].id, static_cast<int>(i));
            if (i > 0) {
                EXPECT_GE(points[i].minute, points[i - 1].minute);
            }
        }
    }
}

TEST(InsightsAGPPlotTest, IsolatedBinIsLevelAndOnlyItsCentreIsReal)
{
    const auto points = InsightsAGPPlot::points({bin(600, level(120))});
    ASSERT_EQ(points.size(), 3u);
    const double minutes[] = {600, 607.5, 615};
    const bool interpolated[] = {true, false, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(points[i].minute, minutes[i]);
        EXPECT_EQ(points[i].isInterpolated, interpolated[i]);
        EXPECT_EQ(points[i].percentiles, level(120));
        EXPECT_EQ(points[i].segment, 1);
    }
}

TEST(InsightsAGPPlotTest, TwoBinsFollowTheSmoothStepBetweenCentres)
{
    const auto points = InsightsAGPPlot::points({bin(600, level(100)), bin(615, level(160))});
    ASSERT_EQ(points.size(), 9u);
    // edge, centre, five curve points, centre, edge
    for (int j = 1; j <= 5; ++j) {
        const auto &point = points[1 + j];
        const double t = j / 6.0;
        SCOPED_TRACE(j);
        EXPECT_NEAR(point.minute, 607.5 + 2.5 * j, 1e-9);
        EXPECT_NEAR(point.percentiles.medianMgdl, 100 + 60 * (3 * t * t - 2 * t * t * t), 1e-9);
        EXPECT_TRUE(point.isInterpolated);
        EXPECT_EQ(point.bin.startMinute, 615);   // the later bin
    }
    EXPECT_FALSE(points[7].isInterpolated);
    EXPECT_DOUBLE_EQ(points[8].minute, 630);
}

TEST(InsightsAGPPlotTest, TangentsStopAtExtremesAndKeepPercentilesApart)
{
    // A local maximum of the median gets a flat tangent; a rising run a positive one.
    const std::vector<InsightsAGPBin> peak = {bin(0, level(100)), bin(15, level(150)), bin(30, level(120))};
    EXPECT_EQ(InsightsAGPPlot::tangents(peak, 1)[2], 0.0);
    const std::vector<InsightsAGPBin> rising = {bin(0, level(100)), bin(15, level(130)), bin(30, level(190))};
    EXPECT_NEAR(InsightsAGPPlot::tangents(rising, 1)[2], 10.0, 1e-12);   // min(30, 60) / 3
    // Ends of a segment and bins with a gap beside them have zero tangents.
    EXPECT_EQ(InsightsAGPPlot::tangents(rising, 0), (InsightsAGPPlot::Tangents{}));
    EXPECT_EQ(InsightsAGPPlot::tangents(rising, 2), (InsightsAGPPlot::Tangents{}));
    // Two equal neighbouring percentiles whose tangents differ scale everything to zero.
    InsightsAGPPercentiles pinched{100, 120, 120, 150, 170};
    const std::vector<InsightsAGPBin> squeeze = {bin(0, InsightsAGPPercentiles{90, 100, 110, 140, 160}),
                                                 bin(15, pinched),
                                                 bin(30, InsightsAGPPercentiles{110, 150, 125, 160, 180})};
    EXPECT_EQ(InsightsAGPPlot::tangents(squeeze, 1), (InsightsAGPPlot::Tangents{}));

    // Ordered percentiles stay ordered along every curve of a varied day.
    const auto bins = fullDay([](int i) {
        const double median = 130 + 60 * std::sin(i / 7.0);
        const double spread = 8 + 6 * std::cos(i / 3.0);
        return InsightsAGPPercentiles{median - 2.5 * spread, median - spread * (1 + (i % 3) * 0.2), median,
                                      median + spread, median + 3 * spread};
    });
    for (const auto &point : InsightsAGPPlot::points(bins)) {
        const auto &p = point.percentiles;
        ASSERT_LE(p.p5Mgdl, p.p25Mgdl + 1e-9) << point.minute;
        ASSERT_LE(p.p25Mgdl, p.medianMgdl + 1e-9) << point.minute;
        ASSERT_LE(p.medianMgdl, p.p75Mgdl + 1e-9) << point.minute;
        ASSERT_LE(p.p75Mgdl, p.p95Mgdl + 1e-9) << point.minute;
    }
}

TEST(InsightsAGPPlotTest, NoPointLiesInsideAGapOrAcrossMidnight)
{
    auto bins = fullDay([](int) { return level(120); });
    bins[40].percentiles.reset();   // 10:00 to 10:15
    for (const auto &point : InsightsAGPPlot::points(bins)) {
        EXPECT_FALSE(point.minute > 600 && point.minute < 615) << point.minute;
    }
    const auto points = InsightsAGPPlot::points(bins);
    const auto end = std::find_if(points.begin(), points.end(), [](const auto &p) { return p.segment == 2; });
    ASSERT_NE(end, points.end());
    EXPECT_DOUBLE_EQ(std::prev(end)->minute, 600);   // segment 1 ends at the gap's start
    EXPECT_DOUBLE_EQ(end->minute, 615);              // segment 2 starts at the next bin
}

} // namespace
} // namespace quillby::test
