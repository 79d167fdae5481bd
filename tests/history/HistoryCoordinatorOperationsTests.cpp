// The exclusive operations of the history coordinator.

#include "HistoryCoordinatorFixture.h"

#include "core/async/EventLoopTurn.h"

namespace quillby::test {
namespace {

using HistoryCoordinatorOperationsTest = HistoryCoordinatorFixture;

const std::string kSignInMessage = "Sign in to your glucose account before enabling saved history.";

std::string messageOf(GlucoseHistoryError::Case c)
{
    return GlucoseHistoryError::message(c);
}

// An operation of the account service that the test can observe.
HistoryCoordinator::Operation recordingOperation(int *runs, std::optional<GlucoseHistoryError::Case> failure = {})
{
    return [runs, failure]() -> QCoro::Task<void> {
        return [](int *runs, std::optional<GlucoseHistoryError::Case> failure) -> QCoro::Task<void> {
            ++*runs;
            co_await nextEventLoopTurn();
            if (failure) {
                throw GlucoseHistoryError(*failure);
            }
        }(runs, failure);
    };
}

TEST_F(HistoryCoordinatorOperationsTest, EnableActivatesThenTurnsSavingOn)
{
    const std::string scope = signInAndSelect("Ann", {}, /*enabled=*/false);
    const QUuid revision = coordinator->revision();

    runTask(coordinator->enableHistory());

    ASSERT_EQ(store->calls.size(), 3u);   // selection, then the enable's activation and enable
    EXPECT_EQ(store->calls[1].op, Op::activateAccount);
    EXPECT_EQ(store->calls[1].scope, scope);
    EXPECT_EQ(store->calls[2].op, Op::enableCollection);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->configuration.isEnabled);
    EXPECT_NE(coordinator->revision(), revision);
    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    EXPECT_TRUE(coordinator->collectionToken(scope));
}

TEST_F(HistoryCoordinatorOperationsTest, EnableLoadsTheConfigurationFirst)
{
    const auto account = dexcomAccount("Ann");
    configurationItem->setStoredBytes(QByteArray::fromStdString(AppConfiguration{account, AppSettings::defaults()}.encode()));

    runTask(coordinator->enableHistory());

    EXPECT_TRUE(configurationManager->configuration());
    EXPECT_EQ(store->count(Op::enableCollection), 1);
    EXPECT_EQ(coordinator->selectedScope(), HistoryCoordinator::accountScope(account));
}

TEST_F(HistoryCoordinatorOperationsTest, EnableWithoutACompleteAccountOnlySetsTheSignInMessage)
{
    runTask(configurationManager->loadConfiguration());   // the empty account
    const QUuid revision = coordinator->revision();

    runTask(coordinator->enableHistory());

    EXPECT_EQ(coordinator->errorMessage(), kSignInMessage);
    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_EQ(coordinator->revision(), revision);
    EXPECT_EQ(coordinator->storedSnapshot(), std::nullopt);
    EXPECT_TRUE(store->calls.empty());
}

TEST_F(HistoryCoordinatorOperationsTest, DisableAndRetentionWithoutAnAccountDoNothing)
{
    runTask(configurationManager->loadConfiguration());
    const QUuid revision = coordinator->revision();
    SignalCounter messageSpy(coordinator.get(), &HistoryCoordinator::errorMessageChanged);

    runTask(coordinator->disableSaving());
    runTask(coordinator->setSavingEnabled(false));
    runTask(coordinator->setRetentionDays(30));

    EXPECT_TRUE(store->calls.empty());
    EXPECT_EQ(messageSpy.count(), 0);
    EXPECT_EQ(coordinator->revision(), revision);
}

TEST_F(HistoryCoordinatorOperationsTest, DisableKeepsReadingsAndEndsTheToken)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 60)});
    ASSERT_TRUE(coordinator->collectionToken(scope));

    runTask(coordinator->setSavingEnabled(false));

    EXPECT_EQ(store->count(Op::disableCollection), 1);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_FALSE(coordinator->snapshot()->configuration.isEnabled);
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);
}

