#include "insights/InsightsBand.h"
#include "insights/WeightedStatistics.h"
#include "providers/GlucoseProviderDescription.h"

#include "InsightsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

using test::weighted;
constexpr auto kDexcom = GlucoseProvider::dexcom;
constexpr auto kLibre = GlucoseProvider::libreLinkUp;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

InsightsWeightedReadings fourReadings(GlucoseProvider source, TimeInterval lastDuration = 300)
{
    return {weighted(100, 300, source), weighted(110, 300, source), weighted(120, 300, source),
            weighted(130, lastDuration, source)};
}

TEST(WeightedStatistics, EmptyListGivesNothing)
{
    EXPECT_FALSE(weightedQuantile({}, 0.5, &readingIsOnFixedCadence));
    EXPECT_FALSE(weightedMean({}));
    EXPECT_FALSE(weightedStandardDeviation({}, 120.0));
    EXPECT_FALSE(percentile({}, 0.5));
    const auto rows = bandSummaries({});
    ASSERT_EQ(rows.size(), 5u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], (InsightsBandSummary{allInsightsBands()[i], 0, 0.0}));
    }
}

TEST(WeightedStatistics, SingleReading)
{
    const InsightsWeightedReadings one{weighted(120, 300, kLibre)};
    for (const double f : {0.0, 0.05, 0.5, 0.95, 1.0}) {
        EXPECT_EQ(weightedQuantile(one, f, &readingIsOnFixedCadence), 120.0) << f;
    }
    EXPECT_EQ(weightedMean(one), 120.0);
    EXPECT_EQ(weightedStandardDeviation(one, weightedMean(one)), 0.0);
    EXPECT_EQ(bandSummaries(one)[2], (InsightsBandSummary{InsightsBand::inRange, 1, 1.0}));
}

TEST(WeightedStatistics, QuantilesOfEqualAndUnequalWeights)
{
    struct Case {
        const char *name;
        InsightsWeightedReadings readings;
        double fraction;
        double expected;
    };
    const Case cases[] = {
        // Dexcom readings of equal weight: the type-7 percentile (rank 0.75 for 0.25).
        {"dexcom 0.25", fourReadings(kDexcom), 0.25, 107.5},
        {"dexcom 0.5", fourReadings(kDexcom), 0.5, 115},
        {"dexcom 0.05", fourReadings(kDexcom), 0.05, 101.5},
        // The same values from LibreLinkUp: midpoints at 150, 450, 750, 1050 of 1200 s.
        {"libre 0.25", fourReadings(kLibre), 0.25, 105},
        {"libre 0.5", fourReadings(kLibre), 0.5, 115},
        {"libre 0.05", fourReadings(kLibre), 0.05, 100},
        {"libre 0.95", fourReadings(kLibre), 0.95, 130},
        // One Dexcom reading of 299 s sends the list to the weighted rule (W = 1199).
        {"dexcom uneven 0.25", fourReadings(kDexcom, 299), 0.25, 100 + (0.25 * 1199 - 150) * 10 / 300},
        {"60 s and 540 s", {weighted(100, 60, kLibre), weighted(200, 540, kLibre)}, 0.5, 190},
        // Equal values merge into one entry of 300 s: 150 at 150 s, 200 at 450 s of 600 s.
        {"merged values",
         {weighted(150, 100, kLibre), weighted(150, 200, kLibre), weighted(200, 300, kLibre)}, 0.5, 175},
        {"unsorted input", {weighted(130, 300, kLibre), weighted(100, 300, kLibre), weighted(120, 300, kLibre),
                            weighted(110, 300, kLibre)}, 0.25, 105},
    };
    for (const Case &c : cases) {
        EXPECT_DOUBLE_EQ(*weightedQuantile(c.readings, c.fraction, &readingIsOnFixedCadence), c.expected) << c.name;
    }
}

