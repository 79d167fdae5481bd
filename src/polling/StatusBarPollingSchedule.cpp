#include "polling/StatusBarPollingSchedule.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace quillby {

namespace {

constexpr TimeInterval kFastResumeInterval = 45;
constexpr TimeInterval kAfterNewDataInterval = 75;
constexpr TimeInterval kSessionExpiredInterval = 2700;
constexpr std::int64_t kMinimumPlannedDelayMs = 5000;
constexpr std::array<TimeInterval, 7> kFailureBackoff{15, 30, 60, 120, 300, 600, 900};

// Milliseconds of a span, rounded up so that a sleep never ends before the time it was planned
// for, and kept inside the range of the result. Less than a microsecond over a whole millisecond
// is the rounding of two dates subtracted, not time: it does not add a millisecond.
std::int64_t milliseconds(double seconds)
{
    const double ms = std::ceil(seconds * 1000.0 - 0.001);
    constexpr double limit = 9.0e18;   // below the largest signed 64-bit value
    return static_cast<std::int64_t>(std::clamp(ms, -limit, limit));
}

} // namespace

double defaultRandomUnit()
{
    thread_local std::mt19937_64 generator{std::random_device{}()};
    // A real distribution never returns its upper bound (and widening the bound by one step
    // rounds back to a width of exactly 2). Draw one of the 2^53 + 1 evenly spaced points of
    // -1 ... 1 instead; each is exact, so both ends come up.
    constexpr std::uint64_t steps = std::uint64_t{1} << 53;
    std::uniform_int_distribution<std::uint64_t> distribution(0, steps);
    return std::ldexp(static_cast<double>(distribution(generator)), -52) - 1.0;
}

TimeInterval StatusBarPollingSchedule::jittered(TimeInterval base)
{
    double r = randomUnit ? randomUnit() : 0.0;
    if (std::isnan(r)) {
        r = 0;
    }
    const double c = std::clamp(r, -1.0, 1.0);
    return std::max(base + 0.2 * base * c, 1.0);
}

std::int64_t StatusBarPollingSchedule::nextPollDelay(Date now)
{
    if (nextPollDate && !std::isnan(*nextPollDate)) {
        const std::int64_t planned = milliseconds(*nextPollDate - now);
        if (planned > kMinimumPlannedDelayMs - 1) {
            return planned;
        }
    }
    if (!lastReadingDate && !nextPollDate) {
        return kMinimumPlannedDelayMs;
    }
    return std::max<std::int64_t>(milliseconds(adaptiveBackoff(now)), 1000);
}

void StatusBarPollingSchedule::recordReading(Date readingDate, bool isNew, Date now)
{
    consecutiveFailures = 0;
    consecutiveNoData = 0;
    lastNoDataAt.reset();
    lastReadingDate = readingDate;
    if (isNew) {
        lastOutcome = StatusBarPollOutcome::newData();
        fastResumeCycles = std::max(fastResumeCycles, 2);
    } else {
        lastOutcome = StatusBarPollOutcome::noNewData();
    }
    // A reading from the future (clock skew, provider error) must not push the poll out: plan
    // from now instead, so the plan is never further than one cadence plus 30 s away.
    const Date base = std::isnan(readingDate) ? now : std::min(readingDate, now);
    nextPollDate = base + readingInterval + (readingInterval < 300 ? 10.0 : 30.0);
}

int StatusBarPollingSchedule::recordNoData(Date now, TimeInterval window)
{
    if (lastNoDataAt && now - *lastNoDataAt < window) {
        ++consecutiveNoData;
    } else {
        consecutiveNoData = 1;
    }
    lastNoDataAt = now;
    return consecutiveNoData;
}

TimeInterval StatusBarPollingSchedule::adaptiveBackoff(Date now)
{
    switch (lastOutcome.kind) {
    case StatusBarPollOutcome::Kind::newData:
        if (fastResumeCycles >= 1) {
            --fastResumeCycles;
            return jittered(kFastResumeInterval);
        }
        return jittered(kAfterNewDataInterval);
    case StatusBarPollOutcome::Kind::sessionExpired:
        return jittered(kSessionExpiredInterval);
    case StatusBarPollOutcome::Kind::networkError:
    case StatusBarPollOutcome::Kind::httpError:
        return failureBackoff(consecutiveFailures);
    case StatusBarPollOutcome::Kind::noNewData:
        break;
    }
    return noNewDataBackoff(lastReadingDate ? std::optional<TimeInterval>(now - *lastReadingDate) : std::nullopt);
}

TimeInterval StatusBarPollingSchedule::failureBackoff(int failures)
{
    const auto index = static_cast<std::size_t>(std::clamp(failures, 0, 6));
    return jittered(kFailureBackoff[index]);
}

TimeInterval StatusBarPollingSchedule::noNewDataBackoff(std::optional<TimeInterval> age)
{
    TimeInterval base = 900;
    if (age && !std::isnan(*age)) {
        if (*age < 600) {
            base = 75;   // also a reading dated in the future
        } else if (*age < 1800) {
            base = 150;
        } else if (*age < 3600) {
            base = 420;
        }
    }
    return jittered(base);
}

void StatusBarPollingSchedule::reset()
{
    consecutiveFailures = 0;
    lastOutcome = StatusBarPollOutcome::noNewData();
    lastReadingDate.reset();
    fastResumeCycles = 0;
    consecutiveNoData = 0;
    lastNoDataAt.reset();
    nextPollDate.reset();
}

} // namespace quillby
