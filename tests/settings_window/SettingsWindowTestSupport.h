#pragma once

#include "FakeAlertDelivery.h"
#include "LoopbackAccountServices.h"
#include "NextTurnSleeper.h"
#include "WaitUntil.h"
#include "RecordingAnnouncer.h"
#include "TaskRunner.h"

#include "core/ConfigurationManager.h"
#include "platform/LoginItemManaging.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/UpdateChecking.h"
#include "settings_window/SettingsView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <mutex>
#include <optional>

// Readable QString values in test failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quillby::test {

// The updater as the settings model sees it, without an updater.
class FakeUpdateChecking final : public UpdateChecking {
public:
    QString installedVersion() const override { return version; }
    bool automaticallyDownloadsUpdates() const override { return automaticDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override { automaticDownloads = enabled; }
    std::optional<Date> lastUpdateCheckDate() const override { return lastCheck; }
    void republishUpdateAvailability() override {}

    QString version = QStringLiteral("1.4.2 (142)");
    bool automaticDownloads = false;
    std::optional<Date> lastCheck;
};

// The login item in memory; registration can be made to fail or to be ignored.
class FakeLoginItemManager final : public LoginItemManaging {
public:
    void registerApplication() override
    {
        std::lock_guard lock(mutex);
        if (!failure.empty()) {
            throw LoginItemError(failure);
        }
        registered = !ignoreRequests;
    }
    void unregisterApplication() override
    {
        std::lock_guard lock(mutex);
        registered = false;
    }
    LoginItemStatus status() const override
    {
        std::lock_guard lock(mutex);
        ++statusReads;
        return registered ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
    }

    mutable std::mutex mutex;
    mutable std::atomic<int> statusReads = 0;
    bool registered = false;
    bool ignoreRequests = false;
    std::string failure;
};

// One Settings window over a real settings model, a real account service that reaches the
// fake Dexcom Share and LibreLinkUp servers on loopback, an in-memory keyring, a temporary
// settings file and (unless the test gives another) saved history in memory.
struct SettingsWindowHarness : LoopbackAccountServices {
    std::shared_ptr<FakeUpdateChecking> updates = std::make_shared<FakeUpdateChecking>();
    std::shared_ptr<FakeLoginItemManager> loginItems = std::make_shared<FakeLoginItemManager>();
    std::shared_ptr<FakeAlertDelivery> alerts = std::make_shared<FakeAlertDelivery>();
    std::shared_ptr<SettingsCoordinator> coordinator;
    std::unique_ptr<SettingsViewModel> model;
    std::unique_ptr<SettingsNavigation> navigation;
    RecordingAnnouncer announcer;
    std::vector<QUrl> openedURLs;
    int feedbackRequests = 0;
    int updateChecks = 0;
    UpdateInstallSupport installSupport = UpdateInstallSupport::notFromPackage;
    std::function<QDialog *(QWidget *, HistoryCoordinator &, bool)> makeConsentSheet;
    std::unique_ptr<SettingsView> view;

    ~SettingsWindowHarness()
    {
        // Account operations and saves finish before the services they use go away.
        if (model) {
            waitUntil([&] { return !model->isLoading() && !model->isSaving() && !history->isBusy(); });
        }
        view.reset();
        model.reset();
        coordinator.reset();
    }

    // The model and the window, shown on `tab`.
    void build(std::optional<SettingsTab> tab = SettingsTab::account)
    {
        if (!configurationManager) {
            buildServices();
        }
        coordinator = makeAccountService();
        SettingsViewModel::Options options;
        options.sleeper = std::make_shared<NextTurnSleeper>();
        options.clock = clock;
        options.flushOnQuit = false;
        model = std::make_unique<SettingsViewModel>(*configurationManager, coordinator, updates,
                                                    std::make_shared<LoginItemSettingsService>(loginItems), alerts,
                                                    options);
        navigation = std::make_unique<SettingsNavigation>(tab);
        SettingsWindowServices services;
        services.webSite = ProductWebSite(QStringLiteral("https://quillby.test"));
        services.configurationManager = configurationManager.get();
        services.historyCoordinator = history.get();
        services.announcer = &announcer;
        services.openURL = [this](const QUrl &url) { openedURLs.push_back(url); };
        services.checkForUpdates = [this] { ++updateChecks; };
        services.updateInstallSupport = [this] { return installSupport; };
        services.makeHistoryConsentSheet = makeConsentSheet;
        view = std::make_unique<SettingsView>(*model, *navigation, [this] { ++feedbackRequests; }, services);
        view->resize(SettingsView::kMinimumWidth, SettingsView::kMinimumHeight);
        view->show();
        view->activateWindow();
    }

    // Builds the window on `tab`, signed out with the settings stored as a finished onboarding
    // leaves them, and waits until the model has applied them.
    bool openSignedOut(SettingsTab tab)
    {
        AppConfiguration stored;
        stored.account = GlucoseAccountConfiguration::empty();
        stored.app = AppSettings::defaults();
        stored.app.measurementUnit = "mg/dL";
        storeConfiguration(stored);
        acceptTerms();
        build(tab);
        return waitForLoad();
    }

    // Waits until the model has applied the stored configuration once.
    bool waitForLoad()
    {
        return waitUntil([&] { return model->hasLoadedInitialConfiguration() || configurationManager->configuration(); });
    }

    template <typename T = QWidget>
    T *find(const QString &objectName) const
    {
        return view->findChild<T *>(objectName);
    }

    // The visible widget of type T whose accessible name is `name`.
    template <typename T = QWidget>
    T *findByAccessibleName(const QString &name) const
    {
        for (T *widget : view->findChildren<T *>()) {
            if (widget->accessibleName() == name && widget->isVisible()) {
                return widget;
            }
        }
        return nullptr;
    }

    // Clicks a sidebar row as the user does: on the row, in the list.
    void clickTab(SettingsTab tab, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        auto *list = find<QListWidget>(QStringLiteral("settingsSidebar"));
        auto *row = find(settingsTabRawValue(tab) + QStringLiteral("TabButton"));
        ASSERT_TRUE(list && row);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          row->mapTo(list->viewport(), row->rect().center()));
    }

    // Types into a line edit as the user does (replacing what it holds).
    static void typeInto(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(field, Qt::Key_Delete);
        } else {
            QTest::keyClicks(field, text);
        }
    }

    // Picks the row showing `text` in a combo box as the user does.
    static bool choose(QComboBox *combo, const QString &text)
    {
        const int index = combo->findText(text);
        if (index < 0) {
            return false;
        }
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        return true;
    }
};

} // namespace quillby::test
