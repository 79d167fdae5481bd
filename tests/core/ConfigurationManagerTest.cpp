#include "core/ConfigurationManager.h"
#include "core/AppNotifications.h"
#include "core/KeychainItemStore.h"
#include "core/OperationCancelledError.h"
#include "core/UserDefaults.h"

#include "fakes/FakeClock.h"
#include "fakes/FakeKeychainItemStore.h"
#include "fakes/ConfigurationStorage.h"
#include "fakes/TaskRunner.h"
#include "fakes/VirtualTimeSleeper.h"
#include "fakes/WaitUntil.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include <future>
#include <mutex>
#include <vector>

namespace quillby {
namespace {

// Counts a signal's emissions and keeps the arguments of the last one.
template <typename... Args>
struct Emissions {
    template <typename Sender, typename Signal>
    Emissions(Sender *sender, Signal signal)
    {
        QObject::connect(sender, signal, sender, [this](const Args &...args) {
            ++count;
            last = std::make_tuple(args...);
        });
    }
    int count = 0;
    std::optional<std::tuple<std::decay_t<Args>...>> last;
};

using test::FakeKeychainItemStore;
using test::runTask;
using test::waitUntil;
using nlohmann::json;

class ConfigurationManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        ScopedLogger::setSinkForTesting([this](int, const std::string &line) {
            std::lock_guard lock(logMutex);
            logLines.push_back(line);
        });
    }
    void TearDown() override { ScopedLogger::setSinkForTesting(nullptr); }

    std::shared_ptr<QSettings> makeDefaults()
    {
        return std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    }

    std::unique_ptr<ConfigurationManager> makeManager(QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates))
    {
        if (!defaults) {
            defaults = makeDefaults();
        }
        return std::make_unique<ConfigurationManager>(store, defaults, locale, clock, sleeper, notifications);
    }

    static AppConfiguration storedAccountConfiguration()
    {
        AppConfiguration configuration;
        configuration.account.username = "person@example.com";
        configuration.account.password = "secret";
        configuration.account.region = "us";
        configuration.app.measurementUnit = "mg/dL";
        configuration.app.lowGlucoseThreshold = 70;
        configuration.app.highGlucoseThreshold = 180;
        return configuration;
    }

    std::optional<AppConfiguration> storedConfiguration() const { return configurationIn(*store); }

    std::vector<std::string> logged()
    {
        std::lock_guard lock(logMutex);
        return logLines;
    }

    QTemporaryDir directory;
    std::shared_ptr<FakeKeychainItemStore> store = std::make_shared<FakeKeychainItemStore>();
    std::shared_ptr<QSettings> defaults;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>(1'800'000'000.0);
    std::shared_ptr<test::VirtualTimeSleeper> sleeper = std::make_shared<test::VirtualTimeSleeper>(*clock);
    AppNotifications notifications;
    std::mutex logMutex;
    std::vector<std::string> logLines;
};

ConfigurationManager::Transform settingUsername(std::string suffix)
{
    return [suffix](const std::optional<AppConfiguration> &current) {
        AppConfiguration next = current.value_or(AppConfiguration{});
        next.account.username += suffix;
        return next;
    };
}

TEST_F(ConfigurationManagerTest, StartsUnloadedWithFirstRunSettings)
{
    auto manager = makeManager();
    EXPECT_FALSE(manager->configuration());
    EXPECT_FALSE(manager->configurationLoadFailed());
    EXPECT_FALSE(manager->hasCompletedOnboarding());
    EXPECT_EQ(manager->appSettings().measurementUnit, "mg/dL");
    EXPECT_EQ(manager->measurementUnit(), "mg/dL");
    EXPECT_EQ(manager->graphTimeWindowHours(), 6);
    EXPECT_EQ(store->readCount(), 0) << "construction does not load";
}

