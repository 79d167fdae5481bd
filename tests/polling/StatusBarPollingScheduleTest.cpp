#include "polling/StatusBarPollingSchedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

constexpr Date kNow = 1'800'000'000.0;

StatusBarPollingSchedule scheduleWithRandom(double unit)
{
    StatusBarPollingSchedule schedule;
    schedule.randomUnit = [unit] { return unit; };
    return schedule;
}

TEST(StatusBarPollingScheduleTest, NothingKnownWaitsFiveSeconds)
{
    auto schedule = scheduleWithRandom(0);
    EXPECT_EQ(schedule.nextPollDelay(kNow), 5000);
}

TEST(StatusBarPollingScheduleTest, PlannedDateIsSleptUntilOnlyWhenAtLeastFiveSecondsAway)
{
    auto schedule = scheduleWithRandom(0);
    schedule.lastReadingDate = kNow - 100;   // fresh reading: a replacement interval is 75 s

    schedule.nextPollDate = kNow + 5.0;
    EXPECT_EQ(schedule.nextPollDelay(kNow), 5000);
    schedule.nextPollDate = kNow + 4.999;
    EXPECT_EQ(schedule.nextPollDelay(kNow), 75000);
    schedule.nextPollDate = kNow - 30;
    EXPECT_EQ(schedule.nextPollDelay(kNow), 75000);
    // Rounded up: the sleep never ends before the planned date (a provider's retry time).
    schedule.nextPollDate = kNow + 90.0004;
    EXPECT_EQ(schedule.nextPollDelay(kNow), 90001);
    schedule.nextPollDate = kNow + 90.0;
    EXPECT_EQ(schedule.nextPollDelay(kNow), 90000);
}

TEST(StatusBarPollingScheduleTest, PlannedDateBeyondAnyMillisecondCountIsBounded)
{
    auto schedule = scheduleWithRandom(0);
    schedule.nextPollDate = 1e300;   // only a provider's retry time can be this far out
    EXPECT_GT(schedule.nextPollDelay(kNow), 0);
    schedule.nextPollDate = std::numeric_limits<double>::infinity();
    EXPECT_GT(schedule.nextPollDelay(kNow), 0);
}

TEST(StatusBarPollingScheduleTest, JitterSpreadsByTwentyPercentAndClampsTheDraw)
{
    struct Case {
        double unit;
        double expected;
    };
    for (const Case c : {Case{1.0, 90}, Case{-1.0, 60}, Case{3.0, 90}, Case{-7.0, 60}, Case{0.5, 82.5},
                         Case{std::nan(""), 75}}) {
        auto schedule = scheduleWithRandom(c.unit);
        EXPECT_DOUBLE_EQ(schedule.jittered(75), c.expected) << c.unit;
    }
    auto schedule = scheduleWithRandom(-1.0);
    EXPECT_DOUBLE_EQ(schedule.jittered(0.5), 1.0);   // never below one second
}

TEST(StatusBarPollingScheduleTest, DefaultRandomUnitStaysInTheClosedRange)
{
    double lowest = 2, highest = -2;
    for (int i = 0; i < 10000; ++i) {
        const double r = defaultRandomUnit();
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
    }
    EXPECT_GE(lowest, -1.0);
    EXPECT_LE(highest, 1.0);
    EXPECT_LT(lowest, -0.9);
    EXPECT_GT(highest, 0.9);
}

TEST(StatusBarPollingScheduleTest, FailureBackoffTable)
{
    auto schedule = scheduleWithRandom(0);
    const std::pair<int, double> cases[] = {{-3, 15}, {0, 15}, {1, 30}, {2, 60}, {3, 120},
                                            {4, 300}, {5, 600}, {6, 900}, {40, 900}};
    for (const auto &[failures, expected] : cases) {
        EXPECT_DOUBLE_EQ(schedule.failureBackoff(failures), expected) << failures;
    }
}

TEST(StatusBarPollingScheduleTest, NoNewDataBackoffByAgeOfTheLastReading)
{
    auto schedule = scheduleWithRandom(0);
    const std::pair<std::optional<double>, double> cases[] = {
        {-500, 75}, {0, 75},     {599.9, 75},  {600, 150},  {1799, 150},
        {1800, 420}, {3599, 420}, {3600, 900}, {86400, 900}, {std::nullopt, 900}};
    for (const auto &[age, expected] : cases) {
        EXPECT_DOUBLE_EQ(schedule.noNewDataBackoff(age), expected) << age.value_or(-1);
    }
}

TEST(StatusBarPollingScheduleTest, AdaptiveBackoffFollowsTheLastOutcome)
{
    auto schedule = scheduleWithRandom(0);
    schedule.consecutiveFailures = 3;
    schedule.lastOutcome = StatusBarPollOutcome::sessionExpired();
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 2700);
    schedule.lastOutcome = StatusBarPollOutcome::networkError();
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 120);
    schedule.lastOutcome = StatusBarPollOutcome::httpError(429);
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 120);
    schedule.lastOutcome = StatusBarPollOutcome::noNewData();
    schedule.lastReadingDate = kNow - 1000;
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 150);
}