TEST_F(HistoryCoordinatorOperationsTest, RetentionChangeAndItsRejection)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 40 * 86400), reading(now() - 60)});

    runTask(coordinator->setRetentionDays(30));
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->configuration.retentionDays, 30);
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 1u);

    runTask(coordinator->setRetentionDays(45));   // never throws
    EXPECT_EQ(coordinator->errorMessage(), messageOf(GlucoseHistoryError::Case::invalidRetention));
    EXPECT_FALSE(coordinator->isBusy());
    ASSERT_TRUE(coordinator->snapshot());   // the fallback: the store's state
    EXPECT_EQ(coordinator->snapshot()->configuration.retentionDays, 30);
    EXPECT_EQ(store->callsOf(Op::setRetentionDays).back().days, 45);
    EXPECT_TRUE(coordinator->collectionToken(scope));
}

TEST_F(HistoryCoordinatorOperationsTest, DeleteAllKeepsTheSelectionAndReportsFailures)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 60)});

    runTask(coordinator->deleteAllHistory());
    EXPECT_EQ(store->count(Op::activateAccount), 1);   // no activation of its own
    EXPECT_TRUE(coordinator->hasSelectedAccount());
    EXPECT_EQ(coordinator->selectedScope(), scope);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->readings.empty());
    EXPECT_FALSE(coordinator->snapshot()->configuration.isEnabled);

    store->failNext(Op::deleteAllHistory, GlucoseHistoryError::Case::deletionIncomplete);
    try {
        runTask(coordinator->deleteAllHistory());
        ADD_FAILURE() << "deletion should fail";
    } catch (const GlucoseHistoryError &error) {
        EXPECT_EQ(error.kind, GlucoseHistoryError::Case::deletionIncomplete);
    }
    EXPECT_EQ(coordinator->errorMessage(), messageOf(GlucoseHistoryError::Case::deletionIncomplete));
    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_TRUE(coordinator->snapshot());   // fallback
}

// Every operation asked for while another runs is refused; the running one still publishes.
TEST_F(HistoryCoordinatorOperationsTest, SecondOperationWhileBusyIsRefused)
{
    struct Case {
        const char *name;
        std::function<QCoro::Task<void>(HistoryCoordinator &, int *)> start;
        bool throwsToCaller;       // otherwise the refusal shows in errorMessage
    };
    const std::vector<Case> cases = {
        {"enable", [](HistoryCoordinator &c, int *) { return c.enableHistory(); }, false},
        {"disable", [](HistoryCoordinator &c, int *) { return c.disableSaving(); }, false},
        {"retention", [](HistoryCoordinator &c, int *) { return c.setRetentionDays(30); }, false},
        {"delete all", [](HistoryCoordinator &c, int *) { return c.deleteAllHistory(); }, true},
        {"account change",
         [](HistoryCoordinator &c, int *runs) { return c.performAccountChange(recordingOperation(runs)); }, true},
        {"sign-out", [](HistoryCoordinator &c, int *runs) { return c.performSignOut(recordingOperation(runs)); }, true},
        {"exclusive", [](HistoryCoordinator &c, int *runs) { return c.performExclusive(recordingOperation(runs)); }, true},
    };
    const std::string scope = signInAndSelect("Ann", {}, /*enabled=*/false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        coordinator->setErrorMessage("earlier failure");
        store->hold(Op::enableCollection);
        auto running = coordinator->enableHistory();
        ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::enableCollection) == 1; }));
        const std::size_t callsBefore = store->calls.size();
        const QUuid revision = coordinator->revision();

        int runs = 0;
        const std::string thrown = thrownMessage(c.start(*coordinator, &runs));

        EXPECT_EQ(runs, 0);
        EXPECT_EQ(store->calls.size(), callsBefore);
        EXPECT_EQ(coordinator->revision(), revision);
        EXPECT_TRUE(coordinator->isBusy());
        if (c.throwsToCaller) {
            EXPECT_EQ(thrown, kInProgressMessage);
            EXPECT_EQ(coordinator->errorMessage(), "earlier failure");
        } else {
            EXPECT_EQ(thrown, "");
            EXPECT_EQ(coordinator->errorMessage(), kInProgressMessage);
        }

        store->release(Op::enableCollection);
        runTask(std::move(running));
        EXPECT_FALSE(coordinator->isBusy());
        EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
        ASSERT_TRUE(coordinator->snapshot());
        EXPECT_TRUE(coordinator->snapshot()->configuration.isEnabled);
        runTask(coordinator->disableSaving());
    }
}