TEST_F(ConfigurationManagerTest, FirstRunPublishesEmptyAccountWithUnitByRegion)
{
    struct Case {
        QLocale locale;
        const char *unit;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "mg/dL"},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), "mmol/L"},
        {QLocale(QLocale::Japanese, QLocale::Japan), "mg/dL"},
        {QLocale::c(), "mmol/L"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        auto manager = makeManager(c.locale);
        Emissions<std::optional<AppConfiguration>> published(manager.get(), &ConfigurationManager::configurationChanged);
        runTask(manager->loadConfiguration());
        ASSERT_TRUE(manager->configuration());
        EXPECT_EQ(manager->configuration()->account, GlucoseAccountConfiguration::empty());
        EXPECT_EQ(manager->configuration()->account.region, "ous");
        EXPECT_EQ(manager->configuration()->app.measurementUnit, c.unit);
        EXPECT_FALSE(manager->configurationLoadFailed());
        EXPECT_FALSE(manager->configuration()->account.isComplete());
        EXPECT_EQ(published.count, 1);
    }
    EXPECT_FALSE(store->storedBytes()) << "a load never writes";
}

TEST_F(ConfigurationManagerTest, LoadsStoredConfigurationOnce)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    // Two loads at the same time share one keyring read.
    auto first = manager->loadConfiguration();
    auto second = manager->loadConfiguration();
    runTask(std::move(first));
    runTask(std::move(second));
    EXPECT_EQ(store->readCount(), 1);
    ASSERT_TRUE(manager->configuration());
    EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
    EXPECT_EQ(manager->appSettings(), storedAccountConfiguration().app);
    // Loaded: later loads return at once.
    runTask(manager->loadConfiguration());
    EXPECT_EQ(runTask(manager->requireConfiguration()), storedAccountConfiguration());
    EXPECT_EQ(store->readCount(), 1);
}

TEST_F(ConfigurationManagerTest, LoadFailuresPublishDefaultsAndLogTheReason)
{
    // A damaged item quotes the password near the damage; only the kind of fault is logged.
    const std::string stored = storedAccountConfiguration().encode();
    const std::string password = "\"secret\"";
    ASSERT_NE(stored.find(password), std::string::npos);
    std::string unknownProvider = stored;
    unknownProvider.replace(unknownProvider.find("\"dexcom\""), 8, "\"secret\"");
    std::string wrongType = stored;
    wrongType.replace(wrongType.find(password), password.size(), "[\"secret\"]");
    struct Case {
        const char *name;
        std::function<void(FakeKeychainItemStore &)> arrange;
        std::string logLine;
    };
    const std::string prefix =
        "[app/ConfigurationManager] Failed to load configuration from keyring item Quillby/configuration: ";
    const Case cases[] = {
        {"keyring status", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::timedOut); },
         prefix + "keychain read failed (status -25309); reading it again when the keyring is available"},
        {"missing value", [](FakeKeychainItemStore &s) { s.setStoredBytes("{\"account\":{}}"); },
         prefix + "stored configuration could not be decoded: a value is missing or out of range"},
        {"cut off after the password",
         [&](FakeKeychainItemStore &s) {
             s.setStoredBytes(QByteArray::fromStdString(stored.substr(0, stored.find(password) + password.size())));
         },
         prefix + "stored configuration could not be decoded: not valid JSON"},
        {"password of the wrong type", [&](FakeKeychainItemStore &s) { s.setStoredBytes(QByteArray::fromStdString(wrongType)); },
         prefix + "stored configuration could not be decoded: a value has the wrong type"},
        {"unknown provider", [&](FakeKeychainItemStore &s) { s.setStoredBytes(QByteArray::fromStdString(unknownProvider)); },
         prefix + "stored configuration could not be decoded: a value is not one this version knows"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        store = std::make_shared<FakeKeychainItemStore>();
        c.arrange(*store);
        {
            std::lock_guard lock(logMutex);
            logLines.clear();
        }
        auto manager = makeManager(QLocale(QLocale::English, QLocale::UnitedStates));
        runTask(manager->loadConfiguration());
        EXPECT_TRUE(manager->configurationLoadFailed());
        ASSERT_TRUE(manager->configuration());
        EXPECT_EQ(manager->configuration()->account, GlucoseAccountConfiguration::empty());
        EXPECT_EQ(manager->configuration()->app, AppSettings::defaults()) << "mmol/L whatever the region";
        const auto lines = logged();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.logLine);

        // While the item stays unreadable, updates fail and never overwrite it.
        try {
            runTask(manager->updateConfiguration(settingUsername("x")));
            ADD_FAILURE() << "update succeeded";
        } catch (const ConfigurationError &error) {
            EXPECT_EQ(error.kind, ConfigurationError::Case::invalidConfiguration);
            EXPECT_STREQ(error.what(), "Invalid configuration data");
        }
        EXPECT_EQ(store->writeCount(), 0);
        EXPECT_EQ(store->readCount(), 2) << "the update retried the load";
        EXPECT_THROW(runTask(manager->requireConfiguration()), ConfigurationError);
    }
}

