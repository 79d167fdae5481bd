#include "insights/InsightsCollectionProgress.h"
#include "insights/InsightsPercent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(InsightsPercent, RoundingDownNeverLosesAWholeStepToBinaryRounding)
{
    // The faults this guards against: a plain floor of the product loses a percent here.
    ASSERT_EQ(std::floor(0.29 * 100), 28);
    ASSERT_EQ(std::floor(0.57 * 100), 56);

    struct Case {
        double fraction;
        int percent;
    };
    const Case cases[] = {{0.29, 29},    {0.57, 57},    {0.58, 58}, {0.07, 7},   {0.999, 99}, {0.6993, 69},
                          {0.28999, 28}, {1.0, 100},    {0.0, 0},   {kNaN, 0},   {0.005, 0},  {0.995, 99},
                          {75168.0 / 259200, 29}};
    for (const Case &c : cases) {
        EXPECT_EQ(flooredPercent(c.fraction), c.percent) << c.fraction;
        EXPECT_DOUBLE_EQ(roundedDown(c.fraction, 100), c.percent / 100.0) << c.fraction;
    }
    EXPECT_DOUBLE_EQ(roundedDown(0.69999, 1000), 0.699);
    EXPECT_DOUBLE_EQ(roundedDown(0.725, 1000), 0.725);
    EXPECT_DOUBLE_EQ(roundedDown(1.5, 10), 1.5);
}

TEST(InsightsCollectionProgress, GatesAndShares)
{
    struct Case {
        const char *name;
        InsightsCollectionProgress progress;
        bool ready;
        double fraction;
        double share;
    };
    const DateInterval window(0, 259200);
    const Case cases[] = {
        {"both gates exactly", {window, 259200, 0.7, true}, true, 1, 1},
        {"no readings", {window, 259200, 0.9, false}, false, 0, 0},
        {"coverage 0.6993 after 3 days", {window, 259200, 0.6993, true}, false, 0.6993 / 0.7, 0.99},
        {"collected 0.29 of 3 days", {window, 75168, 0.9, true}, false, 75168 / 259200.0, 0.29},
        {"coverage limits", {window, 2 * 86400, 0.35, true}, false, 0.5, 0.5},
        {"more than enough", {window, 10 * 86400, 1, true}, true, 1, 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.progress.meetsReadinessGates(), c.ready) << c.name;
        EXPECT_DOUBLE_EQ(c.progress.progressFraction(), c.fraction) << c.name;
        EXPECT_DOUBLE_EQ(c.progress.collectedShare(), c.share) << c.name;
    }
    const InsightsCollectionProgress progress{window, 1.5 * 86400, 0.69999, true};
    EXPECT_DOUBLE_EQ(progress.roundedDownCoverageFraction(), 0.699);
    EXPECT_DOUBLE_EQ(progress.roundedDownCollectionDays(), 1.5);
    EXPECT_DOUBLE_EQ((InsightsCollectionProgress{window, 9 * 86400, 1, true}).roundedDownCollectionDays(), 3);
}

} // namespace
} // namespace quillby
