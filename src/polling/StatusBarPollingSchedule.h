#pragma once

#include "core/Date.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace quillby {

// How the last poll ended.
struct StatusBarPollOutcome {
    enum class Kind { httpError, newData, noNewData, networkError, sessionExpired };
    Kind kind = Kind::noNewData;
    std::optional<int> status;   // the HTTP status of an httpError, when known

    static StatusBarPollOutcome httpError(std::optional<int> status = std::nullopt) { return {Kind::httpError, status}; }
    static StatusBarPollOutcome newData() { return {Kind::newData, std::nullopt}; }
    static StatusBarPollOutcome noNewData() { return {Kind::noNewData, std::nullopt}; }
    static StatusBarPollOutcome networkError() { return {Kind::networkError, std::nullopt}; }
    static StatusBarPollOutcome sessionExpired() { return {Kind::sessionExpired, std::nullopt}; }
    bool operator==(const StatusBarPollOutcome &) const = default;
};

// A uniform draw from the closed range -1 ... 1 from the system random generator.
double defaultRandomUnit();

// The adaptive plan of the polling loop: remembers how the last poll ended and when the last
// reading was taken, and answers how long to sleep before the next poll. It never reads the
// clock; every operation is given the current date. Every computed interval is spread by up
// to 20 % either way (one random draw per computation) and is never shorter than 1 s.
struct StatusBarPollingSchedule {
    std::function<double()> randomUnit = defaultRandomUnit;
    TimeInterval readingInterval = 300;   // the provider's reading cadence
    int consecutiveFailures = 0;          // written by failure recovery
    StatusBarPollOutcome lastOutcome = StatusBarPollOutcome::noNewData();
    std::optional<Date> lastReadingDate;
    int fastResumeCycles = 0;
    int consecutiveNoData = 0;
    std::optional<Date> lastNoDataAt;
    std::optional<Date> nextPollDate;     // failure recovery also writes it (retry times)

    // Milliseconds to sleep before the next poll, rounded up. May consume a fast-resume cycle.
    // A planned date at least 5 s ahead is slept until; a nearer or past one is replaced by a
    // fresh interval. Before anything is known the answer is 5000.
    std::int64_t nextPollDelay(Date now);

    // A successful poll whose newest reading is dated `readingDate`; `isNew` tells whether it is
    // newer than the reading recorded before. The next poll is planned one cadence (+10 s below
    // a 300 s cadence, else +30 s) after the reading, counted from `now` instead when the
    // reading claims to be from the future, so a skewed date never pushes the poll out.
    void recordReading(Date readingDate, bool isNew, Date now);

    // An empty poll at `now`; returns how many empty polls fell within `window` seconds of
    // each other in a row (1 after a longer gap). Changes nothing else.
    int recordNoData(Date now, TimeInterval window);

    // Seconds until the next poll by the last outcome (jittered). May consume a fast-resume cycle.
    TimeInterval adaptiveBackoff(Date now);

    // The two tables behind adaptiveBackoff, jittered: 15, 30, 60, 120, 300, 600, 900 s by
    // failure count; 75, 150, 420, 900 s by the age of the last reading.
    TimeInterval failureBackoff(int failures);
    TimeInterval noNewDataBackoff(std::optional<TimeInterval> age);

    // base ± 20 % by one random draw, at least 1 s.
    TimeInterval jittered(TimeInterval base);

    // Forgets the poll history; keeps randomUnit and readingInterval.
    void reset();
};

} // namespace quillby
