#include "insights/LocalCalendar.h"

#include <unicode/basictz.h>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/tztrans.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace quillby {

namespace {

// The instants for which offsets are kept: 1900-01-01 to 2300-01-01 UTC.
constexpr double kRangeStart = -2208988800.0;
constexpr double kRangeEnd = 10413792000.0;

std::string utf8(const icu::UnicodeString &text)
{
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace

// One time zone's offsets from UTC over the supported range, read once from ICU: offsets[k] is
// in effect from starts[k] up to starts[k + 1] (or the end of the range).
struct LocalCalendar::Zone {
    std::string identifier;
    bool known = false;
    std::vector<double> starts;
    std::vector<double> offsets;
    std::unique_ptr<icu::Calendar> prototype;   // only cloned, under the mutex
    mutable std::mutex prototypeMutex;

    explicit Zone(const std::string &requested)
    {
        std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(requested)));
        icu::UnicodeString id;
        zone->getID(id);
        identifier = utf8(id);
        known = identifier != "Etc/Unknown";

        UErrorCode status = U_ZERO_ERROR;
        const auto offsetAt = [&](double seconds) {
            int32_t raw = 0;
            int32_t dst = 0;
            UErrorCode offsetStatus = U_ZERO_ERROR;
            zone->getOffset(seconds * 1000.0, false, raw, dst, offsetStatus);
            return U_SUCCESS(offsetStatus) ? (raw + dst) / 1000.0 : 0.0;
        };
        starts.push_back(kRangeStart);
        offsets.push_back(offsetAt(kRangeStart));
        if (const auto *basic = dynamic_cast<const icu::BasicTimeZone *>(zone.get())) {
            icu::TimeZoneTransition transition;
            double cursor = kRangeStart * 1000.0;
            while (basic->getNextTransition(cursor, false, transition) && transition.getTime() < kRangeEnd * 1000.0) {
                cursor = transition.getTime();
                const double start = cursor / 1000.0;
                const double offset = offsetAt(start);
                if (offset != offsets.back()) {
                    starts.push_back(start);
                    offsets.push_back(offset);
                }
            }
        }

        auto calendar = std::make_unique<icu::GregorianCalendar>(*zone, status);
        if (U_SUCCESS(status)) {
            calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
            calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
            calendar->setLenient(true);
            prototype = std::move(calendar);
        }
    }

    std::size_t spanIndex(double seconds) const
    {
        const auto after = std::upper_bound(starts.begin(), starts.end(), seconds);
        return static_cast<std::size_t>(after - starts.begin()) - 1;
    }

    double spanEnd(std::size_t index) const { return index + 1 < starts.size() ? starts[index + 1] : kRangeEnd; }

    // The instant of a wall time from the offsets, the one the calendar gives: the first of a wall
    // time that a change repeats, the change itself for one that it skips. False when the fields
    // are not a time of a real day or the wall time lies near either end of the range; the
    // calendar answers those.
    bool instantOfWallTime(int year, int month, int day, int hour, int minute, int second, double &instant) const
    {
        if (year < 1900 || year > 2300 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
            minute < 0 || minute > 59 || second < 0 || second > 59) {
            return false;
        }
        const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                               std::chrono::day{static_cast<unsigned>(day)}};
        if (!date.ok()) {
            return false;
        }
        constexpr double kDay = 86400.0;
        const double wall = static_cast<double>(std::chrono::sys_days{date}.time_since_epoch().count()) * kDay +
                            hour * 3600.0 + minute * 60.0 + second;
        if (!(wall > kRangeStart + 3 * kDay && wall < kRangeEnd - 3 * kDay)) {
            return false;
        }
        // Offsets lie within a day of UTC: only the spans within two days of the wall time can hold it.
        const std::size_t first = spanIndex(wall - 2 * kDay);
        const std::size_t last = spanIndex(wall + 2 * kDay);
        for (std::size_t k = first; k <= last; ++k) {   // spans in order: the first that holds it is the earliest
            const double candidate = wall - offsets[k];
            if (starts[k] <= candidate && candidate < spanEnd(k)) {
                instant = candidate;
                return true;
            }
        }
        for (std::size_t k = first + 1; k <= last; ++k) {   // skipped: by the change that jumped over it
            if (wall - offsets[k - 1] >= starts[k] && wall - offsets[k] < starts[k]) {
                instant = starts[k];
                return true;
            }
        }
        return false;
    }
};

