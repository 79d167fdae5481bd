#pragma once

#include "core/Clock.h"

namespace quillby::test {

// A clock whose time only moves when told to. Wall and monotonic time move together.
class FakeClock final : public Clock {
public:
    explicit FakeClock(Date start = 1'800'000'000.0) : wall_(start) {}
    Date now() const override { return wall_; }
    double monotonicNow() const override { return monotonic_; }
    void advance(double seconds) { wall_ += seconds; monotonic_ += seconds; }
    void setNow(Date date) { wall_ = date; }   // moves only the wall clock (clock change)

private:
    Date wall_;
    double monotonic_ = 1000.0;
};

} // namespace quillby::test