TEST_F(ConfigurationManagerTest, LoadAfterFailureReadsAgainAndRecovers)
{
    store->failNextRead(keychain_status::authFailed);
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    EXPECT_TRUE(manager->configurationLoadFailed());
    runTask(manager->loadConfiguration());
    EXPECT_FALSE(manager->configurationLoadFailed());
    EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
    EXPECT_EQ(store->readCount(), 2);
}

// A load that failed because the keyring is unavailable for now (locked, its prompt dismissed
// or timed out, its service not there yet) is read again by itself: at once when the keyring
// reports a change. Once read, the configuration is published and the shell told, as after a
// sign-in, so polling starts. A damaged item, an unsupported keyring and a missing item are not
// read again by themselves.
TEST_F(ConfigurationManagerTest, ReadsAgainByItselfWhenTheKeyringReportsAChange)
{
    const struct {
        const char *name;
        std::function<void(FakeKeychainItemStore &)> arrange;
        bool waits;
    } cases[] = {
        {"locked", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::locked); }, true},
        {"prompt timed out", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::timedOut); }, true},
        {"prompt dismissed", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::userCanceled); }, true},
        {"access denied", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::authFailed); }, true},
        {"no Secret Service", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::notAvailable); }, true},
        {"daemon restarting", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::internalError); }, true},
        {"unsupported", [](FakeKeychainItemStore &s) { s.setReadFailure(keychain_status::unimplemented); }, false},
        {"damaged item", [](FakeKeychainItemStore &s) { s.setStoredBytes("{\"account\":"); }, false},
        {"missing item", [](FakeKeychainItemStore &s) { s.keyring().removeItem(s.service(), s.account()); }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        store = std::make_shared<FakeKeychainItemStore>();
        storeConfigurationIn(*store, storedAccountConfiguration());
        c.arrange(*store);
        sleeper->requests.clear();
        KeyringWatching keyring;
        auto manager = makeManager();
        manager->watchKeyring(&keyring);
        QSignalSpy accountChanged(&notifications, &AppNotifications::configurationDidUpdate);
        QSignalSpy settingsChanged(&notifications, &AppNotifications::appSettingsDidUpdate);
        runTask(manager->loadConfiguration());
        EXPECT_EQ(manager->isWaitingForKeyring(), c.waits);
        EXPECT_EQ(manager->configuration()->account, GlucoseAccountConfiguration::empty());
        test::VirtualTimeSleeper::drain();
        EXPECT_EQ(sleeper->requests, c.waits ? std::vector<double>{5} : std::vector<double>{});
        if (!c.waits) {
            continue;
        }

        // The keyring is unlocked and says so: read at once, no time passes.
        store->setReadFailure(std::nullopt);
        const Date unlockedAt = clock->now();
        emit keyring.keyringMayHaveChanged();
        ASSERT_TRUE(waitUntil([&] { return accountChanged.count() > 0; }));
        EXPECT_EQ(clock->now(), unlockedAt);
        EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
        EXPECT_FALSE(manager->configurationLoadFailed());
        EXPECT_FALSE(manager->isWaitingForKeyring());
        ASSERT_EQ(accountChanged.count(), 1);
        EXPECT_FALSE(accountChanged.at(0).at(0).toBool());   // with the first refresh, as at launch
        EXPECT_EQ(settingsChanged.count(), 1);               // mg/dL and thresholds differ too
        EXPECT_EQ(store->readCount(), 2);
        test::VirtualTimeSleeper::drain();
        EXPECT_EQ(sleeper->pendingCount(), 0u);   // nothing more to wait for
    }
}