TEST(StatusBarPollingScheduleTest, NewDataUsesTwoFastResumeIntervalsThenTheRegularOne)
{
    auto schedule = scheduleWithRandom(0);
    schedule.recordReading(kNow - 400, true, kNow);
    EXPECT_EQ(schedule.fastResumeCycles, 2);
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 45);
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 45);
    EXPECT_DOUBLE_EQ(schedule.adaptiveBackoff(kNow), 75);
    EXPECT_EQ(schedule.fastResumeCycles, 0);

    // A late reading: its plan is already past, so the loop takes the fast interval.
    schedule.recordReading(kNow - 400, true, kNow);
    EXPECT_EQ(schedule.nextPollDelay(kNow), 45000);
}

TEST(StatusBarPollingScheduleTest, RecordReadingKeepsMoreFastResumeCyclesAndSetsAtLeastTwo)
{
    for (const auto &[before, after] : {std::pair{0, 2}, std::pair{1, 2}, std::pair{5, 5}}) {
        auto schedule = scheduleWithRandom(0);
        schedule.fastResumeCycles = before;
        schedule.recordReading(kNow, true, kNow);
        EXPECT_EQ(schedule.fastResumeCycles, after);
    }
    auto schedule = scheduleWithRandom(0);
    schedule.fastResumeCycles = 1;
    schedule.recordReading(kNow, false, kNow);
    EXPECT_EQ(schedule.fastResumeCycles, 1);
    EXPECT_EQ(schedule.lastOutcome, StatusBarPollOutcome::noNewData());
}

TEST(StatusBarPollingScheduleTest, RecordReadingPlansAfterTheReadingAndClearsFailures)
{
    auto schedule = scheduleWithRandom(0);
    schedule.consecutiveFailures = 4;
    schedule.consecutiveNoData = 2;
    schedule.lastNoDataAt = kNow - 10;
    schedule.recordReading(kNow - 20, true, kNow);
    EXPECT_EQ(schedule.consecutiveFailures, 0);
    EXPECT_EQ(schedule.consecutiveNoData, 0);
    EXPECT_FALSE(schedule.lastNoDataAt);
    EXPECT_EQ(schedule.lastReadingDate, kNow - 20);
    EXPECT_EQ(schedule.lastOutcome, StatusBarPollOutcome::newData());
    EXPECT_DOUBLE_EQ(*schedule.nextPollDate, kNow - 20 + 330);
    EXPECT_EQ(schedule.nextPollDelay(kNow), 310000);

    schedule.readingInterval = 60;   // LibreLinkUp
    schedule.recordReading(kNow - 5, true, kNow);
    EXPECT_DOUBLE_EQ(*schedule.nextPollDate, kNow - 5 + 70);
}

TEST(StatusBarPollingScheduleTest, ReadingFromTheFutureDoesNotPushThePollOut)
{
    for (const double interval : {300.0, 60.0}) {
        for (const double ahead : {30.0, 3600.0, 86400.0 * 365}) {
            auto schedule = scheduleWithRandom(0);
            schedule.readingInterval = interval;
            schedule.recordReading(kNow + ahead, true, kNow);
            const double offset = interval < 300 ? 10 : 30;
            EXPECT_DOUBLE_EQ(*schedule.nextPollDate, kNow + interval + offset) << ahead;
            EXPECT_LE(schedule.nextPollDelay(kNow), static_cast<std::int64_t>((interval + 30) * 1000));
        }
    }
    // The same reading again later: still planned from the time of that poll, not its date.
    auto schedule = scheduleWithRandom(0);
    schedule.recordReading(kNow + 3600, true, kNow);
    schedule.recordReading(kNow + 3600, false, kNow + 330);
    EXPECT_DOUBLE_EQ(*schedule.nextPollDate, kNow + 660);
}

TEST(StatusBarPollingScheduleTest, NoDataCountsWithinTheWindowAndChangesNothingElse)
{
    auto schedule = scheduleWithRandom(0);
    schedule.nextPollDate = kNow + 100;
    EXPECT_EQ(schedule.recordNoData(kNow, 1800), 1);
    EXPECT_EQ(schedule.recordNoData(kNow + 1799, 1800), 2);
    EXPECT_EQ(schedule.recordNoData(kNow + 1799 + 1800, 1800), 1);
    EXPECT_EQ(schedule.lastNoDataAt, kNow + 3599);
    EXPECT_EQ(schedule.lastOutcome, StatusBarPollOutcome::noNewData());
    EXPECT_EQ(schedule.nextPollDate, kNow + 100);
}

TEST(StatusBarPollingScheduleTest, ResetForgetsHistoryButKeepsCadenceAndRandomSource)
{
    auto schedule = scheduleWithRandom(1.0);
    schedule.readingInterval = 60;
    schedule.recordReading(kNow, true, kNow);
    schedule.consecutiveFailures = 2;
    schedule.recordNoData(kNow, 1800);
    schedule.reset();
    EXPECT_EQ(schedule.readingInterval, 60);
    EXPECT_DOUBLE_EQ(schedule.jittered(100), 120);
    EXPECT_EQ(schedule.consecutiveFailures, 0);
    EXPECT_EQ(schedule.consecutiveNoData, 0);
    EXPECT_EQ(schedule.fastResumeCycles, 0);
    EXPECT_FALSE(schedule.lastReadingDate || schedule.lastNoDataAt || schedule.nextPollDate);
    EXPECT_EQ(schedule.nextPollDelay(kNow), 5000);
}

} // namespace
} // namespace quillby
