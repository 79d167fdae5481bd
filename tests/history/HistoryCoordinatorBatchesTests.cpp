// Collection tokens, the batch queue, graph-update streams and saved-graph extracts.

#include "HistoryCoordinatorFixture.h"

namespace quillby::test {
namespace {

using HistoryCoordinatorBatchesTest = HistoryCoordinatorFixture;

const std::string kFallingBehind = "History saving is falling behind. Some readings may be missing.";

TEST_F(HistoryCoordinatorBatchesTest, CollectionTokenNeedsEveryCondition)
{
    EXPECT_EQ(coordinator->collectionToken("any"), std::nullopt);   // nothing selected, no snapshot

    const std::string scope = signInAndSelect("Ann");
    const auto token = coordinator->collectionToken(scope);
    ASSERT_TRUE(token);
    EXPECT_EQ(token->accountScope, scope);
    EXPECT_EQ(token->epoch, store->accounts[scope].configuration.epoch);
    EXPECT_EQ(coordinator->collectionToken(HistoryCoordinator::accountScope(dexcomAccount("Bob"))), std::nullopt);

    // Busy.
    store->hold(Op::snapshot);
    store->failNext(Op::activateAccount, GlucoseHistoryError::Case::storageFailure);
    auto selection = coordinator->selectAccountScope();
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);
    // Selection failed: not selected; the fallback snapshot belongs to no account.
    store->release(Op::snapshot);
    EXPECT_THROW(runTask(std::move(selection)), GlucoseHistoryError);
    ASSERT_TRUE(coordinator->storedSnapshot());
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);

    // Saving off, or a deletion pending.
    for (const bool pendingDeletion : {false, true}) {
        SCOPED_TRACE(pendingDeletion);
        store->accounts[scope].configuration.isEnabled = pendingDeletion;
        store->accounts[scope].configuration.pendingDeletion = pendingDeletion;
        runTask(coordinator->selectAccountScope());
        ASSERT_TRUE(coordinator->hasSelectedAccount());
        EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);
    }
}

TEST_F(HistoryCoordinatorBatchesTest, StoredBatchIsWrittenWithItsTokenAndRefreshesTheSnapshot)
{
    const std::string scope = signInAndSelect("Ann");
    const auto token = *coordinator->collectionToken(scope);
    const QUuid graphRevision = coordinator->graphRevision();

    coordinator->enqueue({reading(now() - 60)}, now() - 1, token);
    EXPECT_EQ(coordinator->pending().size(), 1u);   // the drain starts on a later turn
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));

    ASSERT_EQ(store->callsOf(Op::append).size(), 1u);
    EXPECT_EQ(store->callsOf(Op::append)[0].token, token);
    EXPECT_EQ(store->callsOf(Op::append)[0].fetchedAt, now() - 1);
    EXPECT_EQ(store->calls.back().op, Op::snapshot);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);
    EXPECT_NE(coordinator->graphRevision(), graphRevision);
}

TEST_F(HistoryCoordinatorBatchesTest, NinthWaitingBatchDropsTheOldest)
{
    const std::string scope = signInAndSelect("Ann");
    const auto token = *coordinator->collectionToken(scope);
    store->hold(Op::append);

    for (int i = 1; i <= 9; ++i) {
        coordinator->enqueue({reading(now() - 100 + i)}, i, token);
    }
    EXPECT_EQ(coordinator->errorMessage(), kFallingBehind);
    ASSERT_EQ(coordinator->pending().size(), 8u);
    EXPECT_EQ(coordinator->pending().front().fetchedAt, 2);

    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::append) == 1; }));
    coordinator->setErrorMessage(std::nullopt);
    store->release(Op::append);
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));

    std::vector<Date> written;
    for (const auto &call : store->callsOf(Op::append)) {
        written.push_back(call.fetchedAt);
    }
    EXPECT_EQ(written, (std::vector<Date>{2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 8u);
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
}

TEST_F(HistoryCoordinatorBatchesTest, FailedBatchSetsTheMessageAndIsNotRetried)
{
    const std::string scope = signInAndSelect("Ann");
    const auto token = *coordinator->collectionToken(scope);
    store->failNext(Op::append, GlucoseHistoryError::Case::unavailableKey);

    coordinator->enqueue({reading(now() - 60)}, now(), token);
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));

    EXPECT_EQ(coordinator->errorMessage(), GlucoseHistoryError::message(GlucoseHistoryError::Case::unavailableKey));
    EXPECT_EQ(store->count(Op::append), 1);
    EXPECT_EQ(store->count(Op::snapshot), 0);   // no refresh after a failure
    processPendingEvents();
    EXPECT_EQ(store->count(Op::append), 1);

    // The next batch is written as usual.
    coordinator->enqueue({reading(now() - 30)}, now(), token);
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));
    EXPECT_EQ(store->count(Op::append), 2);
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);
}

TEST_F(HistoryCoordinatorBatchesTest, BatchesOfAnEarlierRevisionAreDiscarded)
{
    const std::string scope = signInAndSelect("Ann");
    const auto token = *coordinator->collectionToken(scope);

    // Queued before a deletion: never written, even though the deletion fails.
    coordinator->enqueue({reading(now() - 60)}, 1, token);
    coordinator->enqueue({reading(now() - 50)}, 2, token);
    store->failNext(Op::deleteAllHistory, GlucoseHistoryError::Case::deletionIncomplete);
    EXPECT_THROW(runTask(coordinator->deleteAllHistory()), GlucoseHistoryError);
    processPendingEvents();
    EXPECT_EQ(store->count(Op::append), 0);
    EXPECT_FALSE(coordinator->isDraining());

    // In flight when an operation starts: its failure is not reported and no refresh follows.
    const auto newToken = *coordinator->collectionToken(scope);
    store->hold(Op::append);
    store->failNext(Op::append, GlucoseHistoryError::Case::storageFailure);
    coordinator->enqueue({reading(now() - 40)}, 3, newToken);
    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::append) == 1; }));
    runTask(coordinator->selectAccountScope());
    const int snapshotsBefore = store->count(Op::snapshot);
    store->release(Op::append);
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    EXPECT_EQ(store->count(Op::snapshot), snapshotsBefore);
}

