// State, account selection, snapshot refreshes and maintenance of the history coordinator.

#include "HistoryCoordinatorFixture.h"

#include "history/HistoryDigest.h"

namespace quillby::test {
namespace {

using HistoryCoordinatorTest = HistoryCoordinatorFixture;

TEST_F(HistoryCoordinatorTest, ConfiguredScopeNeedsALoadedCompleteAccount)
{
    EXPECT_EQ(HistoryCoordinator::accountScope(dexcomAccount("Ann", "us")), sha256Digest("2:us3:Ann"));
    EXPECT_EQ(coordinator->configuredAccountScope(), std::nullopt);   // nothing loaded

    configure(dexcomAccount("   "));
    EXPECT_EQ(coordinator->configuredAccountScope(), std::nullopt);   // white-space user name

    configure(dexcomAccount("Ann"));
    EXPECT_EQ(coordinator->configuredAccountScope(), HistoryCoordinator::accountScope(dexcomAccount("Ann")));
}

TEST_F(HistoryCoordinatorTest, SelectionActivatesTheConfiguredScopeAndPublishesItsSnapshot)
{
    const std::string scope = signIn("Ann");
    store->seed(scope, {reading(now() - 600)});
    store->hold(Op::activateAccount);
    SignalCounter graphSpy(coordinator.get(), &HistoryCoordinating::graphUpdated);
    const QUuid revisionBefore = coordinator->revision();

    auto selection = coordinator->selectAccountScope();
    EXPECT_TRUE(coordinator->isBusy());
    EXPECT_FALSE(coordinator->hasSelectedAccount());
    EXPECT_NE(coordinator->revision(), revisionBefore);
    EXPECT_EQ(coordinator->snapshot(), std::nullopt);

    store->release(Op::activateAccount);
    runTask(std::move(selection));

    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_TRUE(coordinator->hasSelectedAccount());
    EXPECT_EQ(coordinator->selectedScope(), scope);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    ASSERT_EQ(store->callsOf(Op::activateAccount).size(), 1u);
    EXPECT_EQ(store->callsOf(Op::activateAccount)[0].scope, scope);
    EXPECT_EQ(store->callsOf(Op::activateAccount)[0].now, now());
    // Busy on, snapshot withdrawn, snapshot published, busy off: each tells the graph.
    EXPECT_EQ(graphSpy.count(), 4);
}

TEST_F(HistoryCoordinatorTest, SelectionWhileBusyIsRefusedAndChangesNothing)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 60)});
    coordinator->setErrorMessage("earlier failure");
    store->hold(Op::deleteAllHistory);
    auto deletion = coordinator->deleteAllHistory();
    const auto snapshotWhileBusy = coordinator->storedSnapshot();
    const QUuid revisionWhileBusy = coordinator->revision();

    EXPECT_EQ(thrownMessage(coordinator->selectAccountScope()), kInProgressMessage);
    EXPECT_EQ(coordinator->storedSnapshot(), snapshotWhileBusy);
    EXPECT_EQ(coordinator->errorMessage(), "earlier failure");
    EXPECT_EQ(coordinator->revision(), revisionWhileBusy);
    EXPECT_EQ(store->count(Op::activateAccount), 1);

    store->release(Op::deleteAllHistory);
    runTask(std::move(deletion));
}

TEST_F(HistoryCoordinatorTest, FailedSelectionPublishesTheFallbackOrNothing)
{
    struct Case {
        const char *name;
        bool fallbackFails;
    };
    for (const Case c : {Case{"fallback works", false}, Case{"fallback fails too", true}}) {
        SCOPED_TRACE(c.name);
        signIn("Ann");
        store->failNext(Op::activateAccount, GlucoseHistoryError::Case::keychainFailure);
        if (c.fallbackFails) {
            store->failNext(Op::snapshot, GlucoseHistoryError::Case::storageFailure);
        }
        try {
            runTask(coordinator->selectAccountScope());
            ADD_FAILURE() << "selection should fail";
        } catch (const GlucoseHistoryError &error) {
            EXPECT_EQ(error.kind, GlucoseHistoryError::Case::keychainFailure);
        }
        EXPECT_FALSE(coordinator->isBusy());
        EXPECT_FALSE(coordinator->hasSelectedAccount());
        EXPECT_EQ(coordinator->errorMessage(),
                  GlucoseHistoryError::message(GlucoseHistoryError::Case::keychainFailure));
        if (c.fallbackFails) {
            EXPECT_EQ(coordinator->storedSnapshot(), std::nullopt);
        } else {
            ASSERT_TRUE(coordinator->storedSnapshot());   // the store's state after the failure
            EXPECT_EQ(coordinator->storedSnapshot()->configuration.accountScope, std::nullopt);
        }
    }
}

TEST_F(HistoryCoordinatorTest, SnapshotOfAnotherAccountIsHiddenAtOnce)
{
    signInAndSelect("Ann", {reading(now() - 60)});
    ASSERT_TRUE(coordinator->snapshot());
    SignalCounter snapshotSpy(coordinator.get(), &HistoryCoordinator::snapshotChanged);

    signIn("Bob");

    EXPECT_EQ(coordinator->snapshot(), std::nullopt);
    EXPECT_TRUE(coordinator->storedSnapshot());   // still Ann's until the next selection
    EXPECT_EQ(snapshotSpy.count(), 1);

    runTask(coordinator->requestSnapshotRefresh());   // out of date: selects Bob
    EXPECT_EQ(coordinator->selectedScope(), HistoryCoordinator::accountScope(dexcomAccount("Bob")));
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->readings.empty());
}

