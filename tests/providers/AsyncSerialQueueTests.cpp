#include "core/async/AsyncSerialQueue.h"

#include "core/OperationCancelledError.h"

#include "fakes/TaskRunner.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <QCoroTimer>

#include <coroutine>
#include <stdexcept>
#include <utility>
#include <string>
#include <vector>

using namespace quillby;
using namespace quillby::test;

namespace {

// A gate the test opens: a holder keeps its turn until then, however slow the machine.
class Gate {
public:
    void open()
    {
        open_ = true;
        for (auto handle : std::exchange(waiting_, {})) {
            QTimer::singleShot(0, [handle] { handle.resume(); });
        }
    }
    auto wait()
    {
        struct Await {
            Gate *gate;
            bool await_ready() const noexcept { return gate->open_; }
            void await_suspend(std::coroutine_handle<> handle) { gate->waiting_.push_back(handle); }
            void await_resume() const noexcept {}
        };
        return Await{this};
    }

private:
    bool open_ = false;
    std::vector<std::coroutine_handle<>> waiting_;
};

// Takes a turn, logs its start, holds the turn until `gate` opens (none: one event-loop turn),
// then logs its end.
QCoro::Task<void> holdTurn(AsyncSerialQueue *queue, std::vector<std::string> *log, std::string name, Gate *gate,
                           std::stop_token stop)
{
    auto turn = co_await queue->acquire(stop);
    log->push_back(name + " start");
    if (gate) {
        co_await gate->wait();
    } else {
        QTimer timer;
        timer.setSingleShot(true);
        timer.start(0);
        co_await timer;
    }
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
    Gate holdA;
    auto a = holdTurn(&queue, &log, "a", &holdA, {});
    auto b = holdTurn(&queue, &log, "b", nullptr, {});
    auto c = holdTurn(&queue, &log, "c", nullptr, {});
    EXPECT_EQ(log, (std::vector<std::string>{"a start"}));
    holdA.open();
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
    Gate holdA;
    auto a = holdTurn(&queue, &log, "a", &holdA, {});
    auto b = holdTurn(&queue, &log, "b", nullptr, stop.get_token());
    auto c = holdTurn(&queue, &log, "c", nullptr, {});
    stop.request_stop();
    EXPECT_THROW(runTask(std::move(b)), OperationCancelledError);
    EXPECT_EQ(log, (std::vector<std::string>{"a start"}));   // b left while a still held the turn
    holdA.open();
    runTask(std::move(a));
    runTask(std::move(c));
    EXPECT_EQ(log, (std::vector<std::string>{"a start", "a end", "c start", "c end"}));

    // An already-stopped caller never gets a turn.
    EXPECT_THROW(runTask(holdTurn(&queue, &log, "d", nullptr, stop.get_token())), OperationCancelledError);

    // A holder that fails hands the turn on.
    log.clear();
    auto failing = failDuringTurn(&queue, &log);
    auto next = holdTurn(&queue, &log, "e", nullptr, {});
    EXPECT_THROW(runTask(std::move(failing)), std::runtime_error);
    runTask(std::move(next));
    EXPECT_EQ(log, (std::vector<std::string>{"failing start", "e start", "e end"}));
}

} // namespace