// The keyring's word that comes while a read is under way is not lost: when that read still
// fails, the next one follows at once.
TEST_F(ConfigurationManagerTest, AKeyringChangeDuringAReadLeadsToAnotherReadAtOnce)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    store->setReadFailure(keychain_status::locked);
    KeyringWatching keyring;
    auto manager = makeManager();
    manager->watchKeyring(&keyring);
    QSignalSpy accountChanged(&notifications, &AppNotifications::configurationDidUpdate);
    runTask(manager->loadConfiguration());
    ASSERT_TRUE(manager->isWaitingForKeyring());

    // The next read waits for the test's word, and then fails all the same.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    store->keyring().setBeforeRead([released] { released.wait(); });
    store->setReadFailure(std::nullopt);
    store->failNextRead(keychain_status::locked);
    ASSERT_TRUE(sleeper->runNext());   // the first pause ends; a read starts
    const Date readStartedAt = clock->now();
    emit keyring.keyringMayHaveChanged();
    store->keyring().setBeforeRead(nullptr);
    release.set_value();
    ASSERT_TRUE(waitUntil([&] { return accountChanged.count() > 0; }));
    EXPECT_EQ(clock->now(), readStartedAt);
    EXPECT_EQ(store->readCount(), 3);
    EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
}

// Without a word from the keyring the item is read again after pauses of 5 s, doubling up to
// 5 minutes, until it can be read; the time from the unlock to the read is at most one pause.
// A load that another part of the program makes meanwhile (Settings, saved history) and that
// succeeds tells the shell in the same way.
TEST_F(ConfigurationManagerTest, ReadsAgainAfterGrowingPausesWithoutWordFromTheKeyring)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    store->setReadFailure(keychain_status::locked);
    auto manager = makeManager();
    QSignalSpy accountChanged(&notifications, &AppNotifications::configurationDidUpdate);
    const Date startedAt = clock->now();
    runTask(manager->loadConfiguration());
    ASSERT_TRUE(manager->isWaitingForKeyring());

    ASSERT_TRUE(sleeper->advanceUntil([&] { return sleeper->requests.size() == 9; }));
    EXPECT_EQ(sleeper->requests, (std::vector<double>{5, 10, 20, 40, 80, 160, 300, 300, 300}));
    EXPECT_EQ(clock->now() - startedAt, 5 + 10 + 20 + 40 + 80 + 160 + 300 + 300);
    EXPECT_EQ(store->readCount(), 9);
    EXPECT_TRUE(manager->isWaitingForKeyring());
    EXPECT_EQ(accountChanged.count(), 0);

    sleeper->runFor(100);
    store->setReadFailure(std::nullopt);
    const Date unlockedAt = clock->now();
    ASSERT_TRUE(sleeper->advanceUntil([&] { return accountChanged.count() > 0; }));
    EXPECT_EQ(clock->now() - unlockedAt, 200);   // the rest of the 300 s pause
    EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
    EXPECT_EQ(sleeper->pendingCount(), 0u);

    // Another reader gets there first: it tells the shell, and the pauses end.
    store = std::make_shared<FakeKeychainItemStore>();
    storeConfigurationIn(*store, storedAccountConfiguration());
    store->setReadFailure(keychain_status::notAvailable);
    auto second = makeManager();
    runTask(second->loadConfiguration());
    store->setReadFailure(std::nullopt);
    runTask(second->loadConfiguration());
    EXPECT_EQ(accountChanged.count(), 2);
    EXPECT_FALSE(second->isWaitingForKeyring());
    sleeper->runFor(5);
    EXPECT_EQ(store->readCount(), 2);
    EXPECT_EQ(sleeper->pendingCount(), 0u);
}

