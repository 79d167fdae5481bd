#include "insights/LocalCalendar.h"

#include <gtest/gtest.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <chrono>
#include <memory>

#include <cmath>
#include <limits>
#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

namespace quillby {
namespace {

// Fixed instants, seconds since 1970 UTC.
constexpr Date kBerlinSpringForward = 1711846800;   // 2024-03-31 01:00 UTC: 02:00 CET -> 03:00 CEST
constexpr Date kBerlinFallBack = 1729990800;        // 2024-10-27 01:00 UTC: 03:00 CEST -> 02:00 CET
constexpr Date kNewYorkSpringForward = 1710054000;  // 2024-03-10 07:00 UTC: 02:00 EST -> 03:00 EDT
constexpr Date kNewYorkFallBack = 1730613600;       // 2024-11-03 06:00 UTC: 02:00 EDT -> 01:00 EST

TEST(LocalCalendar, WallTimesInGapsAndRepeats)
{
    struct Case {
        const char *zone;
        int year, month, day, hour, minute;
        Date expected;
    };
    const Case cases[] = {
        {"Europe/Berlin", 2024, 1, 15, 12, 0, 1705316400},                   // ordinary: 11:00 UTC
        {"Europe/Berlin", 2024, 3, 31, 2, 30, kBerlinSpringForward},         // gap: the next valid time, 03:00
        {"Europe/Berlin", 2024, 3, 31, 3, 0, kBerlinSpringForward},
        {"Europe/Berlin", 2024, 10, 27, 2, 30, kBerlinFallBack - 1800},      // repeat: the first, CEST
        {"Europe/Berlin", 2024, 10, 27, 3, 0, kBerlinFallBack + 3600},
        {"America/New_York", 2024, 3, 10, 2, 30, kNewYorkSpringForward},
        {"America/New_York", 2024, 11, 3, 1, 30, kNewYorkFallBack - 1800},   // first 01:30, EDT
        {"America/New_York", 2024, 11, 3, 0, 0, kNewYorkFallBack - 7200},
        {"UTC", 1970, 1, 1, 0, 0, 0},
        {"Europe/Berlin", 2024, 12, 32, 0, 0, 1735689600 - 3600},            // rolls over to 2025-01-01
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LocalCalendar(c.zone).date(c.year, c.month, c.day, c.hour, c.minute), c.expected)
            << c.zone << " " << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
    }
}

// Wall times around every kind of change (half-hour and whole-day jumps, midnight gaps, offsets
// that are not whole hours) give the instant ICU's calendar gives with the same options.
TEST(LocalCalendar, WallTimesMatchTheCalendarAcrossZones)
{
    const std::chrono::sys_days from{std::chrono::year{1970} / 1 / 1};
    const std::chrono::sys_days to{std::chrono::year{2040} / 1 / 1};
    for (const char *zone : {"Europe/Berlin", "America/Sao_Paulo", "Australia/Lord_Howe", "Pacific/Apia",
                             "Asia/Kathmandu", "America/Havana", "Asia/Beirut", "Europe/Dublin", "UTC"}) {
        UErrorCode status = U_ZERO_ERROR;
        icu::GregorianCalendar icuCalendar(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)), status);
        ASSERT_TRUE(U_SUCCESS(status)) << zone;
        icuCalendar.setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
        icuCalendar.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
        const LocalCalendar calendar(zone);
        LocalCalendar::Cursor cursor(calendar);
        int mismatches = 0;
        for (std::chrono::sys_days d = from; d < to && mismatches < 5; d += std::chrono::days{1}) {
            const std::chrono::year_month_day ymd{d};
            const int y = static_cast<int>(ymd.year());
            const int m = static_cast<int>(static_cast<unsigned>(ymd.month()));
            const int day = static_cast<int>(static_cast<unsigned>(ymd.day()));
            for (const auto [h, min] : {std::pair{0, 0}, {0, 30}, {1, 0}, {1, 30}, {2, 0}, {2, 30}, {3, 0}, {6, 0}, {23, 45}}) {
                icuCalendar.clear();
                icuCalendar.set(y, m - 1, day, h, min, 0);
                const double expected = icuCalendar.getTime(status) / 1000.0;
                const auto actual = cursor.date(y, m, day, h, min, 0);
                if (actual != expected) {
                    ++mismatches;
                    ADD_FAILURE() << zone << " " << y << "-" << m << "-" << day << " " << h << ":" << min;
                }
            }
        }
    }
}

TEST(LocalCalendar, ComponentsFollowTheOffsetInEffect)
{
    const LocalCalendar berlin("Europe/Berlin");
    const auto before = berlin.components(kBerlinSpringForward - 0.5);
    ASSERT_TRUE(before);
    EXPECT_EQ((std::tuple(before->year, before->month, before->day, before->hour, before->minute)),
              std::tuple(2024, 3, 31, 1, 59));
    EXPECT_DOUBLE_EQ(before->second, 59.5);
    EXPECT_EQ(before->utcOffset, 3600);
    const auto after = berlin.components(kBerlinSpringForward);
    EXPECT_EQ(after->hour, 3);
    EXPECT_EQ(after->utcOffset, 7200);
    EXPECT_EQ(after->dayNumber, before->dayNumber);

    // Both 02:30s of the fall-back night.
    EXPECT_EQ(berlin.components(kBerlinFallBack - 1800)->hour, 2);
    EXPECT_EQ(berlin.components(kBerlinFallBack + 1800)->hour, 2);
    EXPECT_EQ(LocalCalendar("America/New_York").components(kNewYorkFallBack + 1800)->hour, 1);
}

