#pragma once

#include "core/Date.h"

#include <memory>

namespace quillby {

// Wall-clock and monotonic time (the monotonic clock keeps counting while the computer is
// suspended), injected so tests can run hours of schedule in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;                 // wall clock, seconds since 1970 UTC
    virtual double monotonicNow() const = 0;      // seconds on a clock that never goes back
};

class SystemClock final : public Clock {
public:
    Date now() const override;
    double monotonicNow() const override;
};

} // namespace quillby