// The engine reads the cadence from the rule it is handed, not from the reading's source.
TEST(WeightedStatistics, TheCadenceRuleAloneChoosesThePlainPercentile)
{
    struct Case {
        const char *name;
        GlucoseProvider source;
        FixedCadenceRule rule;
        double q25;
    };
    const FixedCadenceRule everyReading = [](const GlucoseReading &) { return true; };
    const Case cases[] = {
        {"providers' rule, Dexcom Share", kDexcom, &readingIsOnFixedCadence, 107.5},
        {"providers' rule, LibreLinkUp", kLibre, &readingIsOnFixedCadence, 105},
        {"no rule", kDexcom, nullptr, 105},
        {"every reading on a fixed cadence", kLibre, everyReading, 107.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(weightedQuantile(fourReadings(c.source), 0.25, c.rule), c.q25);
        EXPECT_EQ(weightedQuantiles(fourReadings(c.source), std::vector<double>{0.25}, c.rule)[0], c.q25);
    }
}

TEST(WeightedStatistics, FractionsOutsideZeroToOneAreClampedOnBothPaths)
{
    struct Case {
        double fraction;
        double expected;
    };
    const Case cases[] = {{-0.5, 100}, {kNaN, 100}, {-kInf, 100}, {1.5, 130}, {kInf, 130}, {1.0, 130}, {0.0, 100}};
    for (const GlucoseProvider source : {kDexcom, kLibre}) {
        for (const Case &c : cases) {
            EXPECT_EQ(weightedQuantile(fourReadings(source), c.fraction, &readingIsOnFixedCadence), c.expected)
                << "fraction " << c.fraction << ", source " << rawValue(source);
        }
    }
    const std::vector<double> sorted{100, 110, 120, 130};
    EXPECT_EQ(percentile(sorted, 7.0), 130.0);
    EXPECT_EQ(percentile(sorted, kNaN), 100.0);
}

TEST(WeightedStatistics, SeveralFractionsAtOnceMatchOneAtATime)
{
    InsightsWeightedReadings equal;
    InsightsWeightedReadings uneven;
    for (int i = 0; i < 200; ++i) {
        const double value = 60 + (i * 37) % 190;
        equal.push_back(weighted(value, 300, kDexcom));
        uneven.push_back(weighted(value, 30 + (i * 13) % 270, kLibre));
    }
    const std::vector<double> fractions{0.05, 0.25, 0.5, 0.75, 0.95, 0.0, 1.0, 0.333};
    for (const auto *readings : {&equal, &uneven}) {
        const auto all = weightedQuantiles(*readings, fractions, &readingIsOnFixedCadence);
        for (std::size_t k = 0; k < fractions.size(); ++k) {
            EXPECT_EQ(all[k], weightedQuantile(*readings, fractions[k], &readingIsOnFixedCadence)) << fractions[k];
        }
    }
    // The equal-weight path is the plain percentile of the sorted values.
    std::vector<double> values;
    for (const auto &r : equal) values.push_back(r.reading.mgdL);
    std::sort(values.begin(), values.end());
    for (const double f : fractions) {
        EXPECT_EQ(weightedQuantile(equal, f, &readingIsOnFixedCadence), percentile(values, f)) << f;
    }
}

TEST(WeightedStatistics, MeanAndPopulationStandardDeviation)
{
    const InsightsWeightedReadings readings{weighted(100, 60), weighted(200, 540)};
    EXPECT_DOUBLE_EQ(*weightedMean(readings), 190);
    // Population form: sqrt((60 × 90² + 540 × 10²) / 600) = 30.
    EXPECT_DOUBLE_EQ(*weightedStandardDeviation(readings, weightedMean(readings)), 30);
    EXPECT_FALSE(weightedStandardDeviation(readings, std::nullopt));
    EXPECT_FALSE(weightedMean(InsightsWeightedReadings{weighted(100, 0)}));
}

TEST(InsightsBands, RangeEdgesAreInclusiveAsSpecified)
{
    struct Case {
        double mgdL;
        InsightsBand band;
    };
    const Case cases[] = {{53.9, InsightsBand::veryLow}, {54, InsightsBand::low},      {69.9, InsightsBand::low},
                          {70, InsightsBand::inRange},   {180, InsightsBand::inRange}, {180.1, InsightsBand::high},
                          {250, InsightsBand::high},     {250.1, InsightsBand::veryHigh}, {1, InsightsBand::veryLow}};
    for (const Case &c : cases) {
        EXPECT_EQ(insightsBand(c.mgdL), c.band) << c.mgdL;
    }
    for (const InsightsBand band : allInsightsBands()) {
        EXPECT_EQ(insightsBandFromRaw(rawValue(band)), band);
    }
    EXPECT_EQ(rawValue(InsightsBand::inRange), "inRange");
    EXPECT_FALSE(insightsBandFromRaw("InRange"));
}

TEST(InsightsBands, TimeInRangesIsAShareOfWeightedTime)
{
    const InsightsWeightedReadings readings{weighted(60, 300), weighted(150, 900)};
    const std::vector<InsightsBandSummary> expected{{InsightsBand::veryLow, 0, 0},
                                                    {InsightsBand::low, 1, 0.25},
                                                    {InsightsBand::inRange, 1, 0.75},
                                                    {InsightsBand::high, 0, 0},
                                                    {InsightsBand::veryHigh, 0, 0}};
    EXPECT_EQ(bandSummaries(readings), expected);

    const InsightsWeightedReadings mixed{weighted(150, 10), weighted(300, 20), weighted(160, 30)};
    const auto groups = groupedByBand(mixed);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups.at(InsightsBand::inRange), (InsightsWeightedReadings{mixed[0], mixed[2]}));
    EXPECT_EQ(groups.at(InsightsBand::veryHigh), (InsightsWeightedReadings{mixed[1]}));
}

} // namespace
} // namespace quillby