// A stored document whose thresholds lie outside what a save allows (an older version, a hand
// edit) is published with the thresholds the next save would store, so the tray, the graph and
// the alerts all judge readings against the same values; the stored item is left as it is.
TEST_F(ConfigurationManagerTest, LoadedThresholdsArePublishedNormalizedAndStorageIsLeftAlone)
{
    struct Case {
        const char *name;
        double storedLow, storedHigh;
        double low, high;
    };
    const Case cases[] = {
        {"low above its range", 150, 180, 90, 180},
        {"high below its range", 70, 100, 70, 108},
        {"typed in mmol/L", 3.9, 10, 70, 180},
        {"in range", 85, 250, 85, 250},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppConfiguration stored = storedAccountConfiguration();
        stored.app.lowGlucoseThreshold = c.storedLow;
        stored.app.highGlucoseThreshold = c.storedHigh;
        const QByteArray bytes = QByteArray::fromStdString(stored.encode());
        store->setStoredBytes(bytes);
        auto manager = makeManager();
        runTask(manager->loadConfiguration());
        ASSERT_TRUE(manager->configuration());
        EXPECT_EQ(manager->configuration()->app.lowGlucoseThreshold, c.low);
        EXPECT_EQ(manager->configuration()->app.highGlucoseThreshold, c.high);
        EXPECT_EQ(manager->appSettings().lowGlucoseThreshold, c.low);
        EXPECT_EQ(manager->configuration()->account, stored.account);
        EXPECT_EQ(*store->storedBytes(), bytes);
        EXPECT_EQ(store->writeCount(), 0);
    }
}

TEST_F(ConfigurationManagerTest, UpdateNormalizesSavesThenPublishes)
{
    auto manager = makeManager();
    std::vector<AppConfiguration> seen;
    QObject::connect(manager.get(), &ConfigurationManager::configurationChanged, manager.get(),
                     [&](const std::optional<AppConfiguration> &c) {
                         ASSERT_TRUE(c);
                         seen.push_back(*c);
                     });
    runTask(manager->updateConfiguration([](const std::optional<AppConfiguration> &current) {
        AppConfiguration next = *current;   // the first run's configuration, loaded by the update
        next.app.lowGlucoseThreshold = 3.9;
        next.app.highGlucoseThreshold = 10;
        next.app.graphTimeWindowHours = 2;
        return next;
    }));
    ASSERT_EQ(seen.size(), 2u) << "load, then update";
    EXPECT_EQ(seen[1].app.lowGlucoseThreshold, 70);
    EXPECT_EQ(seen[1].app.highGlucoseThreshold, 180);
    EXPECT_EQ(seen[1].app.graphTimeWindowHours, 6);
    EXPECT_EQ(seen[1].app.measurementUnit, "mg/dL");
    EXPECT_EQ(*manager->configuration(), seen[1]);
    // Stored exactly as encoded, keys in the documented order.
    EXPECT_EQ(store->storedBytes()->toStdString(), seen[1].encode());
}

TEST_F(ConfigurationManagerTest, UpdatesRunInCallOrderAndAFailureDoesNotStopTheNext)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    store->failNextWrite(keychain_status::success);
    store->failNextWrite(keychain_status::authFailed);
    auto manager = makeManager();
    Emissions<std::optional<AppConfiguration>> published(manager.get(), &ConfigurationManager::configurationChanged);

    auto first = manager->updateConfiguration(settingUsername("+a"));
    auto second = manager->updateConfiguration(settingUsername("+b"));
    auto third = manager->updateConfiguration(settingUsername("+c"));
    runTask(std::move(first));
    try {
        runTask(std::move(second));
        ADD_FAILURE() << "second update succeeded";
    } catch (const ConfigurationError &error) {
        EXPECT_EQ(error.kind, ConfigurationError::Case::keychainError);
        EXPECT_EQ(error.status, keychain_status::authFailed);
        EXPECT_STREQ(error.what(), "Keyring error: access to the keyring was denied");
    }
    runTask(std::move(third));

    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+a+c");
    EXPECT_EQ(storedConfiguration()->account.username, "person@example.com+a+c");
    EXPECT_EQ(store->readCount(), 1);
    EXPECT_EQ(store->writeCount(), 3);
    ASSERT_EQ(published.count, 3) << "load, first, third";
}