TEST_F(HistoryCoordinatorBatchesTest, BatchWhileBusyIsDroppedAndAStaleTokenWritesNothing)
{
    const std::string scope = signInAndSelect("Ann");
    const auto oldToken = *coordinator->collectionToken(scope);
    store->hold(Op::disableCollection);
    auto disabling = coordinator->disableSaving();
    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::disableCollection) == 1; }));

    coordinator->enqueue({reading(now() - 60)}, now(), oldToken);
    EXPECT_TRUE(coordinator->pending().empty());

    store->release(Op::disableCollection);
    runTask(std::move(disabling));
    runTask(coordinator->enableHistory());

    // The token from before the disable names an old epoch: the store writes nothing and
    // nothing is reported.
    coordinator->enqueue({reading(now() - 60)}, now(), oldToken);
    ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));
    EXPECT_EQ(store->count(Op::append), 1);
    EXPECT_TRUE(coordinator->snapshot()->readings.empty());
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
}

TEST_F(HistoryCoordinatorBatchesTest, SavedGraphHistoryIsTheLastDayOfTheMatchingAccount)
{
    const Date t = now();
    const std::string scope = signInAndSelect(
        "Ann", {reading(t - 86401), reading(t - 86400), reading(t - 60), reading(t), reading(t + 1)});

    auto extract = coordinator->savedGraphHistory(scope, t);
    EXPECT_EQ(extract.revision, coordinator->graphRevision());
    EXPECT_EQ(extract.accountScope, scope);
    std::vector<Date> dates;
    for (const auto &r : extract.readings) {
        dates.push_back(r.date);
    }
    EXPECT_EQ(dates, (std::vector<Date>{t - 86400, t - 60, t}));

    const std::string bob = HistoryCoordinator::accountScope(dexcomAccount("Bob"));
    extract = coordinator->savedGraphHistory(bob, t);
    EXPECT_EQ(extract.accountScope, bob);
    EXPECT_TRUE(extract.readings.empty());

    // Saving off: kept readings still refill the graph.
    runTask(coordinator->disableSaving());
    EXPECT_EQ(coordinator->savedGraphHistory(scope, t).readings.size(), 3u);

    // A deletion pending: nothing.
    store->accounts[scope].configuration.pendingDeletion = true;
    runTask(coordinator->requestSnapshotRefresh());
    EXPECT_TRUE(coordinator->savedGraphHistory(scope, t).readings.empty());
}

TEST_F(HistoryCoordinatorBatchesTest, GraphStreamGivesTheCurrentStateThenOneElementPerBurst)
{
    auto stream = coordinator->graphUpdates();
    EXPECT_EQ(coordinator->graphObserverCount(), 1u);
    EXPECT_TRUE(runTask(stream->next()));   // at once

    signInAndSelect("Ann");   // four notifications before the reader asks again
    EXPECT_TRUE(runTask(stream->next()));
    EXPECT_FALSE(stream->hasPendingElement());

    // A reader waiting when a change comes is woken once.
    bool woke = false;
    auto waiting = [](HistoryGraphUpdates *s, bool *woke) -> QCoro::Task<void> {
        *woke = co_await s->next();
    }(stream.get(), &woke);
    processPendingEvents();
    EXPECT_FALSE(woke);
    coordinator->notifyGraphObservers();
    ASSERT_TRUE(waitUntil([&] { return woke; }));

    stream.reset();
    EXPECT_EQ(coordinator->graphObserverCount(), 0u);
}

TEST_F(HistoryCoordinatorBatchesTest, GraphStreamEndsOnStopOrWithTheCoordinator)
{
    auto stream = coordinator->graphUpdates();
    EXPECT_TRUE(runTask(stream->next()));

    std::stop_source stop;
    std::optional<bool> result;
    auto reader = [](HistoryGraphUpdates *s, std::stop_token stop, std::optional<bool> *result) -> QCoro::Task<void> {
        *result = co_await s->next(stop);
    }(stream.get(), stop.get_token(), &result);
    processPendingEvents();
    EXPECT_FALSE(result);
    stop.request_stop();
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);

    result.reset();
    auto second = [](HistoryGraphUpdates *s, std::optional<bool> *result) -> QCoro::Task<void> {
        *result = co_await s->next();
    }(stream.get(), &result);
    processPendingEvents();
    coordinator.reset();
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(stream->isFinished());
}

TEST_F(HistoryCoordinatorBatchesTest, CoordinatorGoneWhileTheStoreWorksIsHarmless)
{
    const std::string scope = signInAndSelect("Ann");
    const auto token = *coordinator->collectionToken(scope);
    store->hold(Op::append);
    store->hold(Op::enableCollection);
    coordinator->enqueue({reading(now() - 60)}, now(), token);
    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::append) == 1; }));
    coordinator->start();
    auto enabling = coordinator->enableHistory();

    coordinator.reset();
    store->release(Op::append);
    store->release(Op::enableCollection);
    sleeper->runFor(3600);   // the maintenance sleep ends
    runTask(std::move(enabling));
    processPendingEvents();
    EXPECT_EQ(store->count(Op::append), 1);
}

} // namespace
} // namespace quillby::test
