#include "core/NetworkReachabilityMonitoring.h"

#include "fakes/TaskRunner.h"
#include "fakes/WaitUntil.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace quillby {
namespace {

using test::runTask;

TEST(NetworkMonitorTest, WaitWhileReachableReturnsAtOnceWithoutWaiter)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    EXPECT_FALSE(monitor.isReachable()) << "unreachable until the first update";
    monitor.updateReachability(true);
    auto wait = monitor.waitUntilReachable(60);
    EXPECT_EQ(monitor.waiterCount(), 0u);
    EXPECT_TRUE(runTask(std::move(wait)));
}

TEST(NetworkMonitorTest, ReachableUpdateResumesEveryWaiterOnce)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    auto first = monitor.waitUntilReachable(3600);
    auto second = monitor.waitUntilReachable(3600);
    EXPECT_EQ(monitor.waiterCount(), 2u);
    QTimer::singleShot(5, &monitor, [&monitor] {
        monitor.updateReachability(false);   // not reachable: waiters keep waiting
        monitor.updateReachability(true);
        monitor.updateReachability(true);    // a second update finds nobody
    });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(runTask(std::move(first)));
    EXPECT_TRUE(runTask(std::move(second)));
    EXPECT_LT(elapsed.elapsed(), test::scaledTimeoutMs(10'000));
    EXPECT_EQ(monitor.waiterCount(), 0u);
}

TEST(NetworkMonitorTest, UpdateFromAnotherThreadIsDelivered)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    auto wait = monitor.waitUntilReachable(60);
    std::thread updater([&monitor] { monitor.updateReachability(true); });
    EXPECT_TRUE(runTask(std::move(wait)));
    updater.join();
}

TEST(NetworkMonitorTest, TimeOutAnswersWithTheStateOfThatMoment)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    for (double timeout : {0.0, 0.02, -1.0}) {
        SCOPED_TRACE(timeout);
        EXPECT_FALSE(runTask(monitor.waitUntilReachable(timeout)));
        EXPECT_EQ(monitor.waiterCount(), 0u);
    }
    monitor.updateReachability(true);   // nobody left to resume
    EXPECT_TRUE(monitor.isReachable());
}

TEST(NetworkMonitorTest, StopEndsTheWaitAtOnceWithTheCurrentState)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    std::stop_source stop;
    auto wait = monitor.waitUntilReachable(3600, stop.get_token());
    std::thread canceller([&stop] { stop.request_stop(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(runTask(std::move(wait)));
    EXPECT_LT(elapsed.elapsed(), test::scaledTimeoutMs(10'000));
    EXPECT_EQ(monitor.waiterCount(), 0u);
    canceller.join();
}

TEST(NetworkMonitorTest, StopRequestedBeforeTheWaitEndsItOnTheNextTurn)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(runTask(monitor.waitUntilReachable(60, stop.get_token())));
    EXPECT_EQ(monitor.waiterCount(), 0u);
}

TEST(NetworkMonitorTest, ChangesAreSignalledOnce)
{
    NetworkMonitor monitor(NetworkMonitor::Source::manual);
    std::vector<bool> changes;
    QObject::connect(&monitor, &NetworkMonitor::reachabilityChanged, &monitor,
                     [&changes](bool reachable) { changes.push_back(reachable); });
    monitor.updateReachability(false);
    monitor.updateReachability(true);
    monitor.updateReachability(true);
    monitor.updateReachability(false);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

TEST(NetworkMonitorTest, DestroyedMonitorReleasesItsWaiters)
{
    auto monitor = std::make_unique<NetworkMonitor>(NetworkMonitor::Source::manual);
    auto wait = monitor->waitUntilReachable(60);
    QTimer::singleShot(5, [&monitor] { monitor.reset(); });
    EXPECT_FALSE(runTask(std::move(wait)));
}

TEST(NetworkMonitorTest, SystemMonitorAnswersFromTheSystemState)
{
    NetworkMonitor monitor(NetworkMonitor::Source::system);
    // Whatever the machine's state, a zero time-out answers with it and leaves no waiter.
    EXPECT_EQ(runTask(monitor.waitUntilReachable(0)), monitor.isReachable());
    EXPECT_EQ(monitor.waiterCount(), 0u);
}

} // namespace
} // namespace quillby
