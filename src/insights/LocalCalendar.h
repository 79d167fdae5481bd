#pragma once

#include "core/Date.h"
#include "insights/DateInterval.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillby {

// A local date and time of one time zone.
struct LocalDateTime {
    int year = 1970;
    int month = 1;            // 1...12
    int day = 1;              // 1...31
    int hour = 0;             // 0...23
    int minute = 0;           // 0...59
    double second = 0;        // 0 up to (not including) 60, with the fraction of the instant
    std::int64_t dayNumber = 0;   // local calendar days since 1970-01-01; one per local day
    TimeInterval utcOffset = 0;   // seconds east of UTC in effect at the instant

    bool operator==(const LocalDateTime &) const = default;
};

// std::floor, bit for bit (the sign of zero included), without a library call: hot loops take
// the floor of every instant they look at.
inline double floorOf(double x)
{
    if (!(std::fabs(x) < 4503599627370496.0)) {   // 2^52: NaN, infinities and whole numbers
        return std::floor(x);
    }
    const double truncated = static_cast<double>(static_cast<std::int64_t>(x));
    if (truncated == x) {
        return x;
    }
    return truncated > x ? truncated - 1.0 : truncated;
}

// floor(a / b) for b > 0.
inline std::int64_t floorDivision(std::int64_t a, std::int64_t b)
{
    const std::int64_t quotient = a / b;
    return (a % b != 0 && a < 0) ? quotient - 1 : quotient;
}

// floor(seconds / 60) * 60 of the local seconds of a Clock: the start of the local minute.
inline double minuteFloor(double localSeconds)
{
    if (std::fabs(localSeconds) < 9007199254740992.0 && localSeconds == floorOf(localSeconds)) {
        return static_cast<double>(floorDivision(static_cast<std::int64_t>(localSeconds), 60) * 60);
    }
    return floorOf(localSeconds / 60.0) * 60.0;
}

// The Gregorian calendar in one time zone, with the time-zone rules of ICU.
//
// Building a local wall time that does not exist (a daylight-saving gap: 02:30 on the day clocks
// go forward at 02:00) gives the next valid time (03:00); a wall time that occurs twice (when
// clocks go back) gives its first occurrence. Days last 23 or 25 hours on change days.
//
// A LocalCalendar is an immutable value, cheap to copy and safe to use from any thread. Instants
// outside 1900...2299 have no calendar fields here: every query answers nothing for them, as it
// does for instants that are not finite.
class LocalCalendar {
public:
    // UTC.
    LocalCalendar();
    // An IANA identifier such as "Europe/Berlin". An identifier ICU does not know gives its
    // "Etc/Unknown" zone, which behaves as UTC; see isKnownTimeZone().
    explicit LocalCalendar(const std::string &timeZoneIdentifier);
    // The computer's current time zone.
    static LocalCalendar current();

    const std::string &timeZoneIdentifier() const;
    bool isKnownTimeZone() const;

    std::optional<TimeInterval> utcOffset(Date date) const;
    std::optional<LocalDateTime> components(Date date) const;
    std::optional<Date> startOfDay(Date date) const;
    // The calendar day containing `date`: from its start to the start of the next day.
    std::optional<DateInterval> dayInterval(Date date) const;
    std::optional<DateInterval> hourInterval(Date date) const;
    std::optional<DateInterval> minuteInterval(Date date) const;
    // The instant of a local wall time (month 1...12; fields out of range roll over).
    std::optional<Date> date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) const;
    // The given wall time on the local day that contains `onDayOf`.
    std::optional<Date> dateBySettingTime(int hour, int minute, int second, Date onDayOf) const;

    // Equal calendars use the same time zone.
    bool operator==(const LocalCalendar &other) const;

    class Cursor;
    struct Zone;

private:
    std::shared_ptr<const Zone> zone_;
};

// The same queries for one thread at a time, remembering where the last one was answered so
// that a calculation walking forward through time costs a comparison or two per query.
class LocalCalendar::Cursor {
public:
    explicit Cursor(const LocalCalendar &calendar);
    ~Cursor();
    Cursor(const Cursor &) = delete;
    Cursor &operator=(const Cursor &) = delete;

    // The local clock at an instant without its calendar date: the cheap query for hot loops.
    struct Clock {
        double localSeconds;      // seconds since local 1970-01-01 00:00
        std::int64_t dayNumber;   // as LocalDateTime::dayNumber
        int hour;
        int minute;
        TimeInterval utcOffset;
    };

    std::optional<TimeInterval> utcOffset(Date date)
    {
        // The offset span of the last answer, asked again: the common case of a walk forward.
        if (spanStart_ <= date && date < spanEnd_) {
            return spanOffset_;
        }
        return findOffset(date);
    }
    std::optional<Clock> clock(Date date)
    {
        const auto offset = utcOffset(date);
        if (!offset) {
            return std::nullopt;
        }
        const double local = date + *offset;
        if (std::fabs(local) < 9007199254740992.0 && local == floorOf(local)) {
            // A whole second below 2^53: every quotient below is then exact in integers, and
            // correctly rounded division followed by floor or truncation gives the same numbers.
            const auto seconds = static_cast<std::int64_t>(local);
            const std::int64_t day = floorDivision(seconds, 86400);
            const std::int64_t secondOfDay = seconds - day * 86400;
            const auto hour = static_cast<int>(secondOfDay / 3600);
            const auto minute = static_cast<int>((secondOfDay - hour * 3600) / 60);
            return Clock{local, day, hour, minute, *offset};
        }
        const double dayNumber = floorOf(local / kSecondsPerDay);
        const double secondOfDay = std::clamp(local - dayNumber * kSecondsPerDay, 0.0, kSecondsPerDay);
        const int hour = std::min(23, static_cast<int>(secondOfDay / 3600.0));
        const int minute = std::min(59, static_cast<int>((secondOfDay - hour * 3600.0) / 60.0));
        return Clock{local, static_cast<std::int64_t>(dayNumber), hour, minute, *offset};
    }
    // The instants [start, end) over which the offset of the last answer holds.
    double offsetSpanStart() const { return spanStart_; }
    double offsetSpanEnd() const { return spanEnd_; }

    std::optional<LocalDateTime> components(Date date);
    std::optional<Date> startOfDay(Date date);
    std::optional<DateInterval> dayInterval(Date date);
    std::optional<DateInterval> hourInterval(Date date);
    std::optional<DateInterval> minuteInterval(Date date);
    std::optional<Date> date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    std::optional<Date> dateBySettingTime(int hour, int minute, int second, Date onDayOf);

    const std::string &timeZoneIdentifier() const;

private:
    static constexpr double kSecondsPerDay = 86400.0;

    std::optional<TimeInterval> findOffset(Date date);
    std::optional<DateInterval> unitInterval(Date date, double unitSeconds);

    std::shared_ptr<const Zone> zone_;
    // The offset span of the last answer; empty until the first.
    double spanStart_ = 0;
    double spanEnd_ = 0;
    TimeInterval spanOffset_ = 0;
    struct WallClock;
    std::unique_ptr<WallClock> wallClock_;   // made on first use
};

} // namespace quillby
