#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/async/EventLoopTurn.h"

#include <vector>

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

// A sleeper that advances the fake clock by the requested time and resumes on the next
// event-loop turn, so a day of schedule runs in milliseconds. It records every request.
class FakeSleeper final : public Sleeper {
public:
    explicit FakeSleeper(FakeClock &clock) : clock_(clock) {}
    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override
    {
        requests.push_back(seconds);
        co_await nextEventLoopTurn();
        if (!stop.stop_requested() && seconds > 0) {
            clock_.advance(seconds);
        }
    }
    std::vector<double> requests;

private:
    FakeClock &clock_;
};

} // namespace quillby::test
