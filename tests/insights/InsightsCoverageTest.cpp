#include "insights/InsightsCoverage.h"
#include "core/ReadingCleanup.h"

#include "InsightsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace quillby {
namespace {

using test::kDay;
using test::kHour;
using test::reading;
using test::readingsEvery;

const LocalCalendar kBerlin("Europe/Berlin");

Date berlin(int year, int month, int day, int hour = 0, int minute = 0)
{
    return test::local("Europe/Berlin", year, month, day, hour, minute);
}

TimeInterval hourTotals(const InsightsCoverage &coverage)
{
    return std::accumulate(coverage.hours.begin(), coverage.hours.end(), 0.0,
                           [](double sum, const InsightsHourCoverage &h) { return sum + h.totalDuration; });
}

TEST(InsightsCoverage, NoReadings)
{
    const DateInterval interval(berlin(2024, 1, 15, 14), berlin(2024, 1, 17, 20));
    const InsightsCoverage coverage = insightsCoverage({}, interval, kBerlin);
    EXPECT_EQ(coverage.coveredDuration, 0);
    EXPECT_EQ(coverage.totalDuration, interval.duration());
    ASSERT_EQ(coverage.days.size(), 3u);
    for (const auto &day : coverage.days) EXPECT_EQ(day.coveredDuration, 0);
    ASSERT_EQ(coverage.hours.size(), 24u);
    EXPECT_EQ(hourTotals(coverage), interval.duration());
    EXPECT_EQ(coverage.hours[14].totalDuration, 3 * kHour);
    EXPECT_EQ(coverage.hours[21].totalDuration, 2 * kHour);
    EXPECT_FALSE(coverage.hasMissingNightWarning);
    EXPECT_EQ(coverage.fraction(), 0);
}

TEST(InsightsCoverage, IntervalWithoutLength)
{
    const Date t = berlin(2024, 1, 15, 14);
    for (const DateInterval interval : {DateInterval(t, t), DateInterval(t, t - kDay)}) {
        const InsightsCoverage coverage = insightsCoverage(readingsEvery(300, t - kDay, t + kDay), interval, kBerlin);
        EXPECT_TRUE(coverage.days.empty());
        ASSERT_EQ(coverage.hours.size(), 24u);
        for (int h = 0; h < 24; ++h) {
            EXPECT_EQ(coverage.hours[h], (InsightsHourCoverage{h, 0, 0}));
        }
        EXPECT_FALSE(coverage.hasMissingNightWarning);
        EXPECT_EQ(coverage.fraction(), 0);
    }
}

TEST(InsightsCoverage, CoveredIntervalsFromSampleSpans)
{
    const Date s = berlin(2024, 1, 15, 10);
    const DateInterval interval(s, s + 2 * kHour);
    struct Case {
        const char *name;
        GlucoseReadings readings;
        std::vector<DateInterval> covered;
    };
    GlucoseReadings withHole = readingsEvery(300, s, s + kHour);
    withHole.erase(withHole.begin() + 5);
    const Case cases[] = {
        {"every 5 minutes", readingsEvery(300, s, s + kHour), {{s, s + kHour}}},
        {"one missing", withHole, {{s, s + 1500}, {s + 1800, s + kHour}}},
        {"one minute apart with 300 s", readingsEvery(60, s + 600, s + 1200), {{s + 600, s + 1440}}},
        {"before the start", {reading(120, s - 120)}, {{s, s + 180}}},
        {"past the end", readingsEvery(300, s + 2 * kHour - 600, s + 3 * kHour), {{s + 2 * kHour - 600, s + 2 * kHour}}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(coveredIntervals(normalizedGlucoseReadings(c.readings), interval), c.covered) << c.name;
        const InsightsCoverage coverage = insightsCoverage(c.readings, interval, kBerlin);
        TimeInterval expected = 0;
        for (const auto &span : c.covered) expected += span.duration();
        EXPECT_EQ(coverage.coveredDuration, expected) << c.name;
    }
}

TEST(InsightsCoverage, CoveredDurationWithin)
{
    const std::vector<DateInterval> covered{{0, 10}, {20, 30}, {40, 50}};
    struct Case {
        DateInterval within;
        TimeInterval expected;
    };
    const Case cases[] = {{{5, 45}, 20}, {{10, 20}, 0}, {{-5, 100}, 30}, {{25, 25}, 0}, {{45, 5}, 0}, {{50, 60}, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(coveredDuration(covered, c.within), c.expected) << c.within.start << "..." << c.within.end;
    }
}

TEST(InsightsCoverage, UncleanInputIsCleanedFirst)
{
    const Date s = berlin(2024, 1, 15, 10);
    GlucoseReadings readings = readingsEvery(300, s, s + 6 * kHour);
    GlucoseReadings messy(readings.rbegin(), readings.rend());
    messy.push_back(reading(0, s + 7 * kHour));
    messy.push_back(reading(120, s + 10));   // a near duplicate of the first reading
    const DateInterval interval(s - kHour, s + 8 * kHour);
    EXPECT_EQ(insightsCoverage(messy, interval, kBerlin), insightsCoverage(readings, interval, kBerlin));
}

TEST(InsightsCoverage, DaysOfAnIntervalAndItsNights)
{
    // Monday 14:00 to Thursday 14:00: the nights of Tuesday, Wednesday and Thursday count.
    const DateInterval interval(berlin(2024, 1, 15, 14), berlin(2024, 1, 18, 14));
    const auto days = dayIntervals(interval, kBerlin);
    const std::vector<DateInterval> expected{{interval.start, berlin(2024, 1, 16)},
                                             {berlin(2024, 1, 16), berlin(2024, 1, 17)},
                                             {berlin(2024, 1, 17), berlin(2024, 1, 18)},
                                             {berlin(2024, 1, 18), interval.end}};
    EXPECT_EQ(days, expected);

    const auto nightsCovered = [&](std::vector<int> poorDays) {
        GlucoseReadings readings;
        for (Date t = interval.start; t < interval.end; t += 300) {
            const bool poor = std::any_of(poorDays.begin(), poorDays.end(), [&](int day) {
                return t >= berlin(2024, 1, day) && t < berlin(2024, 1, day, 6);
            });
            if (!poor) readings.push_back(reading(120, t));
        }
        return insightsCoverage(readings, interval, kBerlin).hasMissingNightWarning;
    };
    EXPECT_TRUE(nightsCovered({16, 17, 18}));
    EXPECT_FALSE(nightsCovered({16, 17}));
    // Monday's night lies before the interval and does not count.
    EXPECT_FALSE(nightsCovered({15, 16, 17}));
}

// Readings that cover the first `covered` seconds of each night of the given days.
GlucoseReadings nightReadings(std::vector<Date> nightStarts, TimeInterval covered)
{
    GlucoseReadings readings;
    for (const Date start : nightStarts) {
        Date t = start;
        for (; t + 300 <= start + covered; t += 300) readings.push_back(reading(120, t));
        if (t < start + covered) readings.push_back(reading(120, t, start + covered - t));
    }
    return readings;
}

TEST(InsightsCoverage, MissingNightWarningCountsPoorNights)
{
    struct Case {
        const char *name;
        int countedNights;
        int poorNights;
        bool warning;
    };
    const Case cases[] = {
        {"3 poor of 6", 6, 3, true},
        {"3 poor of 7", 7, 3, false},
        {"2 poor of 2", 2, 2, false},
        {"3 poor of 3", 3, 3, true},
        {"4 poor of 8", 8, 4, true},
    };
    for (const Case &c : cases) {
        // From Monday midnight to 06:00 of the last counted day.
        const DateInterval interval(berlin(2024, 1, 1), berlin(2024, 1, c.countedNights, 6));
        std::vector<Date> goodNights;
        for (int day = c.poorNights + 1; day <= c.countedNights; ++day) goodNights.push_back(berlin(2024, 1, day));
        const auto coverage = insightsCoverage(nightReadings(goodNights, 6 * kHour), interval, kBerlin);
        EXPECT_EQ(coverage.hasMissingNightWarning, c.warning) << c.name;
    }
}

TEST(InsightsCoverage, NightCoveredSeventyPercentIsNotPoor)
{
    const DateInterval interval(berlin(2024, 1, 1), berlin(2024, 1, 3, 6));
    const std::vector<Date> nights{berlin(2024, 1, 1), berlin(2024, 1, 2), berlin(2024, 1, 3)};
    EXPECT_FALSE(insightsCoverage(nightReadings(nights, 15120), interval, kBerlin).hasMissingNightWarning);
    EXPECT_TRUE(insightsCoverage(nightReadings(nights, 15098.4), interval, kBerlin).hasMissingNightWarning);
}

TEST(InsightsCoverage, HoursAcrossDaylightSavingChanges)
{
    struct Case {
        const char *zone;
        int year, month, day;   // the day before the change
        int changedHour;
        TimeInterval changedHourTotal;   // over the three days
        TimeInterval changeDayLength;
    };
    const Case cases[] = {
        {"Europe/Berlin", 2024, 3, 30, 2, 2 * kHour, 23 * kHour},      // 02:00 skipped
        {"Europe/Berlin", 2024, 10, 26, 2, 4 * kHour, 25 * kHour},     // 02:00 twice
        {"America/New_York", 2024, 3, 9, 2, 2 * kHour, 23 * kHour},
        {"America/New_York", 2024, 11, 2, 1, 4 * kHour, 25 * kHour},   // 01:00 twice
        // Santiago changes at midnight: 8 September 2024 starts at 01:00; 6 April 2024 ends
        // with 23:00 twice.
        {"America/Santiago", 2024, 9, 7, 0, 2 * kHour, 23 * kHour},
        {"America/Santiago", 2024, 4, 5, 23, 4 * kHour, 25 * kHour},
    };
    for (const Case &c : cases) {
        const LocalCalendar calendar(c.zone);
        const DateInterval interval(*calendar.date(c.year, c.month, c.day), *calendar.date(c.year, c.month, c.day + 3));
        const InsightsCoverage coverage = insightsCoverage(readingsEvery(300, interval.start, interval.end), interval, calendar);
        ASSERT_EQ(coverage.days.size(), 3u) << c.zone;
        EXPECT_EQ(coverage.days[1].interval.duration(), c.changeDayLength) << c.zone;
        EXPECT_EQ(coverage.days[1].coveredDuration, c.changeDayLength) << c.zone;
        EXPECT_EQ(coverage.hours[c.changedHour].totalDuration, c.changedHourTotal) << c.zone;
        EXPECT_EQ(coverage.hours[c.changedHour].coveredDuration, c.changedHourTotal) << c.zone;
        EXPECT_EQ(coverage.hours[12].totalDuration, 3 * kHour) << c.zone;
        EXPECT_EQ(hourTotals(coverage), interval.duration()) << c.zone;
        EXPECT_EQ(coverage.coveredDuration, coverage.totalDuration) << c.zone;
    }
}

TEST(InsightsCoverage, SpringForwardNightLastsFiveHours)
{
    // 3.6 h covered after midnight: 60 % of an ordinary night, 72 % of the 5-hour night of
    // 31 March, so only two of the three nights are poor.
    const std::vector<Date> nights{berlin(2024, 3, 30), berlin(2024, 3, 31), berlin(2024, 4, 1)};
    const DateInterval interval(nights.front(), berlin(2024, 4, 1, 6));
    EXPECT_FALSE(insightsCoverage(nightReadings(nights, 12960), interval, kBerlin).hasMissingNightWarning);

    const std::vector<Date> ordinary{berlin(2024, 3, 16), berlin(2024, 3, 17), berlin(2024, 3, 18)};
    EXPECT_TRUE(insightsCoverage(nightReadings(ordinary, 12960), DateInterval(ordinary.front(), berlin(2024, 3, 18, 6)),
                                 kBerlin)
                    .hasMissingNightWarning);
}

TEST(InsightsCoverage, FallBackNightLastsSevenHours)
{
    // 4.5 h covered: 75 % of an ordinary night, 64 % of the 7-hour night of 27 October.
    const std::vector<Date> nights{berlin(2024, 10, 26), berlin(2024, 10, 27), berlin(2024, 10, 28)};
    const DateInterval interval(nights.front(), berlin(2024, 10, 28, 6));
    const GlucoseReadings readings = nightReadings(nights, 16200);
    EXPECT_FALSE(insightsCoverage(readings, interval, kBerlin).hasMissingNightWarning);
    std::vector<DateInterval> covered = coveredIntervals(normalizedGlucoseReadings(readings), interval);
    const auto days = dayIntervals(interval, kBerlin);
    EXPECT_FALSE(hasMissingNightCoverage(days, interval, covered, kBerlin));
    // Only the long night is poor; with two more poor nights the warning shows.
    covered.erase(covered.begin());
    covered.pop_back();
    EXPECT_TRUE(hasMissingNightCoverage(days, interval, covered, kBerlin));
}

} // namespace
} // namespace quillby