TEST(LocalCalendar, DaysLast23Or25HoursOnChangeDays)
{
    struct Case {
        const char *zone;
        Date instant;
        TimeInterval length;
        int startHourUTC;
    };
    const Case cases[] = {
        {"Europe/Berlin", kBerlinSpringForward, 23 * 3600, 23},
        {"Europe/Berlin", kBerlinFallBack, 25 * 3600, 22},
        {"Europe/Berlin", 1705316400, 24 * 3600, 23},
        {"America/New_York", kNewYorkSpringForward, 23 * 3600, 5},
        {"America/New_York", kNewYorkFallBack, 25 * 3600, 4},
        // Midnight skipped: 8 September 2024 in Santiago starts at 01:00 (04:00 UTC).
        {"America/Santiago", 1725807600, 23 * 3600, 4},
        // Clocks go back at midnight: 6 April 2024 ends at the 00:00 after its second 23:00.
        {"America/Santiago", 1712415600, 25 * 3600, 3},
        {"America/Santiago", 1712505600, 24 * 3600, 4},
    };
    for (const Case &c : cases) {
        const LocalCalendar calendar(c.zone);
        const auto day = calendar.dayInterval(c.instant);
        ASSERT_TRUE(day) << c.zone;
        EXPECT_EQ(day->duration(), c.length) << c.zone << " " << c.instant;
        EXPECT_EQ(std::fmod(day->start, 86400) / 3600, c.startHourUTC) << c.zone << " " << c.instant;
        EXPECT_EQ(calendar.startOfDay(c.instant), day->start);
        EXPECT_LE(day->start, c.instant);
        EXPECT_GT(day->end, c.instant);
    }
}

TEST(LocalCalendar, HourAndMinuteIntervals)
{
    const LocalCalendar berlin("Europe/Berlin");
    // 01:30 CET on the spring-forward day: its hour ends where 03:00 CEST begins.
    EXPECT_EQ(berlin.hourInterval(kBerlinSpringForward - 1800), DateInterval(kBerlinSpringForward - 3600, kBerlinSpringForward));
    // The two 02:00 hours of the fall-back night are separate hours.
    EXPECT_EQ(berlin.hourInterval(kBerlinFallBack - 1), DateInterval(kBerlinFallBack - 3600, kBerlinFallBack));
    EXPECT_EQ(berlin.hourInterval(kBerlinFallBack), DateInterval(kBerlinFallBack, kBerlinFallBack + 3600));
    EXPECT_EQ(berlin.minuteInterval(1705316400 + 450.5), DateInterval(1705316400 + 420, 1705316400 + 480));
    // India is 5:30 ahead: its hours start at half past in UTC.
    EXPECT_EQ(LocalCalendar("Asia/Kolkata").hourInterval(1705316400), DateInterval(1705316400 - 1800, 1705316400 + 1800));
}

TEST(LocalCalendar, ZonesAndUnsupportedInstants)
{
    EXPECT_EQ(LocalCalendar().timeZoneIdentifier(), "UTC");
    EXPECT_EQ(LocalCalendar("Europe/Berlin"), LocalCalendar("Europe/Berlin"));
    EXPECT_NE(LocalCalendar("Europe/Berlin"), LocalCalendar("America/New_York"));
    const LocalCalendar unknown("Not/AZone");
    EXPECT_FALSE(unknown.isKnownTimeZone());
    EXPECT_EQ(unknown.timeZoneIdentifier(), "Etc/Unknown");
    EXPECT_EQ(unknown.utcOffset(1705316400), 0);
    EXPECT_TRUE(LocalCalendar("America/New_York").isKnownTimeZone());
    EXPECT_FALSE(LocalCalendar::current().timeZoneIdentifier().empty());

    const LocalCalendar berlin("Europe/Berlin");
    for (const Date bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), 1e12, -3e9}) {
        EXPECT_FALSE(berlin.components(bad)) << bad;
        EXPECT_FALSE(berlin.dayInterval(bad)) << bad;
        EXPECT_FALSE(berlin.hourInterval(bad)) << bad;
    }
    EXPECT_FALSE(berlin.date(2500, 1, 1));
}

TEST(LocalCalendar, CursorAgreesWithTheCalendarWalkingBackAndForth)
{
    const LocalCalendar calendar("America/New_York");
    LocalCalendar::Cursor cursor(calendar);
    for (Date date : {kNewYorkFallBack + 10, kNewYorkSpringForward - 10, kNewYorkFallBack - 10, 0.0, 4e9,
                      kNewYorkSpringForward + 10}) {
        EXPECT_EQ(cursor.components(date), calendar.components(date)) << date;
        EXPECT_EQ(cursor.dayInterval(date), calendar.dayInterval(date)) << date;
    }
}

TEST(LocalCalendar, ConcurrentUseFromSeveralThreads)
{
    const LocalCalendar calendar("Europe/Berlin");
    std::vector<std::thread> threads;
    std::atomic<int> mismatches = 0;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&calendar, &mismatches] {
            for (int i = 0; i < 200; ++i) {
                if (calendar.dayInterval(kBerlinFallBack)->duration() != 25 * 3600 ||
                    calendar.date(2024, 3, 31, 2, 30) != kBerlinSpringForward) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(mismatches, 0);
}

} // namespace
} // namespace quillby