namespace {

std::shared_ptr<const LocalCalendar::Zone> zoneNamed(const std::string &identifier)
{
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const LocalCalendar::Zone>> zones;
    const std::lock_guard lock(mutex);
    auto &zone = zones[identifier];
    if (!zone) {
        zone = std::make_shared<const LocalCalendar::Zone>(identifier);
    }
    return zone;
}

bool inRange(Date date)
{
    return date >= kRangeStart && date < kRangeEnd;   // false for NaN
}

} // namespace

// The ICU calendar of one cursor, and the instants of the wall times it has already built: a
// calculation asks for the same day starts again and again (a day's end is the next day's start,
// and every coverage and the night check ask for the same days).
struct LocalCalendar::Cursor::WallClock {
    struct Fields {
        int year, month, day, hour, minute, second;
        bool operator==(const Fields &) const = default;
    };
    struct FieldsHash {
        std::size_t operator()(const Fields &f) const
        {
            std::uint64_t h = 0;
            for (const int v : {f.year, f.month, f.day, f.hour, f.minute, f.second}) {
                h = (h ^ static_cast<std::uint32_t>(v)) * 0x100000001b3ull;
            }
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    std::unique_ptr<icu::Calendar> calendar;
    std::unordered_map<Fields, std::optional<Date>, FieldsHash> built;
};

LocalCalendar::LocalCalendar() : zone_(zoneNamed("UTC")) {}

LocalCalendar::LocalCalendar(const std::string &timeZoneIdentifier) : zone_(zoneNamed(timeZoneIdentifier)) {}

LocalCalendar LocalCalendar::current()
{
    // Asked afresh each time (ICU's default zone is fixed at first use), so a change of the
    // computer's zone shows in the next calendar made.
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    zone->getID(id);
    const std::string identifier = utf8(id);
    return identifier == "Etc/Unknown" ? LocalCalendar() : LocalCalendar(identifier);
}

const std::string &LocalCalendar::timeZoneIdentifier() const { return zone_->identifier; }
bool LocalCalendar::isKnownTimeZone() const { return zone_->known; }
bool LocalCalendar::operator==(const LocalCalendar &other) const { return zone_->identifier == other.zone_->identifier; }

std::optional<TimeInterval> LocalCalendar::utcOffset(Date date) const { return Cursor(*this).utcOffset(date); }
std::optional<LocalDateTime> LocalCalendar::components(Date date) const { return Cursor(*this).components(date); }
std::optional<Date> LocalCalendar::startOfDay(Date date) const { return Cursor(*this).startOfDay(date); }
std::optional<DateInterval> LocalCalendar::dayInterval(Date date) const { return Cursor(*this).dayInterval(date); }
std::optional<DateInterval> LocalCalendar::hourInterval(Date date) const { return Cursor(*this).hourInterval(date); }
std::optional<DateInterval> LocalCalendar::minuteInterval(Date date) const { return Cursor(*this).minuteInterval(date); }

std::optional<Date> LocalCalendar::date(int year, int month, int day, int hour, int minute, int second) const
{
    return Cursor(*this).date(year, month, day, hour, minute, second);
}

std::optional<Date> LocalCalendar::dateBySettingTime(int hour, int minute, int second, Date onDayOf) const
{
    return Cursor(*this).dateBySettingTime(hour, minute, second, onDayOf);
}

LocalCalendar::Cursor::Cursor(const LocalCalendar &calendar) : zone_(calendar.zone_) {}
LocalCalendar::Cursor::~Cursor() = default;

const std::string &LocalCalendar::Cursor::timeZoneIdentifier() const { return zone_->identifier; }

std::optional<TimeInterval> LocalCalendar::Cursor::findOffset(Date date)
{
    if (!inRange(date)) {
        return std::nullopt;
    }
    const std::size_t span = zone_->spanIndex(date);
    spanStart_ = zone_->starts[span];
    spanEnd_ = zone_->spanEnd(span);
    spanOffset_ = zone_->offsets[span];
    return spanOffset_;
}

std::optional<LocalDateTime> LocalCalendar::Cursor::components(Date date)
{
    const auto now = clock(date);
    if (!now) {
        return std::nullopt;
    }
    LocalDateTime result;
    result.dayNumber = now->dayNumber;
    result.hour = now->hour;
    result.minute = now->minute;
    result.second = std::max(0.0, now->localSeconds - static_cast<double>(now->dayNumber) * kSecondsPerDay -
                                      now->hour * 3600.0 - now->minute * 60.0);
    result.utcOffset = now->utcOffset;
    const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{result.dayNumber}}};
    result.year = static_cast<int>(ymd.year());
    result.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    result.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    return result;
}

