// The coordinator over the real store, on a temporary folder with an in-memory keyring.

#include "HistoryCoordinatorFixture.h"
#include "HistoryKeyringItems.h"
#include "insights/InsightsCollectionProgress.h"

#include "core/AppNotifications.h"
#include "history/GlucoseHistoryStore.h"

#include <filesystem>

namespace quillby::test {
namespace {

class HistoryCoordinatorRealStoreTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    std::filesystem::path root = std::filesystem::path(temp.path().toStdString()) / "Quillby" / "History";
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(1'800'000'000.0);
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager = std::make_unique<ConfigurationManager>(
        std::make_shared<FakeKeychainItemStore>(),
        std::make_shared<QSettings>(temp.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat),
        QLocale(QLocale::English, QLocale::UnitedStates), clock, std::make_shared<EventLoopSleeper>(), notifications);
    std::shared_ptr<GlucoseHistoryStore> store = makeStore();
    std::unique_ptr<HistoryCoordinator> coordinator = std::make_unique<HistoryCoordinator>(
        store, *configurationManager, clock, std::make_shared<VirtualTimeSleeper>(*clock));

    std::shared_ptr<GlucoseHistoryStore> makeStore()
    {
        return std::make_shared<GlucoseHistoryStore>(root, legacyHistoryKeychain(keyring), historyKeychainFactory(keyring),
                                                     &insightsMinimumDatasetReached);
    }
    std::string signIn(const std::string &username)
    {
        const auto account = dexcomAccount(username);
        runTask(configurationManager->updateConfiguration([account](const std::optional<AppConfiguration> &current) {
            return ConfigurationManager::configurationWithAccount(current, account, "mg/dL");
        }));
        return HistoryCoordinator::accountScope(account);
    }
    void drain()
    {
        ASSERT_TRUE(waitUntil([&] { return !coordinator->isDraining(); }));
    }
};

TEST_F(HistoryCoordinatorRealStoreTest, SavesBatchesAndRefillsTheGraphUntilDeleted)
{
    const std::string scope = signIn("Ann");
    runTask(coordinator->selectAccountScope());
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_FALSE(coordinator->snapshot()->configuration.isEnabled);
    EXPECT_EQ(coordinator->collectionToken(scope), std::nullopt);

    runTask(coordinator->enableHistory());
    ASSERT_EQ(coordinator->errorMessage(), std::nullopt);
    const auto token = coordinator->collectionToken(scope);
    ASSERT_TRUE(token);

    const Date t = clock->now();
    coordinator->enqueue({reading(t - 3600, 110), reading(t - 60, 130)}, t, *token);
    drain();
    ASSERT_EQ(coordinator->errorMessage(), std::nullopt);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 2u);
    EXPECT_EQ(coordinator->savedGraphHistory(scope, t).readings.size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(root / "accounts"));

    // After a disable, a batch with the old token is dropped without a message; readings stay.
    runTask(coordinator->disableSaving());
    coordinator->enqueue({reading(t - 30, 140)}, t, *token);
    drain();
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    EXPECT_EQ(coordinator->snapshot()->readings.size(), 2u);
    EXPECT_EQ(coordinator->savedGraphHistory(scope, t).readings.size(), 2u);

    runTask(coordinator->setRetentionDays(45));
    EXPECT_EQ(coordinator->errorMessage(), GlucoseHistoryError::message(GlucoseHistoryError::Case::invalidRetention));

    runTask(coordinator->deleteAllHistory());
    EXPECT_EQ(coordinator->errorMessage(), std::nullopt);
    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->readings.empty());
    EXPECT_TRUE(coordinator->savedGraphHistory(scope, t).readings.empty());
    EXPECT_EQ(keyring->itemCount(), 0u);
}

TEST_F(HistoryCoordinatorRealStoreTest, ARestartRestoresTheSavedReadings)
{
    const std::string scope = signIn("Ann");
    runTask(coordinator->requestSnapshotRefresh());   // selects
    runTask(coordinator->enableHistory());
    const Date t = clock->now();
    coordinator->enqueue({reading(t - 120)}, t, *coordinator->collectionToken(scope));
    drain();

    coordinator.reset();
    store.reset();
    clock->advance(300);
    store = makeStore();
    coordinator = std::make_unique<HistoryCoordinator>(store, *configurationManager, clock,
                                                       std::make_shared<VirtualTimeSleeper>(*clock));
    runTask(coordinator->requestSnapshotRefresh());

    ASSERT_TRUE(coordinator->snapshot());
    EXPECT_TRUE(coordinator->snapshot()->configuration.isEnabled);
    EXPECT_EQ(coordinator->savedGraphHistory(scope, clock->now()).readings.size(), 1u);
    EXPECT_TRUE(coordinator->collectionToken(scope));
}

} // namespace
} // namespace quillby::test
