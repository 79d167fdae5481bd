#include "providers/AsyncSerialQueue.h"

#include "core/OperationCancelledError.h"

#include "fakes/TaskRunner.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <QCoroTimer>

#include <stdexcept>
#include <string>
#include <vector>

using namespace quillby;
using namespace quillby::test;

namespace {

QCoro::Task<void> holdTurn(AsyncSerialQueue *queue, std::vector<std::string> *log, std::string name, int ms,
                           std::stop_token stop)
{
    auto turn = co_await queue->acquire(stop);
    log->push_back(name + " start");
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(ms);
    co_await timer;
    log->push_back(name + " end");
}

QCoro::Task<void> failDuringTurn(AsyncSerialQueue *queue, std::vector<std::string> *log)
{
    auto turn = co_await queue->acquire();
    log->push_back("failing start");
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(5);
    co_await timer;
    throw std::runtime_error("failed");
}

TEST(AsyncSerialQueue, TurnsFollowArrivalOrderWithoutOverlap)
{
    AsyncSerialQueue queue;
    std::vector<std::string> log;
    auto a = holdTurn(&queue, &log, "a", 30, {});
    auto b = holdTurn(&queue, &log, "b", 0, {});
    auto c = holdTurn(&queue, &log, "c", 10, {});
    runTask(std::move(a));
    runTask(std::move(b));
    runTask(std::move(c));
    EXPECT_EQ(log, (std::vector<std::string>{"a start", "a end", "b start", "b end", "c start", "c end"}));
}

TEST(AsyncSerialQueue, CancelledWaiterLeavesTheLineAndAThrowingHolderReleasesIt)
{
    AsyncSerialQueue queue;
    std::vector<std::string> log;
    std::stop_source stop;
    auto a = holdTurn(&queue, &log, "a", 50, {});
    auto b = holdTurn(&queue, &log, "b", 0, stop.get_token());
    auto c = holdTurn(&queue, &log, "c", 0, {});
    stop.request_stop();
    EXPECT_THROW(runTask(std::move(b)), OperationCancelledError);
    EXPECT_EQ(log, (std::vector<std::string>{"a start"}));   // b left while a still held the turn
    runTask(std::move(a));
    runTask(std::move(c));
    EXPECT_EQ(log, (std::vector<std::string>{"a start", "a end", "c start", "c end"}));

    // An already-stopped caller never gets a turn.
    EXPECT_THROW(runTask(holdTurn(&queue, &log, "d", 0, stop.get_token())), OperationCancelledError);

    // A holder that fails hands the turn on.
    log.clear();
    auto failing = failDuringTurn(&queue, &log);
    auto next = holdTurn(&queue, &log, "e", 0, {});
    EXPECT_THROW(runTask(std::move(failing)), std::runtime_error);
    runTask(std::move(next));
    EXPECT_EQ(log, (std::vector<std::string>{"failing start", "e start", "e end"}));
}

} // namespace
