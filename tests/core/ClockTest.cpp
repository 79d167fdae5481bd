#include "core/Clock.h"
#include "core/async/Sleeper.h"

#include "TaskRunner.h"
#include "WaitUntil.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <stop_token>

namespace quillby {
namespace {

TEST(EventLoopSleeper, WaitsAtLeastTheRequestedTimeAndWakesEarlyOnStop)
{
    EventLoopSleeper sleeper;
    QElapsedTimer elapsed;
    elapsed.start();
    test::runTask(sleeper.sleep(0.12, {}));
    EXPECT_GE(elapsed.elapsed(), 120);

    std::stop_source stop;
    QTimer::singleShot(50, [&stop] { stop.request_stop(); });
    elapsed.restart();
    test::runTask(sleeper.sleep(3600, stop.get_token()));
    EXPECT_LT(elapsed.elapsed(), test::scaledTimeoutMs(5000));

    elapsed.restart();
    test::runTask(sleeper.sleep(-1, {}));   // nothing to wait for
    EXPECT_LT(elapsed.elapsed(), test::scaledTimeoutMs(1000));
}

TEST(SystemClock, MonotonicTimeNeverGoesBack)
{
    SystemClock clock;
    const double first = clock.monotonicNow();
    EXPECT_GE(clock.monotonicNow(), first);
    EXPECT_GT(clock.now(), 1.7e9);
}

} // namespace
} // namespace quillby
