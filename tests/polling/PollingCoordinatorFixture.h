#pragma once

#include "FakeAlertDelivery.h"
#include "FakeClock.h"
#include "FakeGlucoseAPI.h"
#include "FakeHistoryCoordinator.h"
#include "FakeKeychainItemStore.h"
#include "FakeNetworkMonitor.h"
#include "FakeStatusBarPresenter.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/ScopedLogger.h"
#include "history/AccountScope.h"
#include "polling/StatusBarPollingCoordinator.h"

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillby::test {

inline GlucoseReading makeReading(double mgdL, Date date, GlucoseProvider source = GlucoseProvider::dexcom,
                                  const std::string &trend = "Flat")
{
    return GlucoseReading(mgdL, trend, date, source == GlucoseProvider::libreLinkUp ? 60 : 300, source);
}

inline GlucoseAccountConfiguration dexcomAccount(const std::string &username = "ann")
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::dexcom;
    account.username = username;
    account.password = "secret";
    account.region = "us";
    return account;
}

inline GlucoseAccountConfiguration libreAccount(const std::string &patient = "p1")
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::libreLinkUp;
    account.username = "ann@example.com";
    account.password = "secret";
    account.region = "eu";
    account.patientID = patient;
    return account;
}

// A coordinator over fakes, driven in virtual time. The jitter source is fixed at 0, so
// every interval is its base value.
class PollingCoordinatorTest : public ::testing::Test {
public:
    static constexpr Date kStart = 1'800'000'000.0;

    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
        configuration = std::make_unique<ConfigurationManager>(std::make_shared<FakeKeychainItemStore>(), defaults,
                                                               QLocale(QLocale::English, QLocale::UnitedStates), clock,
                                                               std::make_shared<EventLoopSleeper>(), notifications);
        ScopedLogger::setSinkForTesting([this](int, const std::string &line) { logLines.push_back(line); });
    }

    void TearDown() override
    {
        coordinator.reset();
        VirtualTimeSleeper::drain();
        ScopedLogger::setSinkForTesting(nullptr);
    }

    // Stores the account (and optional settings changes) as the configured account.
    void configure(const GlucoseAccountConfiguration &account, std::function<void(AppSettings &)> edit = {})
    {
        runTask(configuration->updateConfiguration([account, edit](const std::optional<AppConfiguration> &current) {
            AppConfiguration next = current.value_or(AppConfiguration{});
            next.account = account;
            next.app.measurementUnit = "mg/dL";
            if (edit) {
                edit(next.app);
            }
            return next;
        }));
    }

    void makeCoordinator(bool withHistory = true)
    {
        StatusBarPollingCoordinator::Dependencies dependencies;
        dependencies.configurationManager = configuration.get();
        dependencies.statusBar = &presenter;
        dependencies.makeAPIClient = [this](const GlucoseAccountConfiguration &account) -> std::shared_ptr<GlucoseAPIProtocol> {
            factoryCalls.push_back(account);
            if (clientFactory) {
                return clientFactory(account);
            }
            return rebuiltAPI ? rebuiltAPI : api;
        };
        dependencies.networkMonitor = &network;
        dependencies.alertDelivery = alerts;
        dependencies.historyCoordinator = withHistory ? &history : nullptr;
        dependencies.clock = clock;
        dependencies.sleeper = coordinatorSleeper ? coordinatorSleeper : sleeper;
        dependencies.randomUnit = [] { return 0.0; };
        dependencies.defaults = defaults;
        coordinator = std::make_unique<StatusBarPollingCoordinator>(std::move(dependencies));
    }

    // Configures the account, builds the coordinator and starts it (no refresh yet).
    void startPolling(const GlucoseAccountConfiguration &account, bool withHistory = true)
    {
        configure(account);
        scope = historyAccountScope(account);
        history.savedScope = scope;
        if (!coordinator) {
            makeCoordinator(withHistory);
        }
        run(coordinator->start(api, scope, account.provider));
    }

    // Runs a task to its end, moving virtual time whenever it only waits for a sleep.
    void run(QCoro::Task<void> task)
    {
        bool done = false;
        auto wrapper = [](QCoro::Task<void> inner, bool *finished) -> QCoro::Task<void> {
            co_await std::move(inner);
            *finished = true;
        };
        wrapper(std::move(task), &done);
        for (int steps = 0; !done; ++steps) {
            VirtualTimeSleeper::drain();
            if (done) {
                break;
            }
            ASSERT_TRUE(sleeper->runNext()) << "the task waits for something that never comes";
            ASSERT_LT(steps, 10000);
        }
        VirtualTimeSleeper::drain();
    }

    void refresh() { run(coordinator->requestRefresh()); }

    std::optional<ErrorInfo> error() const { return presenter.currentError(); }
    double now() const { return clock->now(); }

    QTemporaryDir directory;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(kStart);
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::shared_ptr<Sleeper> coordinatorSleeper;   // when set, the coordinator sleeps through it (over `sleeper`)
    std::shared_ptr<QSettings> defaults;
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configuration;
    FakeStatusBarPresenter presenter;
    FakeNetworkMonitor network{true};
    std::shared_ptr<FakeAlertDelivery> alerts = std::make_shared<FakeAlertDelivery>();
    FakeHistoryCoordinator history;
    std::shared_ptr<FakeGlucoseAPI> api = std::make_shared<FakeGlucoseAPI>();
    std::shared_ptr<FakeGlucoseAPI> rebuiltAPI;
    GlucoseAPIFactory clientFactory;   // when set, builds every client (e.g. real ones on a fake server)
    std::vector<GlucoseAccountConfiguration> factoryCalls;
    std::vector<std::string> logLines;
    std::string scope;
    std::unique_ptr<StatusBarPollingCoordinator> coordinator;
};

} // namespace quillby::test
