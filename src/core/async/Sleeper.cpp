#include "core/async/Sleeper.h"

#include "core/Clock.h"

#include <QPointer>
#include <QTimer>

#include <QCoroTimer>

#include <algorithm>
#include <cmath>
#include <stop_token>

namespace quillby {

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
    // Timers run on a clock that stops while the computer is suspended; the deadline is kept on
    // the boot clock and re-checked at least every kMaxSliceMs, so a wait that ended during a
    // suspend ends soon after the resume.
    constexpr double kMaxSliceMs = 30'000;
    const double deadline = SystemClock().monotonicNow() + std::min(seconds, 1.0e9);
    while (!stop.stop_requested()) {
        const double remainingMs = (deadline - SystemClock().monotonicNow()) * 1000.0;
        if (remainingMs <= 0) {
            break;
        }
        const int slice = static_cast<int>(std::ceil(std::min(remainingMs, kMaxSliceMs)));
        co_await sleepSlice(slice, stop);
    }
}

} // namespace quillby
