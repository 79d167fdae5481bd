// Renders the six panes of the Settings window, the signed-out and the signed-in Account pane,
// the terms sheet and the delete-all confirmation, to PNG files in a folder, from a fixed sample
// configuration held in memory (no keyring, no network):
//   quillby_render_settings <output folder>
// Run it under a display (for example xvfb-run) to see the desktop's own widget style.

#include "core/AppNotifications.h"
#include "insights/InsightsCollectionProgress.h"
#include "core/ConfigurationManager.h"
#include "core/KeychainItemStoring.h"
#include "history/GlucoseHistoryStore.h"
#include "history/HistoryCoordinator.h"
#include "platform/LoginItemManaging.h"
#include "polling/GlucoseAlertNotificationDelivering.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/UpdateChecking.h"
#include "settings_window/InsightsSettingsPane.h"
#include "settings_window/SettingsView.h"

#include "RenderEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

using namespace quillby;

namespace {

// Keyring items held in memory, so the tool touches no real keyring.
class MemoryItemStore final : public KeychainItemStoring {
public:
    MemoryItemStore(QString service, QString account) : service_(std::move(service)), account_(std::move(account)) {}
    QString service() const override { return service_; }
    QString account() const override { return account_; }
    KeychainItemReadResult read() override
    {
        std::lock_guard lock(mutex_);
        return bytes_.isEmpty() ? KeychainItemReadResult::missing() : KeychainItemReadResult::found(bytes_);
    }
    std::int32_t write(const QByteArray &bytes) override
    {
        std::lock_guard lock(mutex_);
        bytes_ = bytes;
        return 0;
    }
    std::int32_t remove() override
    {
        std::lock_guard lock(mutex_);
        bytes_.clear();
        return 0;
    }

private:
    QString service_;
    QString account_;
    std::mutex mutex_;
    QByteArray bytes_;
};

class SampleUpdates final : public UpdateChecking {
public:
    QString installedVersion() const override { return QStringLiteral("1.0.0 (100)"); }
    bool automaticallyDownloadsUpdates() const override { return false; }
    void setAutomaticallyDownloadsUpdates(bool) override {}
    std::optional<Date> lastUpdateCheckDate() const override { return 1'773'320'400.0; }
    void republishUpdateAvailability() override {}
};

class SampleLoginItem final : public LoginItemManaging {
public:
    void registerApplication() override {}
    void unregisterApplication() override {}
    LoginItemStatus status() const override { return LoginItemStatus::enabled; }
};

class SilentAlerts final : public GlucoseAlertNotificationDelivering {
public:
    QCoro::Task<GlucoseAlertAuthorizationState> authorizationState() override
    {
        co_return refused ? GlucoseAlertAuthorizationState::denied : GlucoseAlertAuthorizationState::authorized;
    }
    QCoro::Task<bool> requestAuthorizationIfNeeded() override { co_return !refused; }
    bool refused = false;   // no notification service answers
    QCoro::Task<void> sendNotification(std::string, std::string) override { co_return; }
};

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool save(QWidget *widget, const QDir &out, const QString &name)
{
    settle();
    const QString path = out.filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QCoro::Task<void> storeSampleAccount(ConfigurationManager &manager)
{
    co_await manager.updateConfiguration([](const std::optional<AppConfiguration> &current) {
        GlucoseAccountConfiguration account;
        account.provider = GlucoseProvider::libreLinkUp;
        account.username = "ada@example.com";
        account.password = "secret";
        account.region = "eu";
        account.patientID = "p-1";
        account.patientName = "Ada Lovelace";
        AppConfiguration configuration = ConfigurationManager::configurationWithAccount(current, account, "mmol/L");
        configuration.app.quietHoursEnabled = true;
        configuration.app.lowAlertRepeatMinutes = 15;
        configuration.app.startAtLogin = true;
        return configuration;
    });
}

} // namespace

int main(int argc, char **argv)
{
    const RenderEnvironment environment = prepareRenderEnvironment(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.absolutePath())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    // Without a chosen scheme: the light theme, the same on every desktop.
    if (environment.scheme.isEmpty()) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    QTemporaryDir temp;
    auto defaults = std::make_shared<QSettings>(temp.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, QStringLiteral("2025-01-01"));
    auto clock = std::make_shared<SystemClock>();
    auto sleeper = std::make_shared<EventLoopSleeper>();
    AppNotifications notifications;
    ConfigurationManager configuration(std::make_shared<MemoryItemStore>(QStringLiteral("Quillby"),
                                                                         QStringLiteral("configuration")),
                                       defaults, QLocale(QStringLiteral("en_GB")), clock, sleeper, notifications);
    auto keys = std::make_shared<std::map<std::string, std::shared_ptr<MemoryItemStore>>>();
    auto history = std::make_unique<HistoryCoordinator>(
        std::make_shared<GlucoseHistoryStore>(
            std::filesystem::path(temp.filePath(QStringLiteral("History")).toStdString()),
            std::make_shared<MemoryItemStore>(QStringLiteral("Quillby.history"), QStringLiteral("encryption-key-v1")),
            [](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                // One key per account; this run has one account, so one store is enough.
                static auto store = std::make_shared<MemoryItemStore>(
                    QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest));
                struct Shared final : KeychainItemStoring {
                    std::shared_ptr<MemoryItemStore> inner;
                    QString service() const override { return inner->service(); }
                    QString account() const override { return inner->account(); }
                    KeychainItemReadResult read() override { return inner->read(); }
                    std::int32_t write(const QByteArray &bytes) override { return inner->write(bytes); }
                    std::int32_t remove() override { return inner->remove(); }
                };
                auto shared = std::make_unique<Shared>();
                shared->inner = store;
                return shared;
            },
            &insightsMinimumDatasetReached),
        configuration, clock, sleeper);

