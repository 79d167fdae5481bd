#pragma once

#include "app/QuillbyApp.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItemManager.h"
#include "platform/SleepWakeMonitor.h"
#include "providers/DexcomAPI.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "services/UpdateChecker.h"

#include "FakeAlertDelivery.h"
#include "FakeDexcomServer.h"
#include "FakeNetworkMonitor.h"
#include "ServicesOverFakes.h"
#include "WaitUntil.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>

#include <memory>
#include <optional>

namespace quillby::test {

// Seconds since 1970 on the real clock.
inline double now()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// The real composition root over fakes: an in-memory keyring, a temporary settings file,
// saved history in memory, a recording alert delivery, and Dexcom Share at a loopback server.
// With `updateChecker` reset, the composition root builds its own (heartbeat and feedback at
// `productServerURL`, their credentials in `keychainItemStores`).
struct AppHarness : ServicesOverFakes {
    std::unique_ptr<UpdateChecker> updateChecker = std::make_unique<UpdateChecker>();
    QString productServerURL;
    KeychainItemStoreFactory keychainItemStores;
    FakeNetworkMonitor networkMonitor;
    std::shared_ptr<FakeAlertDelivery> alertDelivery = std::make_shared<FakeAlertDelivery>();
    FakeDexcomServer dexcom;
    int clientsMade = 0;
    std::optional<GlucoseAccountConfiguration> lastClientAccount;   // the account of the last client made
    SleepWakeMonitor *sleepWakeMonitor = nullptr;
    std::shared_ptr<DesktopNotifications> notificationCenter;
    std::unique_ptr<QuillbyApp> app;

    AppHarness() { dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001"); }
    ~AppHarness()
    {
        app.reset();
        history.reset();
        configurationManager.reset();
    }

    void storeAccount(GlucoseAccountConfiguration account, std::string unit = "mg/dL")
    {
        AppConfiguration configuration;
        configuration.account = std::move(account);
        configuration.app = AppSettings::defaults();
        configuration.app.measurementUnit = std::move(unit);
        storeConfiguration(configuration);
    }

    void setOnboardingCompleted(bool completed) { defaults->setValue(ConfigurationManager::kOnboardingCompletedKey, completed); }

    // Stores `account` with onboarding finished and the terms of `acceptedTerms` accepted, then
    // builds the program.
    void buildOnboarded(GlucoseAccountConfiguration account = dexcomAccount(),
                        const QString &acceptedTerms = QString::fromStdString(ConfigurationManager::kCurrentTermsVersion))
    {
        storeAccount(std::move(account));
        setOnboardingCompleted(true);
        acceptTerms(acceptedTerms);
        build();
    }

    // Launches and waits for the start-up pass.
    void launch()
    {
        QSignalSpy startup(&app->appDelegate(), &AppDelegate::startupFinished);
        app->appDelegate().finishLaunching();
        ASSERT_TRUE(startup.wait(scaledTimeoutMs(10000)));
    }

    // Waits for the account task the delegate started, if any, and those it started in turn.
    void waitForAccountTask()
    {
        AppDelegate &delegate = app->appDelegate();
        if (!delegate.isAccountTaskRunning()) {
            return;
        }
        QSignalSpy finished(&delegate, &AppDelegate::accountTaskFinished);
        ASSERT_TRUE(finished.wait(scaledTimeoutMs(20000)));
        while (delegate.isAccountTaskRunning()) {
            ASSERT_TRUE(finished.wait(scaledTimeoutMs(20000)));
        }
    }

    bool hasStatusItem()
    {
        StatusBarViewModel &viewModel = app->statusBarViewModel();
        return viewModel.hasController() && viewModel.controller().hasStatusItem();
    }

    void build()
    {
        buildServices();
        QuillbyEnvironment environment;
        environment.notifications = &notifications;
        environment.configurationManager = configurationManager.get();
        environment.clock = clock;
        environment.sleeper = sleeper;
        environment.updateChecker = updateChecker.get();
        environment.historyCoordinator = history.get();
        environment.networkMonitor = &networkMonitor;
        environment.alertDelivery = alertDelivery;
        environment.defaults = defaults;
        environment.sleepWakeMonitor = sleepWakeMonitor;
        environment.notificationCenter = notificationCenter;
        environment.productServerURL = productServerURL;
        environment.applicationVersion = QStringLiteral("1.4.2");
        environment.keychainItemStores = keychainItemStores;
        const std::string origin = dexcom.origin();
        environment.makeAPIClient = [this, origin](const GlucoseAccountConfiguration &account) {
            ++clientsMade;
            lastClientAccount = account;
            DexcomAPIOptions options;
            options.baseURLs = DexcomAPI::baseURLsAt(origin);
            return std::make_shared<DexcomAPI>(account.username, account.password, account.region, options);
        };
        GlucoseAPIClientOptions settingsClients;
        settingsClients.dexcom.baseURLs = DexcomAPI::baseURLsAt(origin);
        environment.makeSettingsAPIClient = glucoseAPIFactory(std::move(settingsClients));
        // Launch at login writes into the temporary folder, never into the real autostart folder.
        environment.loginItemManager =
            std::make_shared<LoginItemManager>(QStringLiteral("/usr/bin/quillby"), directory.path());
        app = std::make_unique<QuillbyApp>(std::move(environment));
    }
};

// logind on the session bus, which stands in for the system bus: a connection of its own that
// owns a name unique to the test, and a sleep/wake monitor that takes only that name's signals.
class StandInLogind {
public:
    StandInLogind()
        : name(QStringLiteral("org.quillby.test.login1.u") + QUuid::createUuid().toString(QUuid::Id128))
        , peer_(QStringLiteral("quillby-test-logind-") + QUuid::createUuid().toString(QUuid::Id128))
        , connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, peer_))
        , registered(connection.registerService(name))
        , monitor(QDBusConnection::sessionBus(), QDBusConnection::sessionBus(), nullptr, name)
    {
    }
    ~StandInLogind() { QDBusConnection::disconnectFromBus(peer_); }

    const QString name;

private:
    const QString peer_;

public:
    QDBusConnection connection;
    const bool registered;
    SleepWakeMonitor monitor;
};

} // namespace quillby::test
