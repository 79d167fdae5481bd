#pragma once

#include "WaitUntil.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "core/async/AsyncEvent.h"
#include "platform/LoginItemManaging.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/UpdateChecking.h"

#include "ConfigurationStorage.h"
#include "FakeAlertDelivery.h"
#include "FakeClock.h"
#include "FakeDexcomServer.h"
#include "FakeHistoryStore.h"
#include "FakeKeychainItemStore.h"
#include "FakeLibreLinkUpServer.h"
#include "TaskRunner.h"
#include "VirtualTimeSleeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quillby::test {

// The real account service behind gates: a test holds an operation at its start (gate set)
// until it opens the gate, so it can act while a sign-in or a save is in flight. Counts calls
// and can fail sign-out.
class GatedCoordinator final : public SettingsCoordinating {
public:
    explicit GatedCoordinator(std::shared_ptr<SettingsCoordinating> inner) : inner_(std::move(inner)) {}

    struct Gate {
        std::optional<AsyncEvent> event;
        int waiting = 0;
        void close() { event.emplace(); }
        void open()
        {
            if (event) {
                event->fire();
                event.reset();
            }
        }
    };

    QCoro::Task<void> signIn(GlucoseAccountConfiguration account, std::string unit, std::stop_token stop) override
    {
        ++signIns;
        signedInWith.push_back(account);
        co_await pass(signInGate);
        try {
            co_await inner_->signIn(std::move(account), std::move(unit), stop);
        } catch (...) {
            ++signInsFinished;
            throw;
        }
        ++signInsFinished;
    }
    QCoro::Task<std::vector<LibreConnection>> fetchConnections(GlucoseAccountConfiguration account,
                                                               std::stop_token stop) override
    {
        ++listings;
        co_await pass(listGate);
        try {
            std::vector<LibreConnection> connections = co_await inner_->fetchConnections(std::move(account), stop);
            ++listingsFinished;
            co_return connections;
        } catch (...) {
            ++listingsFinished;
            throw;
        }
    }
    QCoro::Task<void> signOut(std::stop_token stop) override
    {
        ++signOuts;
        co_await pass(signOutGate);
        if (failSignOut) {
            throw std::runtime_error("keyring locked");
        }
        co_await inner_->signOut(stop);
    }
    QCoro::Task<void> saveAppSettings(AppSettings settings) override
    {
        ++saves;
        savedRecords.push_back(settings);
        co_await pass(saveGate);
        co_await inner_->saveAppSettings(std::move(settings));
    }
    QCoro::Task<void> saveAccount(GlucoseAccountConfiguration account, std::string unit) override
    {
        co_await inner_->saveAccount(std::move(account), std::move(unit));
    }

    Gate signInGate, listGate, signOutGate, saveGate;
    bool failSignOut = false;
    int signInsFinished = 0, listingsFinished = 0;
    int signIns = 0, listings = 0, signOuts = 0, saves = 0;
    std::vector<GlucoseAccountConfiguration> signedInWith;
    std::vector<AppSettings> savedRecords;

private:
    static QCoro::Task<void> pass(Gate &gate)
    {
        if (!gate.event) {
            co_return;
        }
        const AsyncEvent event = *gate.event;
        ++gate.waiting;
        co_await event.wait();
        --gate.waiting;
    }

    std::shared_ptr<SettingsCoordinating> inner_;
};

// The update checker as the model sees it, with what the updater would report.
class FakeUpdateChecking final : public UpdateChecking {
public:
    QString installedVersion() const override { return version; }
    bool automaticallyDownloadsUpdates() const override { return automaticDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override
    {
        ++writes;
        if (!refusesAutomaticDownloads) {
            automaticDownloads = enabled;
        }
    }
    std::optional<Date> lastUpdateCheckDate() const override { return lastCheck; }
    void republishUpdateAvailability() override { ++republished; }

    QString version = QStringLiteral("1.0.0 (1)");
    bool automaticDownloads = false;
    bool refusesAutomaticDownloads = false;
    std::optional<Date> lastCheck;
    int writes = 0;
    int republished = 0;
};

// A login item whose state the test sets; changes take effect unless told to fail.
class FakeLoginItems final : public LoginItemManaging {
public:
    void registerApplication() override { change(LoginItemStatus::enabled); }
    void unregisterApplication() override { change(LoginItemStatus::notRegistered); }
    LoginItemStatus status() const override
    {
        const std::lock_guard hold(gate);
        return state;
    }