TEST_F(ConfigurationManagerTest, FailedSaveLeavesPublishedConfiguration)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    store->setWriteFailure(keychain_status::notAvailable);
    Emissions<std::optional<AppConfiguration>> published(manager.get(), &ConfigurationManager::configurationChanged);
    EXPECT_THROW(runTask(manager->updateConfiguration(settingUsername("x"))), ConfigurationError);
    EXPECT_EQ(published.count, 0);
    EXPECT_EQ(*manager->configuration(), storedAccountConfiguration());
    EXPECT_EQ(*storedConfiguration(), storedAccountConfiguration());
}

// A save whose keyring job timed out is reported as failed, but the keyring finishes the job
// later. What is published must end up as what is stored, not the old value while the next
// start reads the new one.
TEST_F(ConfigurationManagerTest, SaveThatTimedOutButLandedIsReadBackAndPublished)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    int accountNotices = 0;
    QObject::connect(&notifications, &AppNotifications::configurationDidUpdate, manager.get(),
                     [&](bool) { ++accountNotices; });
    Emissions<std::optional<AppConfiguration>> published(manager.get(), &ConfigurationManager::configurationChanged);

    store->landNextWriteButReport(keychain_status::timedOut);
    try {
        runTask(manager->updateConfiguration(settingUsername("+late")));
        ADD_FAILURE() << "the save was reported as done";
    } catch (const ConfigurationError &error) {
        EXPECT_EQ(error.status, keychain_status::timedOut);
        EXPECT_STREQ(error.what(), "Keyring error: the keyring did not answer in time");
    }
    EXPECT_EQ(storedConfiguration()->account.username, "person@example.com+late");

    // The manager reads the item back on its own and publishes what is stored.
    ASSERT_TRUE(waitUntil([&] { return published.count > 0; }, 30000));
    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+late");
    EXPECT_FALSE(manager->isStoredConfigurationUncertain());
    EXPECT_EQ(accountNotices, 1);   // polling follows the stored account
    EXPECT_TRUE(sleeper->requests.empty());

    // The next update starts from it.
    runTask(manager->updateConfiguration(settingUsername("+next")));
    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+late+next");
    EXPECT_EQ(storedConfiguration()->account.username, "person@example.com+late+next");
}

// While the keyring stays stuck (a locked keyring waiting on its prompt) the read-back is tried
// again after growing pauses until it answers; an update meanwhile also starts from the store.
TEST_F(ConfigurationManagerTest, ReadBackIsRetriedUntilTheKeyringAnswers)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    Emissions<std::optional<AppConfiguration>> published(manager.get(), &ConfigurationManager::configurationChanged);

    store->landNextWriteButReport(keychain_status::timedOut);
    store->failNextRead(keychain_status::timedOut);
    store->failNextRead(keychain_status::locked);
    EXPECT_THROW(runTask(manager->updateConfiguration(settingUsername("+late"))), ConfigurationError);
    ASSERT_TRUE(sleeper->advanceUntil([&] { return published.count > 0; }, 30000));
    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+late");
    EXPECT_EQ(sleeper->requests, (std::vector<double>{15, 30}));
    EXPECT_FALSE(manager->isStoredConfigurationUncertain());

    // An update right after a timed-out save reads the item back before its transform runs.
    store->landNextWriteButReport(keychain_status::timedOut);
    auto failing = manager->updateConfiguration(settingUsername("+a"));
    auto next = manager->updateConfiguration(settingUsername("+b"));
    EXPECT_THROW(runTask(std::move(failing)), ConfigurationError);
    runTask(std::move(next));
    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+late+a+b");
    EXPECT_EQ(storedConfiguration()->account.username, "person@example.com+late+a+b");
}