TEST_F(HistoryCoordinatorTest, RefreshLoadsTheConfigurationAndSelectsWhenNeeded)
{
    // Not loaded, nothing stored: the refresh loads, then selects the absent scope.
    runTask(coordinator->requestSnapshotRefresh());
    EXPECT_TRUE(configurationManager->configuration());
    ASSERT_EQ(store->callsOf(Op::activateAccount).size(), 1u);
    EXPECT_EQ(store->callsOf(Op::activateAccount)[0].scope, std::nullopt);
    EXPECT_TRUE(coordinator->hasSelectedAccount());
    ASSERT_TRUE(coordinator->snapshot());   // the unselected state's snapshot
    EXPECT_EQ(store->count(Op::snapshot), 0);

    // Selected and current: a plain reload.
    runTask(coordinator->requestSnapshotRefresh());
    EXPECT_EQ(store->count(Op::activateAccount), 1);
    EXPECT_EQ(store->count(Op::snapshot), 1);
}

TEST_F(HistoryCoordinatorTest, RefreshWhileBusyDoesNothing)
{
    signInAndSelect("Ann");
    store->hold(Op::enableCollection);
    auto enabling = coordinator->enableHistory();
    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::enableCollection) == 1; }));
    const auto request = coordinator->latestRefreshRequest();

    runTask(coordinator->requestSnapshotRefresh());

    EXPECT_EQ(store->count(Op::snapshot), 0);
    EXPECT_EQ(coordinator->latestRefreshRequest(), request);
    store->release(Op::enableCollection);
    runTask(std::move(enabling));
}

TEST_F(HistoryCoordinatorTest, RefreshFailureKeepsTheSnapshotAndALaterSuccessClearsTheMessage)
{
    signInAndSelect("Ann", {reading(now() - 60)});
    const auto before = coordinator->storedSnapshot();
    store->failNext(Op::snapshot, GlucoseHistoryError::Case::unreadableHistory);

    runTask(coordinator->requestSnapshotRefresh());
    EXPECT_EQ(coordinator->errorMessage(), GlucoseHistoryError::message(GlucoseHistoryError::Case::unreadableHistory));
    EXPECT_EQ(coordinator->storedSnapshot(), before);

    runTask(coordinator->requestSnapshotRefresh());
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
}

TEST_F(HistoryCoordinatorTest, OnlyTheNewestRefreshPublishes)
{
    const std::string scope = signInAndSelect("Ann");
    store->hold(Op::snapshot);
    store->failNext(Op::snapshot, GlucoseHistoryError::Case::storageFailure);   // the first refresh's result
    SignalCounter messageSpy(coordinator.get(), &HistoryCoordinator::errorMessageChanged);

    auto first = coordinator->requestSnapshotRefresh();
    store->accounts[scope].readings = {reading(now() - 30)};
    auto second = coordinator->requestSnapshotRefresh();
    store->release(Op::snapshot);
    runTask(std::move(first));
    runTask(std::move(second));

    EXPECT_EQ(messageSpy.count(), 0);   // the first one's failure was dropped
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);
}

TEST_F(HistoryCoordinatorTest, RefreshOvertakenByAnOperationOrAnAccountChangePublishesNothing)
{
    signInAndSelect("Ann");

    // An operation starts while the refresh waits for the store.
    store->hold(Op::snapshot);
    store->failNext(Op::snapshot, GlucoseHistoryError::Case::storageFailure);
    auto refresh = coordinator->requestSnapshotRefresh();
    runTask(coordinator->selectAccountScope());
    const auto selected = coordinator->storedSnapshot();
    store->release(Op::snapshot);
    runTask(std::move(refresh));
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    EXPECT_EQ(coordinator->storedSnapshot(), selected);

    // The configured account changes while the refresh waits.
    store->hold(Op::snapshot);
    store->failNext(Op::snapshot, GlucoseHistoryError::Case::storageFailure);
    refresh = coordinator->requestSnapshotRefresh();
    signIn("Bob");
    store->release(Op::snapshot);
    runTask(std::move(refresh));
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
}

TEST_F(HistoryCoordinatorTest, MaintenanceRefreshesAtOnceThenHourlyUntilCancelled)
{
    signIn("Ann");
    coordinator->start();
    coordinator->start();   // idempotent
    ASSERT_TRUE(waitUntil([&] { return sleeper->requests.size() == 1; }));
    EXPECT_EQ(store->count(Op::activateAccount), 1);   // the first pass selected before sleeping
    EXPECT_EQ(sleeper->requests, std::vector<double>{3600});

    ASSERT_TRUE(sleeper->runNext());
    ASSERT_TRUE(waitUntil([&] { return sleeper->requests.size() == 2; }));
    EXPECT_EQ(store->count(Op::snapshot), 1);   // the hourly pass reloads

    coordinator->cancelMaintenance();   // during the sleep
    processPendingEvents();
    EXPECT_FALSE(coordinator->isMaintenanceRunning());
    EXPECT_EQ(store->count(Op::snapshot), 1);
    EXPECT_EQ(sleeper->requests.size(), 2u);
}

TEST_F(HistoryCoordinatorTest, ErrorMessageNotifiesOnlyOnChange)
{
    SignalCounter spy(coordinator.get(), &HistoryCoordinator::errorMessageChanged);
    coordinator->setErrorMessage("a");
    coordinator->setErrorMessage("a");
    coordinator->setErrorMessage(std::nullopt);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(coordinator->property("errorText").toString(), QString());
}

} // namespace
} // namespace quillby::test