    std::atomic<LoginItemStatus> state = LoginItemStatus::notRegistered;
    std::optional<std::string> failure;
    std::optional<int> failingChange;   // only this change (1 = the first) fails
    bool ignoresRequests = false;
    std::atomic<int> changes = 0;
    // Held by a test, it keeps every call waiting on the service's thread (calls run in order).
    mutable std::mutex gate;

private:
    void change(LoginItemStatus requested)
    {
        const std::lock_guard hold(gate);
        const int number = ++changes;
        if (failure) {
            throw LoginItemError(*failure);
        }
        if (failingChange == number) {
            throw LoginItemError("Permission denied");
        }
        if (!ignoresRequests) {
            state = requested;
        }
    }
};

// Everything a settings model and its account service stand on, over fakes: an in-memory
// keyring item, a temporary settings file, saved history in memory, virtual time for the save
// debounce, and Dexcom Share and LibreLinkUp at loopback servers speaking their wire formats.
struct SettingsFixture : ConfigurationStorage {
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> manager = std::make_unique<ConfigurationManager>(
        keychain, defaults, QLocale(QStringLiteral("en_US")), clock, std::make_shared<EventLoopSleeper>(), notifications);
    std::shared_ptr<FakeHistoryStore> historyStore = std::make_shared<FakeHistoryStore>();
    std::unique_ptr<HistoryCoordinator> history =
        std::make_unique<HistoryCoordinator>(historyStore, *manager, clock, sleeper);
    FakeDexcomServer dexcom;
    FakeLibreLinkUpServer libre;
    // LibreLinkUp regions served by another server (a region redirect's destination).
    std::map<std::string, std::string> libreHosts;
    int configurationPosts = 0;
    int appSettingsPosts = 0;
    std::shared_ptr<FakeAlertDelivery> alerts = std::make_shared<FakeAlertDelivery>();
    std::shared_ptr<FakeLoginItems> loginItems = std::make_shared<FakeLoginItems>();
    std::shared_ptr<FakeUpdateChecking> updates = std::make_shared<FakeUpdateChecking>();

    SettingsFixture()
    {
        dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001");
        libre.setAccount("ada@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
        QObject::connect(&notifications, &AppNotifications::configurationDidUpdate, [this] { ++configurationPosts; });
        QObject::connect(&notifications, &AppNotifications::appSettingsDidUpdate, [this] { ++appSettingsPosts; });
    }

    ~SettingsFixture()
    {
        history.reset();
        manager.reset();
    }

    void acceptTerms() { manager->acceptCurrentTerms(); }

    void load() { runTask(manager->loadConfiguration()); }

    // The real clients at the fake servers: every region at its service's server, except the
    // LibreLinkUp regions in libreHosts.
    GlucoseAPIFactory apiFactory()
    {
        GlucoseAPIClientOptions options;
        options.dexcom.baseURLs = DexcomAPI::baseURLsAt(dexcom.origin());
        for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
            (void)host;
            options.libreLinkUp.hosts[code] = libre.origin();
        }
        for (const auto &[code, host] : libreHosts) {
            options.libreLinkUp.hosts[code] = host;
        }
        return glucoseAPIFactory(std::move(options));
    }

    std::shared_ptr<SettingsCoordinator> makeCoordinator(bool withHistory = true)
    {
        return std::make_shared<SettingsCoordinator>(*manager, apiFactory(), withHistory ? history.get() : nullptr,
                                                     notifications);
    }

    std::unique_ptr<SettingsViewModel> makeModel(std::shared_ptr<SettingsCoordinating> coordinator = nullptr)
    {
        SettingsViewModel::Options options;
        options.sleeper = sleeper;
        options.clock = clock;
        options.calendar = LocalCalendar("Europe/Berlin");
        options.flushOnQuit = false;
        return std::make_unique<SettingsViewModel>(*manager, coordinator ? coordinator : makeCoordinator(), updates,
                                                   std::make_shared<LoginItemSettingsService>(loginItems), alerts,
                                                   options);
    }

    // A model whose stored configuration has been loaded and applied, with no task pending.
    std::unique_ptr<SettingsViewModel> makeLoadedModel(std::shared_ptr<SettingsCoordinating> coordinator = nullptr)
    {
        auto model = makeModel(std::move(coordinator));
        runTask(model->loadConfiguration());
        settle();
        return model;
    }

    // Lets the debounce elapse and waits for the save it starts to end.
    // (Moves virtual time to the pending sleep itself: a wall clock near 1.8e9 s cannot add and
    // subtract 0.35 s exactly.)
    void elapseDebounce(SettingsViewModel &model)
    {
        VirtualTimeSleeper::drain();
        sleeper->runNext();
        waitUntil([&] { return !model.isSaving(); });
    }

    // Runs queued work (start-up reads, posted notifications) to its end.
    static void settle()
    {
        QEventLoop loop;
        QTimer::singleShot(30, &loop, &QEventLoop::quit);
        loop.exec();
    }

    static GlucoseAccountConfiguration dexcomAccount()
    {
        return {GlucoseProvider::dexcom, "ada", "secret", "us", std::nullopt, std::nullopt};
    }
    static AppConfiguration configuration(GlucoseAccountConfiguration account, AppSettings app = AppSettings::defaults())
    {
        return {std::move(account), std::move(app)};
    }
};

} // namespace quillby::test