TEST_F(ConfigurationManagerTest, TransformErrorReachesCallerAndChainGoesOn)
{
    auto manager = makeManager();
    EXPECT_THROW(runTask(manager->updateConfiguration(
                     [](const std::optional<AppConfiguration> &) -> AppConfiguration { throw std::runtime_error("no"); })),
                 std::runtime_error);
    runTask(manager->updateConfiguration(settingUsername("ok")));
    EXPECT_EQ(manager->configuration()->account.username, "ok");
}

TEST_F(ConfigurationManagerTest, CancelledBeforeTheWriteStopsWithoutSaving)
{
    auto manager = makeManager();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(runTask(manager->updateConfiguration(settingUsername("x"), stop.get_token())),
                 OperationCancelledError);
    EXPECT_EQ(store->writeCount(), 0);
    runTask(manager->updateConfiguration(settingUsername("y")));
    EXPECT_EQ(manager->configuration()->account.username, "y");
}

// An update stopped while it waits for its turn leaves the line without saving; the updates
// behind it still get their turns, in call order.
TEST_F(ConfigurationManagerTest, UpdateStoppedWhileWaitingLeavesTheLine)
{
    storeConfigurationIn(*store, storedAccountConfiguration());
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    // The first write is held until the second caller has stopped, so the second is still
    // waiting in line then (a write that finished at once would let it through first).
    std::promise<void> releaseWrites;
    std::shared_future<void> writesReleased = releaseWrites.get_future().share();
    store->keyring().setBeforeWrite([writesReleased](const QByteArray &) { writesReleased.wait(); });
    std::stop_source stop;
    auto first = manager->updateConfiguration(settingUsername("+a"));
    auto second = manager->updateConfiguration(settingUsername("+b"), stop.get_token());
    auto third = manager->updateConfiguration(settingUsername("+c"));
    auto fourth = manager->updateConfiguration(settingUsername("+d"));
    stop.request_stop();
    releaseWrites.set_value();
    EXPECT_THROW(runTask(std::move(second)), OperationCancelledError);
    runTask(std::move(first));
    runTask(std::move(third));
    runTask(std::move(fourth));
    EXPECT_EQ(manager->configuration()->account.username, "person@example.com+a+c+d");
    EXPECT_EQ(storedConfiguration()->account.username, "person@example.com+a+c+d");
    EXPECT_EQ(store->writeCount(), 3);
}

TEST_F(ConfigurationManagerTest, CancelledDuringTheWriteStillPublishes)
{
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    std::stop_source stop;
    store->keyring().setBeforeWrite([&stop](const QByteArray &) { stop.request_stop(); });
    runTask(manager->updateConfiguration(settingUsername("x"), stop.get_token()));
    EXPECT_EQ(manager->configuration()->account.username, "x");
    EXPECT_EQ(storedConfiguration()->account.username, "x");
}

TEST_F(ConfigurationManagerTest, OlderDexcomDocumentIsRewrittenInTheNewForm)
{
    const json older{{"dexcom", {{"username", "u"}, {"password", "p"}, {"region", "us"}}},
                     {"app", {{"measurementUnit", "mg/dL"}, {"lowGlucoseThreshold", 70}, {"highGlucoseThreshold", 180}}}};
    store->setStoredBytes(QByteArray::fromStdString(older.dump()));
    auto manager = makeManager();
    runTask(manager->loadConfiguration());
    EXPECT_EQ(manager->graphTimeWindowHours(), 6) << "absent window shows as 6 hours";
    EXPECT_FALSE(manager->configuration()->app.graphTimeWindowHours);
    runTask(manager->updateConfiguration([](const std::optional<AppConfiguration> &c) { return *c; }));
    const json saved = json::parse(store->storedBytes()->toStdString());
    EXPECT_FALSE(saved.contains("dexcom"));
    EXPECT_EQ(saved["account"]["username"], "u");
    EXPECT_EQ(saved["account"]["provider"], "dexcom");
    EXPECT_EQ(saved["app"]["graphTimeWindowHours"], 6);
}

