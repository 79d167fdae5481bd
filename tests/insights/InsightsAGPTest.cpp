#include "insights/InsightsAGP.h"
#include "insights/InsightsSummary.h"
#include "providers/GlucoseProviderDescription.h"

#include "InsightsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>

namespace quillby {
namespace {

using test::kDay;
using test::kHour;
using test::kMinute;

const LocalCalendar kUTC;
constexpr Date kMonday = 1705276800;   // 2024-01-15 00:00 UTC

InsightsWeightedReading at(Date date, TimeInterval duration, double mgdL = 120)
{
    return InsightsWeightedReading{test::reading(mgdL, date), duration};
}

TEST(InsightsAGP, EmptyProfile)
{
    const InsightsAGP agp = InsightsAGP::build({}, LocalCalendar("Europe/Berlin"), &readingIsOnFixedCadence);
    ASSERT_EQ(agp.bins.size(), 96u);
    for (int i = 0; i < 96; ++i) {
        EXPECT_EQ(agp.bins[i], (InsightsAGPBin{15 * i, 0, 0, std::nullopt}));
    }
    EXPECT_EQ(agp.contributingDayCount, 0);
    EXPECT_EQ(agp.timeZoneIdentifier, "Europe/Berlin");
}

TEST(InsightsAGP, ReadingsAreCutAtQuarterHours)
{
    struct Piece {
        Date start;
        TimeInterval duration;
    };
    struct Case {
        const char *name;
        Date date;
        TimeInterval duration;
        std::vector<Piece> pieces;
    };
    const Date ten = kMonday + 10 * kHour;
    const Case cases[] = {
        {"10:07 for 300 s", ten + 7 * kMinute, 300, {{ten + 7 * kMinute, 300}}},
        {"10:13 for 300 s", ten + 13 * kMinute, 300, {{ten + 13 * kMinute, 120}, {ten + 15 * kMinute, 180}}},
        {"10:07:30 for 600 s", ten + 450, 600, {{ten + 450, 450}, {ten + 900, 150}}},
        {"10:15:00 for 900 s", ten + 900, 900, {{ten + 900, 900}}},
        {"23:58 for 300 s", kMonday + kDay - 120, 300, {{kMonday + kDay - 120, 120}, {kMonday + kDay, 180}}},
    };
    for (const Case &c : cases) {
        const auto pieces = quarterHourSlices(at(c.date, c.duration), kUTC);
        ASSERT_EQ(pieces.size(), c.pieces.size()) << c.name;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].start, c.pieces[i].start) << c.name;
            EXPECT_EQ(pieces[i].reading.duration, c.pieces[i].duration) << c.name;
            EXPECT_EQ(pieces[i].reading.reading.date, c.date) << c.name;
        }
    }
}

TEST(InsightsAGP, PiecesFallIntoTheirBinsAndDays)
{
    const InsightsAGP agp = InsightsAGP::build(
        std::vector{at(kMonday + 10 * kHour + 7 * kMinute, 300), at(kMonday + kDay + 10 * kHour + 13 * kMinute, 300),
                    at(kMonday + 2 * kDay - 2 * kMinute, 300)},
        kUTC, &readingIsOnFixedCadence);
    EXPECT_EQ(agp.bins[40].readingCount, 2);   // 10:00: the 10:07 reading and the first piece of 10:13
    EXPECT_EQ(agp.bins[40].dayCount, 2);
    EXPECT_EQ(agp.bins[41].readingCount, 1);   // 10:15
    EXPECT_EQ(agp.bins[95].readingCount, 1);   // 23:45 of Tuesday
    EXPECT_EQ(agp.bins[0].readingCount, 1);    // 00:00 of Wednesday
    EXPECT_EQ(agp.contributingDayCount, 3);
}

