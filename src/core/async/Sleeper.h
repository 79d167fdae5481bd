#pragma once

#include <QCoroTask>

#include <memory>
#include <stop_token>

namespace quillby {

// Suspends a coroutine for a duration. Returns early (without throwing) when stop is
// requested; callers check their stop token after every await.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual QCoro::Task<void> sleep(double seconds, std::stop_token stop) = 0;
};

// Sleeps on the Qt event loop with a precise timer; long waits are re-armed in slices that fit
// a QTimer interval.
class EventLoopSleeper final : public Sleeper {
public:
    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override;
};

} // namespace quillby
