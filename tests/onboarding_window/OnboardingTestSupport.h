#pragma once

#include "FakeAlertDelivery.h"
#include "FakeDexcomServer.h"
#include "FakeHistoryStore.h"
#include "FakeKeychainItemStore.h"
#include "FakeLibreLinkUpServer.h"
#include "NextTurnSleeper.h"
#include "RecordingAnnouncer.h"
#include "TaskRunner.h"
#include "WaitUntil.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "onboarding_window/OnboardingCoordinator.h"
#include "onboarding_window/OnboardingView.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "platform/ApplicationActivationPolicy.h"
#include "platform/LoginItemManaging.h"
#include "providers/DexcomAPI.h"
#include "providers/LibreLinkUpAPI.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/UpdateChecking.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace quillby::test {

class OnboardingUpdates final : public UpdateChecking {
public:
    QString installedVersion() const override { return QStringLiteral("1.0.0 (1)"); }
    bool automaticallyDownloadsUpdates() const override { return false; }
    void setAutomaticallyDownloadsUpdates(bool) override {}
    std::optional<Date> lastUpdateCheckDate() const override { return std::nullopt; }
    void republishUpdateAvailability() override {}
};

class OnboardingLoginItems final : public LoginItemManaging {
public:
    void registerApplication() override {}
    void unregisterApplication() override {}
    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
};

// The onboarding window over a real settings model whose account service reaches the fake
// Dexcom Share and LibreLinkUp servers on loopback, an in-memory keyring and a temporary
// settings file.
struct OnboardingHarness {
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeKeychainItemStore> keychain = std::make_shared<FakeKeychainItemStore>();
    std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    std::shared_ptr<EventLoopSleeper> sleeper = std::make_shared<EventLoopSleeper>();
    AppNotifications notifications;
    std::unique_ptr<ConfigurationManager> configurationManager;
    std::unique_ptr<HistoryCoordinator> history;
    FakeDexcomServer dexcom;
    FakeLibreLinkUpServer libre;
    RecordingAnnouncer announcer;
    ApplicationActivationPolicy policy;
    std::vector<QUrl> openedURLs;
    int completions = 0;
    std::unique_ptr<OnboardingCoordinator> coordinator;

    OnboardingHarness()
    {
        dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001");
        libre.setAccount("ada@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
    }

    ~OnboardingHarness()
    {
        if (OnboardingView *view = coordinator ? coordinator->view() : nullptr) {
            waitUntil([&] { return !view->viewModel().settingsViewModel().isLoading(); });
        }
        coordinator.reset();
        processQueuedEvents();
        history.reset();
        configurationManager.reset();
    }

    void acceptCurrentTerms(const QString &version = QString::fromStdString(ConfigurationManager::kCurrentTermsVersion))
    {
        defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, version);
    }

    std::optional<AppConfiguration> stored() const
    {
        const auto bytes = keychain->storedBytes();
        if (!bytes) {
            return std::nullopt;
        }
        return AppConfiguration::decode(bytes->toStdString());
    }

    std::unique_ptr<SettingsViewModel> makeSettingsViewModel()
    {
        const std::string dexcomOrigin = dexcom.origin();
        const std::string libreOrigin = libre.origin();
        auto accountService = std::make_shared<SettingsCoordinator>(
            *configurationManager,
            [dexcomOrigin](const std::string &username, const std::string &password, const std::string &region,
                           QNetworkAccessManager *session) -> std::shared_ptr<GlucoseAPIProtocol> {
                DexcomAPIOptions options;
                options.session = session;
                options.baseURLs = DexcomAPI::baseURLsAt(dexcomOrigin);
                return std::make_shared<DexcomAPI>(username, password, region, options);
            },
            [libreOrigin](const std::string &username, const std::string &password, const std::string &region,
                          const std::optional<std::string> &patientID,
                          QNetworkAccessManager *session) -> std::shared_ptr<LibreLinkUpAPIProtocol> {
                LibreLinkUpAPIOptions options;
                options.session = session;
                for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
                    (void)host;
                    options.hosts[code] = libreOrigin;
                }
                return std::make_shared<LibreLinkUpAPI>(username, password, region, patientID, options);
            },
            history.get(), notifications);
        SettingsViewModel::Options options;
        options.sleeper = std::make_shared<NextTurnSleeper>();
        options.clock = clock;
        options.flushOnQuit = false;
        return std::make_unique<SettingsViewModel>(*configurationManager, accountService,
                                                   std::make_shared<OnboardingUpdates>(),
                                                   std::make_shared<LoginItemSettingsService>(
                                                       std::make_shared<OnboardingLoginItems>()),
                                                   std::make_shared<FakeAlertDelivery>(), options);
    }

    void buildServices()
    {
        configurationManager = std::make_unique<ConfigurationManager>(keychain, defaults, QLocale(QStringLiteral("en_US")),
                                                                      clock, sleeper, notifications);
        history = std::make_unique<HistoryCoordinator>(std::make_shared<FakeHistoryStore>(), *configurationManager,
                                                       clock, sleeper);
    }

    // The coordinator with its window shown.
    void show()
    {
        if (!configurationManager) {
            buildServices();
        }
        OnboardingServices services;
        services.makeSettingsViewModel = [this] { return makeSettingsViewModel(); };
        services.announcer = &announcer;
        services.window.activationPolicy = &policy;
        services.window.openURL = [this](const QUrl &url) { openedURLs.push_back(url); };
        coordinator = std::make_unique<OnboardingCoordinator>(*configurationManager, services, [this] { ++completions; });
        runTask(configurationManager->loadConfiguration());
        coordinator->show();
        processQueuedEvents();
    }

    OnboardingView &view() const { return *coordinator->view(); }
    OnboardingViewModel &model() const { return view().viewModel(); }
    SettingsViewModel &settings() const { return model().settingsViewModel(); }
    QWidget *window() const { return coordinator->window(); }

    template <typename T = QWidget>
    T *find(const QString &objectName) const
    {
        return window()->findChild<T *>(objectName);
    }

    // The visible widget of type T whose accessible name is `name`.
    template <typename T = QWidget>
    T *findByAccessibleName(const QString &name) const
    {
        for (T *widget : window()->findChildren<T *>()) {
            if (widget->accessibleName() == name && widget->isVisible()) {
                return widget;
            }
        }
        return nullptr;
    }

    // Whether a visible label shows `text`.
    bool showsText(const QString &text) const
    {
        for (QLabel *label : window()->findChildren<QLabel *>()) {
            if (label->isVisible() && label->text() == text) {
                return true;
            }
        }
        return false;
    }

    // Moves on to the sign-in step with the buttons, as the user does, confirming the set-up.
    void goToSignIn()
    {
        clickContinue();
        auto *confirmation = find<QAbstractButton>(QStringLiteral("onboardingSetupConfirmedToggle"));
        if (confirmation && !confirmation->isChecked()) {
            confirmation->click();
        }
        clickContinue();
    }

    void clickContinue()
    {
        auto *button = find<QAbstractButton>(QStringLiteral("onboardingContinueButton"));
        if (button && button->isVisible()) {
            button->click();
        }
        processQueuedEvents();
    }
};

} // namespace quillby::test