TEST_F(HistoryCoordinatorOperationsTest, AccountChangeSelectsTheNewAccount)
{
    signInAndSelect("Ann", {reading(now() - 60)});
    const std::string bob = HistoryCoordinator::accountScope(dexcomAccount("Bob"));
    store->seed(bob, {reading(now() - 120), reading(now() - 60)});
    int runs = 0;

    runTask(coordinator->performAccountChange([this, &runs]() -> QCoro::Task<void> {
        ++runs;
        return configurationManager->updateConfiguration([](const std::optional<AppConfiguration> &current) {
            return ConfigurationManager::configurationWithAccount(current, dexcomAccount("Bob"), "mg/dL");
        });
    }));

    EXPECT_EQ(runs, 1);
    EXPECT_EQ(coordinator->selectedScope(), bob);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 2u);
    EXPECT_TRUE(coordinator->collectionToken(bob));
}

TEST_F(HistoryCoordinatorOperationsTest, SignOutLeavesTheUnselectedState)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 60)});

    runTask(coordinator->performSignOut([this]() -> QCoro::Task<void> {
        return configurationManager->updateConfiguration(&ConfigurationManager::configurationClearingCredentials);
    }));

    EXPECT_TRUE(coordinator->hasSelectedAccount());
    EXPECT_EQ(coordinator->selectedScope(), std::nullopt);
    EXPECT_EQ(store->activeScope, std::nullopt);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->readings.empty());
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);
}

TEST_F(HistoryCoordinatorOperationsTest, AccountOperationReportsOnlyItsOwnFailure)
{
    signInAndSelect("Ann");

    // The operation itself fails: thrown to the caller, and shown.
    int runs = 0;
    try {
        runTask(coordinator->performAccountChange(
            recordingOperation(&runs, GlucoseHistoryError::Case::storageFailure)));
        ADD_FAILURE() << "the operation's error should reach the caller";
    } catch (const GlucoseHistoryError &error) {
        EXPECT_EQ(error.kind, GlucoseHistoryError::Case::storageFailure);
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(coordinator->errorMessage(), messageOf(GlucoseHistoryError::Case::storageFailure));
    EXPECT_FALSE(coordinator->isBusy());

    // The operation succeeds, the activation after it fails: returns normally, message kept.
    store->failNext(Op::activateAccount, GlucoseHistoryError::Case::keychainFailure);
    runTask(coordinator->performSignOut(recordingOperation(&runs)));
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(coordinator->errorMessage(), messageOf(GlucoseHistoryError::Case::keychainFailure));
    EXPECT_FALSE(coordinator->hasSelectedAccount());
    EXPECT_FALSE(coordinator->isBusy());

    // performExclusive itself passes the activation's failure on, with the completion flag set.
    store->failNext(Op::activateAccount, GlucoseHistoryError::Case::keychainFailure);
    bool completed = false;
    EXPECT_EQ(thrownMessage(coordinator->performExclusive(recordingOperation(&runs), &completed)),
              messageOf(GlucoseHistoryError::Case::keychainFailure));
    EXPECT_TRUE(completed);
}

TEST_F(HistoryCoordinatorOperationsTest, OperationsWithdrawTheSnapshotWhileTheyRun)
{
    const std::string scope = signInAndSelect("Ann", {reading(now() - 60)});
    store->hold(Op::setRetentionDays);
    SignalCounter busySpy(coordinator.get(), &HistoryCoordinator::isBusyChanged);

    auto change = coordinator->setRetentionDays(30);
    ASSERT_TRUE(waitUntil([&] { return store->heldCount(Op::setRetentionDays) == 1; }));
    EXPECT_TRUE(coordinator->isBusy());
    EXPECT_EQ(coordinator->snapshot(), std::nullopt);
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);
    EXPECT_TRUE(coordinator->savedGraphHistory(scope, now()).readings.empty());

    store->release(Op::setRetentionDays);
    runTask(std::move(change));
    EXPECT_EQ(busySpy.count(), 2);
    EXPECT_TRUE(coordinator->collectionToken(scope));
    EXPECT_EQ(coordinator->savedGraphHistory(scope, now()).readings.size(), 1u);
}

} // namespace
} // namespace quillby::test
