#include "insights/InsightsCalculationState.h"

#include "InsightsTestSupport.h"
#include "fakes/TaskRunner.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPromise>

#include <gtest/gtest.h>

#include <memory>

namespace quillby {
namespace {

using test::runTask;

// A calculation that finishes only when the test says so, with the result the test gives.
class ControlledCalculation {
public:
    InsightsCalculationState::Calculate function()
    {
        return [this](InsightsCalculationInput input) { return run(std::move(input)); };
    }
    void finish(std::size_t request, InsightsCalculationResult result)
    {
        promises_.at(request)->addResult(std::move(result));
        promises_.at(request)->finish();
    }
    std::size_t started() const { return promises_.size(); }

private:
    QCoro::Task<InsightsCalculationResult> run(InsightsCalculationInput)
    {
        auto promise = std::make_shared<QPromise<InsightsCalculationResult>>();
        promise->start();
        promises_.push_back(promise);
        co_return co_await promise->future();
    }
    std::vector<std::shared_ptr<QPromise<InsightsCalculationResult>>> promises_;
};

const QUuid kEpoch = QUuid::createUuid();

InsightsCalculationInput input(std::optional<std::string> scope = "account", std::optional<QUuid> epoch = kEpoch,
                               int readings = 3, double days = 14)
{
    InsightsCalculationInput in;
    in.readings = test::readingsEvery(300, 1730000000, 1730000000 + readings * 300.0);
    in.interval = DateInterval(1730001000 - days * 86400, 1730001000);
    in.accountScope = std::move(scope);
    in.historyEpoch = epoch;
    return in;
}

InsightsCalculationResult resultWith(int readingCount, double marker = 0)
{
    InsightsCalculationResult result;
    result.summary.readingCount = readingCount;
    result.summary.meanMgdl = marker;
    result.collectionProgress.hasReadings = readingCount > 0;
    return result;
}

struct Counters {
    int result = 0;
    int updating = 0;
    int published = 0;
    explicit Counters(InsightsCalculationState &state)
    {
        QObject::connect(&state, &InsightsCalculationState::resultChanged, [this] { ++result; });
        QObject::connect(&state, &InsightsCalculationState::isUpdatingChanged, [this] { ++updating; });
        QObject::connect(&state, &InsightsCalculationState::publishedInputChanged, [this] { ++published; });
    }
};

TEST(InsightsCalculationState, OnlyTheNewestRequestPublishes)
{
    for (const bool olderFinishesFirst : {true, false}) {
        ControlledCalculation calculation;
        InsightsCalculationState state(calculation.function());
        Counters counters(state);
        EXPECT_FALSE(state.result());
        EXPECT_FALSE(state.isUpdating());

        auto older = state.update(input("account", kEpoch, 3, 14));
        const auto olderRequest = state.currentRequest();
        auto newer = state.update(input("account", kEpoch, 3, 30));
        EXPECT_NE(state.currentRequest(), olderRequest);
        EXPECT_TRUE(state.isUpdating());
        ASSERT_EQ(calculation.started(), 2u);

        if (olderFinishesFirst) {
            calculation.finish(0, resultWith(3, 1));
            runTask(std::move(older));
            EXPECT_FALSE(state.result());
            EXPECT_TRUE(state.isUpdating()) << "an older request must not end the newer one's update";
            calculation.finish(1, resultWith(3, 2));
            runTask(std::move(newer));
        } else {
            calculation.finish(1, resultWith(3, 2));
            runTask(std::move(newer));
            EXPECT_FALSE(state.isUpdating());
            calculation.finish(0, resultWith(3, 1));
            runTask(std::move(older));
        }
        EXPECT_EQ(state.result(), resultWith(3, 2));
        EXPECT_EQ(state.publishedInput(), input("account", kEpoch, 3, 30));
        EXPECT_FALSE(state.isUpdating());
        EXPECT_EQ(counters.updating, 2);
        EXPECT_EQ(counters.result, 1);
        EXPECT_EQ(counters.published, 1);
    }
}

TEST(InsightsCalculationState, CancelledCallerPublishesNothing)
{
    ControlledCalculation calculation;
    InsightsCalculationState state(calculation.function());
    std::stop_source stop;
    auto update = state.update(input(), {}, stop.get_token());
    stop.request_stop();
    calculation.finish(0, resultWith(3));
    runTask(std::move(update));
    EXPECT_FALSE(state.result());
    EXPECT_FALSE(state.publishedInput());
    EXPECT_FALSE(state.isUpdating());
}

TEST(InsightsCalculationState, AnotherHistoryClearsTheReportAtOnce)
{
    struct Case {
        const char *name;
        InsightsCalculationInput next;
    };
    const Case cases[] = {
        {"other account", input("other")},
        {"no account", input(std::nullopt)},
        {"new epoch", input("account", QUuid::createUuid())},
        {"history deleted", input("account", kEpoch, 0)},
    };
    for (const Case &c : cases) {
        ControlledCalculation calculation;
        InsightsCalculationState state(calculation.function());
        auto first = state.update(input());
        calculation.finish(0, resultWith(3));
        runTask(std::move(first));
        ASSERT_TRUE(state.summary(input())) << c.name;

        auto next = state.update(c.next);
        EXPECT_FALSE(state.result()) << c.name;
        EXPECT_FALSE(state.publishedInput()) << c.name;
        EXPECT_FALSE(state.summary(c.next)) << c.name;
        EXPECT_TRUE(state.isUpdating()) << c.name;
        calculation.finish(1, resultWith(c.next.readings.empty() ? 0 : 3, 7));
        runTask(std::move(next));
        EXPECT_EQ(state.result(), resultWith(c.next.readings.empty() ? 0 : 3, 7)) << c.name;
        // An input without readings never has a report to show.
        EXPECT_EQ(state.summary(c.next).has_value(), !c.next.readings.empty()) << c.name;
    }
}

TEST(InsightsCalculationState, ThePreviousReportStaysWhileANewPeriodIsCalculated)
{
    ControlledCalculation calculation;
    InsightsCalculationState state(calculation.function());
    auto first = state.update(input("account", kEpoch, 3, 14));
    calculation.finish(0, resultWith(3, 14));
    runTask(std::move(first));

    const InsightsCalculationInput longer = input("account", kEpoch, 4, 30);
    auto second = state.update(longer);
    EXPECT_EQ(state.summary(longer), resultWith(3, 14).summary);
    EXPECT_TRUE(state.isUpdating());
    calculation.finish(1, resultWith(4, 30));
    runTask(std::move(second));
    EXPECT_EQ(state.summary(longer), resultWith(4, 30).summary);
}

TEST(InsightsCalculationState, ReplacingAReportWithReadingsGoesThroughTheWrapper)
{
    struct Step {
        int readingCount;
        bool wrapped;
    };
    // Empty state, then a report, another report, an empty report, a report after it.
    const Step steps[] = {{3, false}, {4, true}, {0, false}, {5, false}, {6, true}};
    ControlledCalculation calculation;
    InsightsCalculationState state(calculation.function());
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        int wrapped = 0;
        auto update = state.update(input(), [&wrapped](const InsightsCalculationState::PublishAction &publish) {
            ++wrapped;
            publish();
        });
        calculation.finish(i, resultWith(steps[i].readingCount));
        runTask(std::move(update));
        EXPECT_EQ(wrapped, steps[i].wrapped ? 1 : 0) << "step " << i;
        EXPECT_EQ(state.result()->summary.readingCount, steps[i].readingCount) << "step " << i;
    }
}

TEST(InsightsCalculationState, CollectionProgressBelongsToItsHistory)
{
    ControlledCalculation calculation;
    InsightsCalculationState state(calculation.function());
    EXPECT_FALSE(state.collectionProgress(InsightsHistorySnapshotIdentity{"account", kEpoch, true}));
    auto update = state.update(input());
    calculation.finish(0, resultWith(3));
    runTask(std::move(update));
    const auto progress = resultWith(3).collectionProgress;

    struct Case {
        const char *name;
        std::optional<InsightsHistorySnapshotIdentity> snapshot;
        bool shown;
    };
    const Case cases[] = {
        {"same history", InsightsHistorySnapshotIdentity{"account", kEpoch, true}, true},
        {"no snapshot", std::nullopt, false},
        {"other epoch", InsightsHistorySnapshotIdentity{"account", QUuid::createUuid(), true}, false},
        {"other account", InsightsHistorySnapshotIdentity{"other", kEpoch, true}, false},
        {"history emptied since", InsightsHistorySnapshotIdentity{"account", kEpoch, false}, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(state.collectionProgress(c.snapshot), c.shown ? std::optional(progress) : std::nullopt) << c.name;
    }

    // A published input without an epoch matches no snapshot.
    auto noEpoch = state.update(input("account", std::nullopt));
    calculation.finish(1, resultWith(3));
    runTask(std::move(noEpoch));
    EXPECT_FALSE(state.collectionProgress(InsightsHistorySnapshotIdentity{"account", QUuid(), true}));
}

TEST(InsightsCalculationState, StateDestroyedWhileCalculating)
{
    // The state holds a report, so a result that arrived for it would replace that report
    // through the wrapper.
    ControlledCalculation calculation;
    auto state = std::make_unique<InsightsCalculationState>(calculation.function());
    auto first = state->update(input());
    calculation.finish(0, resultWith(3));
    runTask(std::move(first));
    ASSERT_TRUE(state->result());

    int wrapped = 0;
    auto update = state->update(input(), [&wrapped](const InsightsCalculationState::PublishAction &) { ++wrapped; });
    ASSERT_EQ(calculation.started(), 2u);
    state.reset();
    calculation.finish(1, resultWith(4));
    EXPECT_NO_THROW(runTask(std::move(update)));
    EXPECT_EQ(wrapped, 0) << "a result for a destroyed state is published nowhere";
}

TEST(InsightsCalculationState, DefaultCalculationRunsTheEngine)
{
    InsightsCalculationInput in = input();
    in.readings = test::readingsEvery(300, in.interval.end - 86400, in.interval.end, 140);
    InsightsCalculationState state;
    runTask(state.update(in));
    ASSERT_TRUE(state.result());
    EXPECT_EQ(*state.result(), InsightsCalculationResult::calculate(in));
    EXPECT_EQ(state.result()->summary.readingCount, 288);
}

} // namespace
} // namespace quillby
