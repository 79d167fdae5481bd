#pragma once

#include "FakeAlertDelivery.h"
#include "LoopbackAccountServices.h"
#include "NextTurnSleeper.h"
#include "RecordingAnnouncer.h"
#include "TaskRunner.h"
#include "WaitUntil.h"

#include "core/ConfigurationManager.h"
#include "onboarding_window/OnboardingCoordinator.h"
#include "onboarding_window/OnboardingView.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "platform/ApplicationActivationPolicy.h"
#include "platform/LoginItemManaging.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsViewModel.h"
#include "settings/UpdateChecking.h"

#include <QAbstractButton>
#include <QLabel>

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
struct OnboardingHarness : LoopbackAccountServices {
    RecordingAnnouncer announcer;
    ApplicationActivationPolicy policy;
    std::vector<QUrl> openedURLs;
    int completions = 0;
    int quitRequests = 0;
    std::unique_ptr<OnboardingCoordinator> coordinator;

    ~OnboardingHarness()
    {
        if (OnboardingView *view = coordinator ? coordinator->view() : nullptr) {
            waitUntil([&] { return !view->viewModel().settingsViewModel().isLoading(); });
        }
        coordinator.reset();
        processQueuedEvents();
    }

    std::unique_ptr<SettingsViewModel> makeSettingsViewModel()
    {
        SettingsViewModel::Options options;
        options.sleeper = std::make_shared<NextTurnSleeper>();
        options.clock = clock;
        options.flushOnQuit = false;
        return std::make_unique<SettingsViewModel>(*configurationManager, makeAccountService(),
                                                   std::make_shared<OnboardingUpdates>(),
                                                   std::make_shared<LoginItemSettingsService>(
                                                       std::make_shared<OnboardingLoginItems>()),
                                                   std::make_shared<FakeAlertDelivery>(), options);
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
        services.window.webSite = ProductWebSite(QStringLiteral("https://quillby.test"));
        services.window.openURL = [this](const QUrl &url) { openedURLs.push_back(url); };
        services.quitAction = [this] { ++quitRequests; };
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
