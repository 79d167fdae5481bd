#include "core/ReadingCleanup.h"
#include "insights/TimeWeighting.h"

#include "InsightsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

using test::reading;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr Date kTen = 1700000000;   // stands for 10:00:00

std::vector<Date> datesOf(const GlucoseReadings &readings)
{
    std::vector<Date> dates;
    for (const auto &r : readings) dates.push_back(r.date);
    return dates;
}

TEST(ReadingCleanup, EmptyInputGivesEmptyOutput)
{
    EXPECT_TRUE(normalizedGlucoseReadings({}).empty());
    EXPECT_TRUE(weightedReadings({}, DateInterval(0, 3600)).empty());
}

TEST(ReadingCleanup, DropsUnusableValuesAndDates)
{
    const GlucoseReadings input{reading(0, kTen),         reading(-5, kTen + 60),  reading(kNaN, kTen + 120),
                                reading(kInf, kTen + 180), reading(-kInf, kTen + 240), reading(100, kNaN),
                                reading(100, kInf),       reading(100, -kInf),     reading(0.1, kTen + 300)};
    const GlucoseReadings cleaned = normalizedGlucoseReadings(input);
    ASSERT_EQ(cleaned.size(), 1u);
    EXPECT_EQ(cleaned[0].mgdL, 0.1);
}

TEST(ReadingCleanup, TheLaterReadingOfAnInstantWinsWhole)
{
    const GlucoseReadings cleaned = normalizedGlucoseReadings(
        {reading(100, kTen, 300, GlucoseProvider::dexcom, "Flat"), reading(90, kTen - 600),
         reading(120, kTen, 60, GlucoseProvider::libreLinkUp, "SingleUp")});
    ASSERT_EQ(cleaned.size(), 2u);
    EXPECT_EQ(cleaned[1], reading(120, kTen, 60, GlucoseProvider::libreLinkUp, "SingleUp"));
}

TEST(ReadingCleanup, NearDuplicatesWithinThirtySeconds)
{
    struct Case {
        double seconds;
        double secondValue;
        const char *secondTrend;
        std::size_t kept;
    };
    const Case cases[] = {
        {30, 120, "Flat", 1},         // inclusive: dropped
        {31, 120, "Flat", 2},
        {20, 120, "FortyFiveUp", 2},  // other trend
        {20, 120, "flat", 2},         // exact text
        {20, 121, "Flat", 2},         // other value
    };
    for (const Case &c : cases) {
        const auto cleaned = normalizedGlucoseReadings(
            {reading(120, kTen, 300, GlucoseProvider::dexcom, "Flat"),
             reading(c.secondValue, kTen + c.seconds, 300, GlucoseProvider::dexcom, c.secondTrend)});
        EXPECT_EQ(cleaned.size(), c.kept) << c.seconds << " s, " << c.secondValue << ", " << c.secondTrend;
    }
}

TEST(ReadingCleanup, ComparesWithTheLastKeptReadingNotTheLastSeen)
{
    const GlucoseReadings cleaned = normalizedGlucoseReadings(test::readingsEvery(20, kTen, kTen + 121));
    EXPECT_EQ(datesOf(cleaned), (std::vector<Date>{kTen, kTen + 40, kTen + 80, kTen + 120}));
}

TEST(ReadingCleanup, SortsNewestFirstInputOldestFirst)
{
    const GlucoseReadings cleaned =
        normalizedGlucoseReadings({reading(130, kTen + 600), reading(110, kTen + 300), reading(100, kTen)});
    EXPECT_EQ(datesOf(cleaned), (std::vector<Date>{kTen, kTen + 300, kTen + 600}));
    EXPECT_EQ(normalizedGlucoseReadings(cleaned), cleaned);
}

TEST(TimeWeighting, WeighsEachReadingUpToItsSampleEndTheNextReadingOrTheIntervalEnd)
{
    const DateInterval hour(kTen, kTen + 3600);
    struct Case {
        const char *name;
        GlucoseReadings readings;
        std::vector<TimeInterval> durations;
        std::vector<Date> dates;
    };
    const Case cases[] = {
        {"cut at the next reading", {reading(100, kTen), reading(110, kTen + 180)}, {180, 300}, {kTen, kTen + 180}},
        {"gap beyond the sample", {reading(100, kTen), reading(110, kTen + 600)}, {300, 300}, {kTen, kTen + 600}},
        {"cut at the interval end", {reading(100, kTen + 3540)}, {60}, {kTen + 3540}},
        {"dated before the start", {reading(100, kTen - 120), reading(110, kTen + 60)}, {60, 300}, {kTen - 120, kTen + 60}},
        {"at the end weighs nothing", {reading(100, kTen + 3300), reading(110, kTen + 3600)}, {300}, {kTen + 3300}},
        {"long before the start", {reading(100, kTen - 900), reading(110, kTen - 300)}, {}, {}},
        {"unusable sample duration counts 60 s", {reading(100, kTen, kNaN)}, {60}, {kTen}},
        {"sample duration at most 900 s", {reading(100, kTen, 3600)}, {900}, {kTen}},
    };
    for (const Case &c : cases) {
        const auto weights = weightedReadings(c.readings, hour);
        std::vector<TimeInterval> durations;
        std::vector<Date> dates;
        for (const auto &w : weights) {
            durations.push_back(w.duration);
            dates.push_back(w.reading.date);
        }
        EXPECT_EQ(durations, c.durations) << c.name;
        EXPECT_EQ(dates, c.dates) << c.name;
    }
}

TEST(TimeWeighting, WeightsNeverExceedTheInterval)
{
    GlucoseReadings readings = test::readingsEvery(45, kTen - 1000, kTen + 5000);
    const DateInterval interval(kTen, kTen + 3600);
    TimeInterval total = 0;
    for (const auto &w : weightedReadings(normalizedGlucoseReadings(readings), interval)) {
        EXPECT_GT(w.duration, 0);
        total += w.duration;
    }
    EXPECT_EQ(total, 3600);
}

} // namespace
} // namespace quillby
