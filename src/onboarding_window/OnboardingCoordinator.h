#pragma once

#include "onboarding/TermsAgreementCoordinator.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace quillby {

class Announcer;
class ConfigurationManager;
class OnboardingView;
class OnboardingViewModel;
class SettingsViewModel;

// What the onboarding window is built with besides the configuration.
struct OnboardingServices {
    // A fresh settings model for each window (the composition root's settings-model factory).
    std::function<std::unique_ptr<SettingsViewModel>()> makeSettingsViewModel;
    Announcer *announcer = nullptr;   // spoken announcements (none: silent)
    WindowEnvironment window;         // activation policy, reduced motion, browser
    std::function<void()> quitAction; // ends the program (none: closing only hides the window)
};

// Owner of the first-run onboarding window. show() builds it (or brings the one it holds to the
// front); while it is open the program is an ordinary windowed application. Closing it (close
// button, window manager) completes nothing and ends the program through the services' quit
// action; without one the next show() brings the same window back. Once onboarding
// is recorded as completed, the window is closed (and deleted once the finishing click is
// over), the program returns to the tray accessory policy and `onComplete` runs on a later turn
// of the event loop. Main thread only.
class OnboardingCoordinator : public QObject {
    Q_OBJECT
public:
    OnboardingCoordinator(ConfigurationManager &configurationManager, OnboardingServices services,
                          std::function<void()> onComplete, QObject *parent = nullptr);
    ~OnboardingCoordinator() override;

    void show();
    QWidget *window() const { return window_; }
    // The content of the window while it exists.
    OnboardingView *view() const;
    ConfigurationManager &configurationManager() const { return configurationManager_; }

private:
    void completed();

    ConfigurationManager &configurationManager_;
    OnboardingServices services_;
    std::function<void()> onComplete_;
    QPointer<QWidget> window_;
    QPointer<QWidget> view_;   // an OnboardingView
};

} // namespace quillby
