#pragma once

#include "app/QuillbyApp.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItemManager.h"
#include "providers/DexcomAPI.h"
#include "services/UpdateChecker.h"

#include "FakeAlertDelivery.h"
#include "FakeDexcomServer.h"
#include "FakeHistoryStore.h"
#include "FakeKeychainItemStore.h"
#include "FakeNetworkMonitor.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace quillby::test {

// The real composition root over fakes: an in-memory keyring, a temporary settings file,
// saved history in memory, a recording alert delivery, and Dexcom Share at a loopback server.
struct AppHarness {
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults;
    std::shared_ptr<FakeKeychainItemStore> keychain = std::make_shared<FakeKeychainItemStore>();
    std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    std::shared_ptr<EventLoopSleeper> sleeper = std::make_shared<EventLoopSleeper>();
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager;
    std::unique_ptr<HistoryCoordinator> historyCoordinator;
    std::unique_ptr<UpdateChecker> updateChecker = std::make_unique<UpdateChecker>();
    FakeNetworkMonitor networkMonitor;
    std::shared_ptr<FakeAlertDelivery> alertDelivery = std::make_shared<FakeAlertDelivery>();
    FakeDexcomServer dexcom;
    int clientsMade = 0;
    std::optional<GlucoseAccountConfiguration> lastClientAccount;   // the account of the last client made
    SleepWakeMonitor *sleepWakeMonitor = nullptr;
    std::shared_ptr<DesktopNotifications> notificationCenter;
    std::unique_ptr<QuillbyApp> app;

    AppHarness()
    {
        defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
        dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001");
    }

    ~AppHarness()
    {
        app.reset();
        historyCoordinator.reset();
        configurationManager.reset();
    }

    void storeAccount(GlucoseAccountConfiguration account, std::string unit = "mg/dL")
    {
        AppConfiguration configuration;
        configuration.account = std::move(account);
        configuration.app = AppSettings::defaults();
        configuration.app.measurementUnit = std::move(unit);
        keychain->setStoredBytes(QByteArray::fromStdString(configuration.encode()));
    }

    static GlucoseAccountConfiguration dexcomAccount()
    {
        GlucoseAccountConfiguration account;
        account.provider = GlucoseProvider::dexcom;
        account.username = "ada";
        account.password = "secret";
        account.region = "us";
        return account;
    }

    void setOnboardingCompleted(bool completed) { defaults->setValue(ConfigurationManager::kOnboardingCompletedKey, completed); }
    void setAcceptedTerms(const QString &version) { defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, version); }

    void build()
    {
        configurationManager = std::make_unique<ConfigurationManager>(keychain, defaults, QLocale(QStringLiteral("en_US")),
                                                                      clock, sleeper, notifications);
        historyCoordinator = std::make_unique<HistoryCoordinator>(std::make_shared<FakeHistoryStore>(),
                                                                  *configurationManager, clock, sleeper);
        QuillbyEnvironment environment;
        environment.notifications = &notifications;
        environment.configurationManager = configurationManager.get();
        environment.clock = clock;
        environment.sleeper = sleeper;
        environment.updateChecker = updateChecker.get();
        environment.historyCoordinator = historyCoordinator.get();
        environment.networkMonitor = &networkMonitor;
        environment.alertDelivery = alertDelivery;
        environment.defaults = defaults;
        environment.sleepWakeMonitor = sleepWakeMonitor;
        environment.notificationCenter = notificationCenter;
        const std::string origin = dexcom.origin();
        environment.makeAPIClient = [this, origin](const GlucoseAccountConfiguration &account) {
            ++clientsMade;
            lastClientAccount = account;
            DexcomAPIOptions options;
            options.baseURLs = DexcomAPI::baseURLsAt(origin);
            return std::make_shared<DexcomAPI>(account.username, account.password, account.region, options);
        };
        environment.settingsDexcomAPIFactory = [origin](const std::string &username, const std::string &password,
                                                        const std::string &region, QNetworkAccessManager *) {
            DexcomAPIOptions options;
            options.baseURLs = DexcomAPI::baseURLsAt(origin);
            return std::make_shared<DexcomAPI>(username, password, region, options);
        };
        // Launch at login writes into the temporary folder, never into the real autostart folder.
        environment.loginItemManager =
            std::make_shared<LoginItemManager>(QStringLiteral("/usr/bin/quillby"), directory.path());
        app = std::make_unique<QuillbyApp>(std::move(environment));
    }
};

} // namespace quillby::test
