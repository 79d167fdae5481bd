#pragma once

#include "FakeClock.h"
#include "FakeHistoryStore.h"
#include "FakeKeychainItemStore.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"
#include "WaitUntil.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillby::test {

// Lets queued work run for a few event-loop turns.
inline void processPendingEvents(int turns = 20)
{
    for (int i = 0; i < turns; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

inline GlucoseAccountConfiguration dexcomAccount(const std::string &username, const std::string &region = "us")
{
    GlucoseAccountConfiguration account = GlucoseAccountConfiguration::empty();
    account.provider = GlucoseProvider::dexcom;
    account.username = username;
    account.password = "secret";
    account.region = region;
    return account;
}

inline GlucoseReading reading(Date date, double mgdL = 120)
{
    return GlucoseReading(mgdL, "Flat", date);
}

// The exception type of a finished task, as text for readable expectations.
template <typename T>
std::string thrownMessage(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (const std::exception &error) {
        return error.what();
    }
    return {};
}

// Counts the emissions of one signal while it lives.
class SignalCounter {
public:
    template <typename Sender, typename Signal>
    SignalCounter(Sender *sender, Signal signal)
    {
        connection_ = QObject::connect(sender, signal, [this] { ++count_; });
    }
    ~SignalCounter() { QObject::disconnect(connection_); }
    SignalCounter(const SignalCounter &) = delete;
    SignalCounter &operator=(const SignalCounter &) = delete;
    int count() const { return count_; }

private:
    QMetaObject::Connection connection_;
    int count_ = 0;
};

inline const std::string kInProgressMessage =
    "A history operation is still in progress. Please try again when it finishes.";

// A configuration manager over an in-memory keyring item, a fake store and a coordinator.
class HistoryCoordinatorFixture : public ::testing::Test {
protected:
    using Op = FakeHistoryStore::Op;

    QTemporaryDir settingsDir;
    std::shared_ptr<FakeKeychainItemStore> configurationItem = std::make_shared<FakeKeychainItemStore>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(1'800'000'000.0);
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::shared_ptr<FakeHistoryStore> store = std::make_shared<FakeHistoryStore>();
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager = std::make_unique<ConfigurationManager>(
        configurationItem,
        std::make_shared<QSettings>(settingsDir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat),
        QLocale(QLocale::English, QLocale::UnitedStates), clock, std::make_shared<EventLoopSleeper>(), notifications);
    std::unique_ptr<HistoryCoordinator> coordinator =
        std::make_unique<HistoryCoordinator>(store, *configurationManager, clock, sleeper);

    // Stores `account` as the configured account.
    void configure(const GlucoseAccountConfiguration &account)
    {
        runTask(configurationManager->updateConfiguration(
            [account](const std::optional<AppConfiguration> &current) {
                return ConfigurationManager::configurationWithAccount(current, account, "mg/dL");
            }));
    }
    // Signs in as `username` and returns the account scope.
    std::string signIn(const std::string &username)
    {
        const auto account = dexcomAccount(username);
        configure(account);
        return HistoryCoordinator::accountScope(account);
    }
    // Signs in, seeds the store with that account (saving on) and selects it; then lets ten
    // minutes pass, so readings of the last minutes fall inside the collection interval that
    // the activation started.
    std::string signInAndSelect(const std::string &username, GlucoseReadings readings = {}, bool enabled = true)
    {
        const std::string scope = signIn(username);
        store->seed(scope, std::move(readings), enabled);
        runTask(coordinator->selectAccountScope());
        clock->advance(600);
        return scope;
    }
    Date now() const { return clock->now(); }
};

} // namespace quillby::test