TEST(InsightsAGP, PercentilesNeedThreeDays)
{
    std::vector<InsightsWeightedReading> readings;
    for (int day = 0; day < 3; ++day) {
        readings.push_back(at(kMonday + day * kDay + 6 * kHour, 300, 100 + 10 * day));
    }
    const InsightsAGP twoDays = InsightsAGP::build(std::span(readings).first(2), kUTC, &readingIsOnFixedCadence);
    EXPECT_EQ(twoDays.bins[24].readingCount, 2);
    EXPECT_EQ(twoDays.bins[24].dayCount, 2);
    EXPECT_FALSE(twoDays.bins[24].percentiles);

    const InsightsAGP threeDays = InsightsAGP::build(readings, kUTC, &readingIsOnFixedCadence);
    ASSERT_TRUE(threeDays.bins[24].percentiles);
    // Equal Dexcom pieces: the plain percentiles of 100, 110, 120.
    const auto &p = *threeDays.bins[24].percentiles;
    EXPECT_DOUBLE_EQ(p.p5Mgdl, 101);
    EXPECT_DOUBLE_EQ(p.p25Mgdl, 105);
    EXPECT_DOUBLE_EQ(p.medianMgdl, 110);
    EXPECT_DOUBLE_EQ(p.p75Mgdl, 115);
    EXPECT_DOUBLE_EQ(p.p95Mgdl, 119);
}

TEST(InsightsAGP, FourteenDayPeriodOfFiveMinuteReadings)
{
    // A 14-day period starting at 14:00 touches 15 calendar days; each quarter hour is seen on
    // 14 of them with three readings each.
    const DateInterval period(kMonday + 14 * kHour, kMonday + 14 * kHour + 14 * kDay);
    GlucoseReadings readings;
    for (Date t = period.start; t < period.end; t += 300) {
        readings.push_back(test::reading(80 + std::fmod(t / 300, 97), t));
    }
    const InsightsSummary summary = InsightsSummary::calculate(readings, period, std::nullopt, kUTC, &readingIsOnFixedCadence);
    EXPECT_EQ(summary.agp.contributingDayCount, 15);
    for (const auto &bin : summary.agp.bins) {
        EXPECT_EQ(bin.dayCount, 14) << bin.startMinute;
        EXPECT_EQ(bin.readingCount, 42) << bin.startMinute;
        ASSERT_TRUE(bin.percentiles);
        const auto &p = *bin.percentiles;
        EXPECT_TRUE(p.p5Mgdl <= p.p25Mgdl && p.p25Mgdl <= p.medianMgdl && p.medianMgdl <= p.p75Mgdl &&
                    p.p75Mgdl <= p.p95Mgdl)
            << bin.startMinute;
    }
}

TEST(InsightsAGP, RepeatedHourFoldsIntoOneDayOfItsBins)
{
    // New York, 3 November 2024: 01:00 to 02:00 happens twice.
    const LocalCalendar newYork("America/New_York");
    const DateInterval day = *newYork.dayInterval(*newYork.date(2024, 11, 3, 12));
    std::vector<InsightsWeightedReading> readings;
    for (Date t = day.start; t < day.end; t += 300) {
        readings.push_back(at(t, 300));
    }
    const InsightsAGP agp = InsightsAGP::build(readings, newYork, &readingIsOnFixedCadence);
    EXPECT_EQ(agp.timeZoneIdentifier, "America/New_York");
    for (const auto &bin : agp.bins) {
        const bool repeated = bin.startMinute >= 60 && bin.startMinute < 120;
        EXPECT_EQ(bin.readingCount, repeated ? 6 : 3) << bin.startMinute;
        EXPECT_EQ(bin.dayCount, 1) << bin.startMinute;
    }
    EXPECT_EQ(agp.contributingDayCount, 1);
}

TEST(InsightsAGP, UnevenPiecesUseTheWeightedRule)
{
    // Three days at 06:13 for 300 s: 120 s pieces in bin 06:00, 180 s in 06:15, all Dexcom.
    // Bin 06:00 also holds whole 300 s readings at 06:00 of the same days.
    std::vector<InsightsWeightedReading> readings;
    for (int day = 0; day < 3; ++day) {
        readings.push_back(at(kMonday + day * kDay + 6 * kHour, 300, 100));
        readings.push_back(at(kMonday + day * kDay + 6 * kHour + 13 * kMinute, 300, 200));
    }
    const InsightsAGP agp = InsightsAGP::build(readings, kUTC, &readingIsOnFixedCadence);
    // Weighted: 100 for 900 s (midpoint 450), 200 for 360 s (midpoint 1080) of 1260 s.
    const double target = 0.5 * 1260;
    EXPECT_DOUBLE_EQ(agp.bins[24].percentiles->medianMgdl, 100 + (target - 450) * 100 / (1080 - 450));
}

} // namespace
} // namespace quillby