std::optional<DateInterval> LocalCalendar::Cursor::unitInterval(Date date, double unitSeconds)
{
    const auto offset = utcOffset(date);
    if (!offset) {
        return std::nullopt;
    }
    const double local = date + *offset;
    const double start = std::floor(local / unitSeconds) * unitSeconds - *offset;
    return DateInterval(start, start + unitSeconds);
}

std::optional<DateInterval> LocalCalendar::Cursor::hourInterval(Date date) { return unitInterval(date, 3600.0); }
std::optional<DateInterval> LocalCalendar::Cursor::minuteInterval(Date date) { return unitInterval(date, 60.0); }

std::optional<Date> LocalCalendar::Cursor::date(int year, int month, int day, int hour, int minute, int second)
{
    // Ordinary wall times from the offsets: the same instant as the calendar's, without its work.
    if (double instant = 0;
        zone_->prototype && zone_->instantOfWallTime(year, month, day, hour, minute, second, instant)) {
        return instant;
    }
    if (!wallClock_) {
        wallClock_ = std::make_unique<WallClock>();
        const std::lock_guard lock(zone_->prototypeMutex);
        if (zone_->prototype) {
            wallClock_->calendar.reset(zone_->prototype->clone());
        }
    }
    icu::Calendar *calendar = wallClock_->calendar.get();
    if (!calendar) {
        return std::nullopt;
    }
    const WallClock::Fields fields{year, month, day, hour, minute, second};
    if (const auto found = wallClock_->built.find(fields); found != wallClock_->built.end()) {
        return found->second;
    }
    calendar->clear();
    calendar->set(year, month - 1, day, hour, minute, second);
    UErrorCode status = U_ZERO_ERROR;
    const double seconds = calendar->getTime(status) / 1000.0;
    std::optional<Date> result;
    if (!U_FAILURE(status) && inRange(seconds)) {
        result = seconds;
    }
    wallClock_->built.emplace(fields, result);
    return result;
}

std::optional<Date> LocalCalendar::Cursor::dateBySettingTime(int hour, int minute, int second, Date onDayOf)
{
    const auto day = components(onDayOf);
    if (!day) {
        return std::nullopt;
    }
    return date(day->year, day->month, day->day, hour, minute, second);
}

std::optional<Date> LocalCalendar::Cursor::startOfDay(Date date)
{
    return dateBySettingTime(0, 0, 0, date);
}

std::optional<DateInterval> LocalCalendar::Cursor::dayInterval(Date date)
{
    const auto day = components(date);
    if (!day) {
        return std::nullopt;
    }
    const auto start = this->date(day->year, day->month, day->day);
    // The next calendar day by name (the same instant the calendar gives for day + 1), so that
    // this day's end and the next day's start are one wall time.
    const std::chrono::year_month_day next{std::chrono::sys_days{std::chrono::days{day->dayNumber + 1}}};
    const auto end = this->date(static_cast<int>(next.year()), static_cast<int>(static_cast<unsigned>(next.month())),
                                static_cast<int>(static_cast<unsigned>(next.day())));
    if (!start || !end) {
        return std::nullopt;
    }
    return DateInterval(*start, *end);
}

} // namespace quillby