TEST_F(ConfigurationManagerTest, TermsAcceptanceIsStoredOnce)
{
    defaults = makeDefaults();
    defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, QStringLiteral("2025-01-01"));
    auto manager = makeManager();
    EXPECT_EQ(manager->acceptedTermsVersion(), "2025-01-01");
    EXPECT_FALSE(manager->hasAcceptedCurrentTerms());

    Emissions<std::optional<std::string>> published(manager.get(), &ConfigurationManager::acceptedTermsVersionChanged);
    manager->acceptCurrentTerms();
    EXPECT_TRUE(manager->hasAcceptedCurrentTerms());
    EXPECT_EQ(manager->acceptedTermsVersion(), "2026-10-07");
    EXPECT_EQ(defaults->value(ConfigurationManager::kAcceptedTermsVersionKey).toString(), "2026-10-07");
    EXPECT_EQ(defaults::readDate(*defaults, ConfigurationManager::kTermsAcceptedAtKey), 1'800'000'000.0);

    clock->advance(3600);
    manager->acceptCurrentTerms();
    EXPECT_EQ(defaults::readDate(*defaults, ConfigurationManager::kTermsAcceptedAtKey), 1'800'000'000.0)
        << "the date is written only once";
    EXPECT_EQ(published.count, 1);

    // A new manager over the same defaults reads the acceptance back.
    EXPECT_TRUE(makeManager()->hasAcceptedCurrentTerms());
}

TEST_F(ConfigurationManagerTest, NoStoredTermsMeansNotAccepted)
{
    auto manager = makeManager();
    EXPECT_FALSE(manager->acceptedTermsVersion());
    EXPECT_FALSE(manager->hasAcceptedCurrentTerms());
}

TEST_F(ConfigurationManagerTest, OnboardingFlagIsPublished)
{
    auto manager = makeManager();
    Emissions<bool> published(manager.get(), &ConfigurationManager::hasCompletedOnboardingChanged);
    manager->setHasCompletedOnboarding(true);
    EXPECT_TRUE(manager->hasCompletedOnboarding());
    ASSERT_EQ(published.count, 1);
    EXPECT_TRUE(std::get<0>(*published.last));
    EXPECT_EQ(&manager->defaults(), defaults.get());
}

TEST(ConfigurationBuilders, BuildFromCurrentOrDefaults)
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::libreLinkUp;
    account.username = "u";
    AppConfiguration current;
    current.account.username = "old";
    current.app.lowGlucoseThreshold = 80;

    auto withAccount = ConfigurationManager::configurationWithAccount(current, account, "mg/dL");
    EXPECT_EQ(withAccount.account, account);
    EXPECT_EQ(withAccount.app.lowGlucoseThreshold, 80);
    EXPECT_EQ(withAccount.app.measurementUnit, "mg/dL");
    withAccount = ConfigurationManager::configurationWithAccount(std::nullopt, account, "mg/dL");
    AppSettings expected = AppSettings::defaults();
    expected.measurementUnit = "mg/dL";
    EXPECT_EQ(withAccount.app, expected);

    AppSettings settings;
    settings.alertsEnabled = false;
    EXPECT_EQ(ConfigurationManager::configurationReplacingSettings(current, settings),
              (AppConfiguration{current.account, settings}));
    EXPECT_EQ(ConfigurationManager::configurationReplacingSettings(std::nullopt, settings),
              (AppConfiguration{GlucoseAccountConfiguration::empty(), settings}));

    EXPECT_EQ(ConfigurationManager::configurationClearingAccountOf(current),
              (AppConfiguration{GlucoseAccountConfiguration::empty(), current.app}));
    EXPECT_EQ(ConfigurationManager::configurationClearingCredentials(std::nullopt),
              (AppConfiguration{GlucoseAccountConfiguration::empty(), AppSettings::defaults()}));
}

} // namespace
} // namespace quillby
