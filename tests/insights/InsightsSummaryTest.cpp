#include "insights/InsightsCalculation.h"
#include "insights/WeightedStatistics.h"
#include "core/ReadingCleanup.h"
#include "providers/GlucoseProviderDescription.h"

#include "InsightsTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace quillby {
namespace {

using test::kDay;
using test::kHour;
using test::reading;
using test::readingsEvery;
using Reason = InsightsGMIUnavailableReason;

const LocalCalendar kUTC;
constexpr Date kEnd = 1730808000;   // 2024-11-05 12:00 UTC
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

DateInterval lastDays(double days) { return DateInterval(kEnd - days * kDay, kEnd); }

TEST(InsightsSummary, NoReadings)
{
    const InsightsCalculationResult result =
        InsightsCalculationResult::calculate({{}, lastDays(14), kEnd - 20 * kDay, kUTC, "scope", QUuid::createUuid(), &readingIsOnFixedCadence});
    const InsightsSummary &s = result.summary;
    EXPECT_EQ(s.readingCount, 0);
    EXPECT_FALSE(s.availableInterval);
    EXPECT_FALSE(s.meanMgdl || s.standardDeviationMgdl || s.medianMgdl || s.q1Mgdl || s.q3Mgdl || s.iqrMgdl);
    ASSERT_EQ(s.bands.size(), 5u);
    for (const auto &band : s.bands) EXPECT_EQ(band.fraction, 0);
    EXPECT_EQ(s.gmi, InsightsGMI::unavailable(Reason::noReadings));
    EXPECT_EQ(s.coverage.days.size(), 15u);
    EXPECT_EQ(result.collectionProgress,
              (InsightsCollectionProgress{lastDays(3), 20 * kDay, 0, false}));
}

TEST(InsightsSummary, StatisticsOfThePeriodOnly)
{
    const DateInterval period = lastDays(1);
    // One reading a minute before the period reaches into it; one at the end is outside.
    const GlucoseReadings readings{reading(300, period.start - 60), reading(100, period.start + 240),
                                   reading(200, period.start + 540), reading(140, period.start + 840, 60),
                                   reading(400, period.end)};
    const InsightsSummary s = InsightsSummary::calculate(readings, period, std::nullopt, kUTC, &readingIsOnFixedCadence);
    EXPECT_EQ(s.readingCount, 3);
    EXPECT_EQ(s.availableInterval, DateInterval(period.start + 240, period.start + 840));
    EXPECT_EQ(s.coverage.coveredDuration, 240 + 300 + 300 + 60);
    // Mean over 100 (300 s), 200 (300 s), 140 (60 s): the early 300 and the late 400 add nothing.
    EXPECT_DOUBLE_EQ(*s.meanMgdl, (100 * 300 + 200 * 300 + 140 * 60) / 660.0);
    EXPECT_EQ(s.bands[4].count, 0);
    EXPECT_EQ(s.bands[2].count, 2);
    EXPECT_EQ(s.bands[3].count, 1);
    EXPECT_EQ(*s.iqrMgdl, *s.q3Mgdl - *s.q1Mgdl);
    EXPECT_EQ(s.gmi, InsightsGMI::unavailable(Reason::collectingHistory));
    // Unclean and unsorted input gives the same report.
    GlucoseReadings messy(readings.rbegin(), readings.rend());
    messy.push_back(reading(kNaN, period.start));
    EXPECT_EQ(InsightsSummary::calculate(messy, period, std::nullopt, kUTC, &readingIsOnFixedCadence), s);
}

// The report takes its figures in walks of its own; they must be, to the bit, what the building
// blocks give for the period's weighted readings. Over 65,536 distinct values, sent back to the
// first ones later on, the report numbers its values beyond two bytes part-way through.
TEST(InsightsSummary, ManyDistinctValuesGiveTheFiguresOfTheBuildingBlocks)
{
    const DateInterval period = lastDays(56);
    GlucoseReadings readings;
    for (int i = 0; i < 80000; ++i) {
        readings.push_back(reading(100 + (i % 70000) * 0.001 + (i % 3), period.start + i * 60.0, 60,
                                   i % 5 == 0 ? GlucoseProvider::dexcom : GlucoseProvider::libreLinkUp));
    }
    const InsightsSummary s = InsightsSummary::calculate(readings, period, std::nullopt, kUTC, &readingIsOnFixedCadence);

    InsightsWeightedReadings inPeriod;
    for (const InsightsWeightedReading &r : weightedReadings(normalizedGlucoseReadings(readings), period)) {
        if (r.reading.date >= period.start) {
            inPeriod.push_back(r);
        }
    }
    const std::array<double, 3> fractions{0.5, 0.25, 0.75};
    const auto quartiles = weightedQuantiles(inPeriod, fractions, &readingIsOnFixedCadence);
    EXPECT_EQ(s.medianMgdl, quartiles[0]);
    EXPECT_EQ(s.q1Mgdl, quartiles[1]);
    EXPECT_EQ(s.q3Mgdl, quartiles[2]);
    EXPECT_EQ(s.meanMgdl, weightedMean(inPeriod));
    EXPECT_EQ(s.standardDeviationMgdl, weightedStandardDeviation(inPeriod, weightedMean(inPeriod)));
    EXPECT_EQ(s.bands, bandSummaries(inPeriod));
    EXPECT_EQ(s.agp, InsightsAGP::build(inPeriod, kUTC, &readingIsOnFixedCadence));
}

TEST(InsightsSummary, GMIReasonsAndGates)
{
    struct Case {
        const char *name;
        DateInterval period;
        GlucoseReadings readings;
        std::optional<Date> collectionStart;
        InsightsGMI expected;
    };
    const GlucoseReadings last25Days = readingsEvery(300, kEnd - 25 * kDay, kEnd, 154);
    // 70 % of 14 days exactly: one-minute readings over the last 846720 s.
    const GlucoseReadings seventyPercent = readingsEvery(60, kEnd - 846720, kEnd, 154, 60);
    const GlucoseReadings belowSeventy = readingsEvery(60, kEnd - 834600, kEnd, 154, 60);
    const InsightsGMI gmi154 = InsightsGMI::available(3.31 + 0.02392 * 154);
    const Case cases[] = {
        {"covered 25 of 30 days, collected 25", lastDays(30), last25Days, kEnd - 25 * kDay, gmi154},
        {"collected 10 days", lastDays(30), last25Days, kEnd - 10 * kDay, InsightsGMI::unavailable(Reason::collectingHistory)},
        {"no collection start", lastDays(30), last25Days, std::nullopt, InsightsGMI::unavailable(Reason::collectingHistory)},
        {"collection start NaN", lastDays(30), last25Days, kNaN, InsightsGMI::unavailable(Reason::collectingHistory)},
        {"collection start -inf", lastDays(30), last25Days, -kInf, InsightsGMI::unavailable(Reason::collectingHistory)},
        {"collection start +inf", lastDays(30), last25Days, kInf, InsightsGMI::unavailable(Reason::collectingHistory)},
        {"collection start after the end", lastDays(30), last25Days, kEnd + kDay,
         InsightsGMI::unavailable(Reason::collectingHistory)},
        {"7-day period", lastDays(7), last25Days, kEnd - 30 * kDay, InsightsGMI::unavailable(Reason::shortInterval)},
        {"14 days and 70 % exactly", lastDays(14), seventyPercent, kEnd - 14 * kDay, gmi154},
        {"14 days and below 70 %", lastDays(14), belowSeventy, kEnd - 20 * kDay,
         InsightsGMI::unavailable(Reason::insufficientCoverage)},
        {"no readings in the period", lastDays(14), readingsEvery(300, kEnd - 40 * kDay, kEnd - 20 * kDay),
         kEnd - 40 * kDay, InsightsGMI::unavailable(Reason::noReadings)},
    };
    for (const Case &c : cases) {
        const InsightsSummary s = InsightsSummary::calculate(c.readings, c.period, c.collectionStart, kUTC, &readingIsOnFixedCadence);
        EXPECT_EQ(s.gmi, c.expected) << c.name;
    }
    EXPECT_DOUBLE_EQ(*gmi154.percent(), 6.99368);
    EXPECT_EQ(gmi154.unavailableReason(), std::nullopt);
    EXPECT_EQ(InsightsGMI::unavailable(Reason::shortInterval).percent(), std::nullopt);
}

TEST(InsightsSummary, CollectionCoverageMeasuresOnlySinceCollectionStarted)
{
    const GlucoseReadings readings = readingsEvery(300, kEnd - 25 * kDay, kEnd);
    struct Case {
        const char *name;
        std::optional<Date> start;
        DateInterval collectionInterval;
    };
    const Case cases[] = {
        {"25 days ago", kEnd - 25 * kDay, lastDays(25)},
        {"before the period", kEnd - 60 * kDay, lastDays(30)},
        {"not recorded", std::nullopt, lastDays(30)},
        {"not finite", kNaN, lastDays(30)},
        {"after the end", kEnd + kDay, DateInterval(kEnd, kEnd)},
    };
    for (const Case &c : cases) {
        const InsightsSummary s = InsightsSummary::calculate(readings, lastDays(30), c.start, kUTC, &readingIsOnFixedCadence);
        EXPECT_EQ(s.collectionCoverage.totalDuration, c.collectionInterval.duration()) << c.name;
        EXPECT_EQ(s.collectionCoverage.coveredDuration, std::min(25 * kDay, c.collectionInterval.duration())) << c.name;
        if (c.collectionInterval == lastDays(30)) {
            EXPECT_EQ(s.collectionCoverage, s.coverage) << c.name;
        }
        EXPECT_DOUBLE_EQ(s.coverage.fraction(), 25.0 / 30) << c.name;
    }
}

TEST(InsightsCollectionProgress, MeasuresTheLatestThreeDays)
{
    struct Case {
        const char *name;
        GlucoseReadings readings;
        std::optional<Date> start;
        InsightsCollectionProgress expected;
    };
    const Case cases[] = {
        {"two of three days covered", readingsEvery(300, kEnd - 2 * kDay, kEnd), kEnd - 2 * kDay,
         {lastDays(3), 2 * kDay, 2.0 / 3, true}},
        {"a reading from before the window reaches in", {reading(120, kEnd - 3 * kDay - 60)}, kEnd - 5 * kDay,
         {lastDays(3), 5 * kDay, 240 / (3 * kDay), false}},
        {"a reading at the window's start", {reading(120, kEnd - 3 * kDay)}, std::nullopt,
         {lastDays(3), 0, 300 / (3 * kDay), true}},
        {"a reading at the end", {reading(120, kEnd)}, kEnd + 100, {lastDays(3), 0, 0, false}},
        {"start not finite", {}, -kInf, {lastDays(3), 0, 0, false}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(insightsCollectionProgress(c.readings, kEnd, c.start), c.expected) << c.name;
        // The calculation reports the same progress whatever its period.
        const auto result = InsightsCalculationResult::calculate({c.readings, lastDays(1), c.start, kUTC, {}, {}, &readingIsOnFixedCadence});
        EXPECT_EQ(result.collectionProgress, c.expected) << c.name;
    }
}

} // namespace
} // namespace quillby
