#include "core/Clock.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <QCoroTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stop_token>

namespace quillby {

Date SystemClock::now() const
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double SystemClock::monotonicNow() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::shared_ptr<SystemClock> SystemClock::shared()
{
    static auto clock = std::make_shared<SystemClock>();
    return clock;
}

namespace {

// Waits for one timer slice, or until stop is requested.
QCoro::Task<void> sleepSlice(int milliseconds, std::stop_token stop)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    std::stop_callback onStop(stop, [&timer] {
        // The stop may come from another thread: fire the timer on its own thread.
        QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    timer.start(milliseconds);
    co_await timer;
}

} // namespace

QCoro::Task<void> EventLoopSleeper::sleep(double seconds, std::stop_token stop)
{
    if (!(seconds > 0) || stop.stop_requested()) {
        co_return;
    }
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration_cast<nanoseconds>(duration<double>(std::min(seconds, 1.0e9)));
    while (!stop.stop_requested()) {
        const auto remaining = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (remaining <= 0) {
            break;
        }
        const int slice = static_cast<int>(std::min<long long>(remaining, 24LL * 3600 * 1000));
        co_await sleepSlice(slice, stop);
    }
}

std::shared_ptr<EventLoopSleeper> EventLoopSleeper::shared()
{
    static auto sleeper = std::make_shared<EventLoopSleeper>();
    return sleeper;
}

} // namespace quillby
