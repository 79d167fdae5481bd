#pragma once

#include "core/Date.h"

#include <QCoroTask>

#include <memory>
#include <stop_token>

namespace quillby {

// Wall-clock and monotonic time, injected so tests can run hours of schedule in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;                 // wall clock, seconds since 1970 UTC
    virtual double monotonicNow() const = 0;      // seconds on a clock that never goes back
};

// Suspends a coroutine for a duration. Returns early (without throwing) when stop is
// requested; callers check their stop token after every await.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual QCoro::Task<void> sleep(double seconds, std::stop_token stop) = 0;
};

class SystemClock final : public Clock {
public:
    Date now() const override;
    double monotonicNow() const override;
    static std::shared_ptr<SystemClock> shared();
};

// Sleeps on the Qt event loop with a precise timer; long waits are re-armed in slices that fit
// a QTimer interval.
class EventLoopSleeper final : public Sleeper {
public:
    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override;
    static std::shared_ptr<EventLoopSleeper> shared();
};

} // namespace quillby
