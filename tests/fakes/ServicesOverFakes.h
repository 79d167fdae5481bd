#pragma once

#include "ConfigurationStorage.h"
#include "FakeHistoryStore.h"

#include "core/AppNotifications.h"
#include "core/Clock.h"
#include "core/ConfigurationManager.h"
#include "core/async/Sleeper.h"
#include "history/HistoryCoordinator.h"

#include <memory>
#include <optional>

namespace quillby::test {

// The long-lived services a window or the whole program stands on, over fakes: a temporary
// settings file and an in-memory keyring item, the real clock and event-loop sleeper, and (once
// buildServices() has run) the configuration owner and saved history in memory.
struct ServicesOverFakes : ConfigurationStorage {
    std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    std::shared_ptr<EventLoopSleeper> sleeper = std::make_shared<EventLoopSleeper>();
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager;
    std::unique_ptr<HistoryCoordinator> history;

    ServicesOverFakes() = default;
    ServicesOverFakes(const ServicesOverFakes &) = delete;
    ServicesOverFakes &operator=(const ServicesOverFakes &) = delete;
    ~ServicesOverFakes()
    {
        history.reset();
        configurationManager.reset();
    }

    // The configuration owner and the history coordinator (over `store`, or in memory).
    void buildServices(std::shared_ptr<GlucoseHistoryStoring> store = nullptr)
    {
        configurationManager = std::make_unique<ConfigurationManager>(keychain, defaults, QLocale(QStringLiteral("en_US")),
                                                                      clock, sleeper, notifications);
        history = std::make_unique<HistoryCoordinator>(store ? store : std::make_shared<FakeHistoryStore>(),
                                                       *configurationManager, clock, sleeper);
    }

    void acceptTerms(const QString &version = QString::fromStdString(ConfigurationManager::kCurrentTermsVersion))
    {
        defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, version);
    }

    // The Dexcom Share account the loopback server knows.
    static GlucoseAccountConfiguration dexcomAccount()
    {
        GlucoseAccountConfiguration account;
        account.provider = GlucoseProvider::dexcom;
        account.username = "ada";
        account.password = "secret";
        account.region = "us";
        return account;
    }
};

} // namespace quillby::test