    auto coordinator = std::make_shared<SettingsCoordinator>(configuration, GlucoseAPIFactory(), history.get(),
                                                             notifications);
    auto alerts = std::make_shared<SilentAlerts>();
    SettingsViewModel::Options options;
    options.sleeper = sleeper;
    options.clock = clock;
    options.flushOnQuit = false;
    SettingsViewModel model(configuration, coordinator, std::make_shared<SampleUpdates>(),
                            std::make_shared<LoginItemSettingsService>(std::make_shared<SampleLoginItem>()),
                            alerts, options);
    SettingsNavigation navigation(SettingsTab::account);
    SettingsWindowServices services;
    services.webSite = ProductWebSite(QStringLiteral("https://quillby.example"));
    services.configurationManager = &configuration;
    services.historyCoordinator = history.get();
    services.openURL = [](const QUrl &) {};
    services.checkForUpdates = [] {};
    SettingsView view(model, navigation, [] {}, services);
    view.setWindowTitle(QStringLiteral("Settings"));
    view.resize(SettingsView::kMinimumWidth, SettingsView::kMinimumHeight);
    view.show();
    bool ok = waitUntil([&] { return model.hasLoadedInitialConfiguration() || configuration.configuration(); });

    // Signed out, in the middle of a LibreLinkUp sign-in with two people to choose from.
    model.setProvider(GlucoseProvider::libreLinkUp);
    model.setUsername("ada@example.com");
    model.setPassword("secret");
    model.setLibreConnections({{"p-1", "Ada Lovelace"}, {"p-2", "Grace Hopper"}});
    ok &= save(&view, out, QStringLiteral("settings-account-signed-out"));
    model.setStatusCategory(StatusMessageCategory::signInError("Incorrect email address or password."));
    ok &= save(&view, out, QStringLiteral("settings-account-sign-in-failed"));

    // The terms sheet, as a sign-in before accepting changed terms shows it.
    model.setIsShowingTerms(true);
    ok &= waitUntil([&] { return view.termsSheet() != nullptr; });
    if (view.termsSheet()) {
        ok &= save(view.termsSheet(), out, QStringLiteral("settings-terms-sheet"));
    }
    model.setIsShowingTerms(false);
    model.setStatusCategory(StatusMessageCategory::none());
    configuration.acceptCurrentTerms();

    // Signed in, saving history, with a day of readings.
    QCoro::waitFor(storeSampleAccount(configuration));
    ok &= waitUntil([&] { return model.isConfigurationValid(); });
    QCoro::waitFor(history->requestSnapshotRefresh());
    QCoro::waitFor(history->enableHistory());
    const auto token = history->collectionToken(HistoryCoordinator::accountScope(configuration.configuration()->account));
    if (token) {
        GlucoseReadings readings;
        const Date now = clock->now();
        for (int i = 0; i < 288; ++i) {
            readings.emplace_back(120 + 40 * std::sin(i / 20.0), "Flat", now - 300.0 * (288 - i));
        }
        history->enqueue(readings, now, *token);
        ok &= waitUntil([&] { return !history->isDraining() && history->snapshot() && !history->snapshot()->readings.empty(); });
    }

    for (SettingsTab tab : kAllSettingsTabs) {
        navigation.setSelection(tab);
        settle();
        waitUntil([&] { return !history->isBusy(); });
        ok &= save(&view, out, QStringLiteral("settings-") + settingsTabRawValue(tab));
    }

    // The Alerts pane when no notification service answers, the long form scrolled to its end.
    alerts->refused = true;
    navigation.setSelection(SettingsTab::general);
    settle();
    navigation.setSelection(SettingsTab::alerts);
    if (auto *pane = qobject_cast<QScrollArea *>(view.pane(SettingsTab::alerts))) {
        settle();
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
        ok &= save(&view, out, QStringLiteral("settings-alerts-end"));
    }

    // The delete-all confirmation of the Insights pane.
    navigation.setSelection(SettingsTab::insights);
    settle();
    if (auto *button = view.findChild<QPushButton *>(QStringLiteral("deleteSavedHistoryButton"))) {
        button->click();
        auto *pane = qobject_cast<InsightsSettingsPane *>(view.pane(SettingsTab::insights));
        if (pane && pane->deleteConfirmation()) {
            ok &= save(pane->deleteConfirmation(), out, QStringLiteral("settings-insights-delete"));
            pane->deleteConfirmation()->reject();
        }
    }
    view.close();
    return ok ? 0 : 1;
}
