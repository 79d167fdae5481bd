#pragma once

#include "app/AppDelegate.h"
#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/KeychainItemStoring.h"
#include "menubar/StatusBarViewModel.h"
#include "platform/ApplicationActivationPolicy.h"
#include "providers/GlucoseAPIProtocol.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsLauncher.h"
#include "settings/SettingsViewModelFactory.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QSettings>

#include <memory>

namespace quillby {

class AccessibleNotificationAnnouncer;
class Announcer;
class AppNotifications;
class ConfigurationManager;
class AsyncSerialQueue;
class DesktopNotifications;
class FeedbackPromptController;
class FeedbackSubmitting;
class FeedbackWindowController;
class GlucoseAlertNotificationDelivering;
class HistoryCoordinator;
class InsightsLauncher;
class NetworkReachabilityMonitoring;
class LoginItemManaging;
class ReducedMotionMonitor;
class SleepWakeMonitor;
class StatusBarPollingCoordinator;
class UpdateChecker;

// The long-lived shared objects the composition root builds on. production() builds the real
// ones once; tests pass their own (fake keyring, loopback provider, ...). The objects pointed at
// must outlive the application built over them.
struct QuillbyEnvironment {
    // What production() built for the pointers below; the application keeps it (and so those
    // objects) until it is destroyed. Empty when the caller owns them.
    std::shared_ptr<void> ownedServices;
    // Required: the application's own notifications (the configuration manager posts on them),
    // the configuration manager, the network monitor, the clock and the sleeper.
    AppNotifications *notifications = nullptr;
    ConfigurationManager *configurationManager = nullptr;
    // None: the composition root builds the update checker (update feed and heartbeat).
    UpdateChecker *updateChecker = nullptr;
    HistoryCoordinator *historyCoordinator = nullptr;
    NetworkReachabilityMonitoring *networkMonitor = nullptr;
    std::shared_ptr<GlucoseAlertNotificationDelivering> alertDelivery;
    // The desktop notification service that alerts (and, later, the feedback prompt) go
    // through; the application delegate receives the actions chosen on them. Optional.
    std::shared_ptr<DesktopNotifications> notificationCenter;
    GlucoseAPIFactory makeAPIClient;
    std::shared_ptr<QSettings> defaults;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<Sleeper> sleeper;
    StatusBarViewModel::ControllerFactory makeStatusItemController;   // default: the tray
    SleepWakeMonitor *sleepWakeMonitor = nullptr;
    // The desktop's reduced-motion setting (optional).
    ReducedMotionMonitor *reducedMotionMonitor = nullptr;
    // Settings: the provider clients that sign-in proves credentials with (default: the real
    // services), the login item (default: the XDG autostart entry of the running program) and
    // the Settings view (default: the stand-in sidebar).
    GlucoseAPIFactory makeSettingsAPIClient;
    std::shared_ptr<LoginItemManaging> loginItemManager;
    SettingsLauncher::ViewFactory makeSettingsView;
    // What the Settings and onboarding windows speak to screen readers (default: the
    // accessibility bus).
    Announcer *announcer = nullptr;

    // The product's server and update feed, fixed at build time; empty: no server exchanges,
    // no update checks. The windows' links lead to the web site at the server's address.
    QString productServerURL;
    QString updateFeedURL;
    QString applicationVersion;
    // Installing updates: the raw Ed25519 public key the packages are signed with (empty: newer
    // versions are only reported), this build's Debian architecture, and what starts the new
    // version after an install (production: quit, then run the installed program).
    QByteArray updatePublicKey;
    QString packageArchitecture;
    std::function<void()> relaunch;
    // The keyring items of the server credentials (default: the system keyring).
    KeychainItemStoreFactory keychainItemStores;

    static QuillbyEnvironment production();
};

// The composition root: builds every long-lived object of the tray application once, wires the
// status item's action hooks and hands the shared objects to the application delegate.
class QuillbyApp : public QObject {
    Q_OBJECT
public:
    explicit QuillbyApp(QuillbyEnvironment environment, QObject *parent = nullptr);
    ~QuillbyApp() override;

    AppDelegate &appDelegate() { return *appDelegate_; }
    StatusBarViewModel &statusBarViewModel() { return *statusBarViewModel_; }
    StatusBarPollingCoordinator &pollingCoordinator() { return *pollingCoordinator_; }
    SettingsLauncher &settingsLauncher() { return *settingsLauncher_; }
    InsightsLauncher &insightsLauncher() { return *insightsLauncher_; }
    // What every settings model (Settings window, onboarding) is built over.
    const SettingsEnvironment &settingsEnvironment() const { return settingsEnvironment_; }
    FeedbackPromptController &feedbackPromptController() { return *feedbackPromptController_; }
    FeedbackWindowController &feedbackWindowController() { return *feedbackWindowController_; }
    UpdateChecker &updateChecker() { return *environment_.updateChecker; }
    ApplicationActivationPolicy &activationPolicy() { return activationPolicy_; }

private:
    void buildServerServices();

    QuillbyEnvironment environment_;
    SettingsEnvironment settingsEnvironment_;
    ApplicationActivationPolicy activationPolicy_;
    // Outlives every window that speaks through it.
    std::unique_ptr<AccessibleNotificationAnnouncer> ownedAnnouncer_;
    std::unique_ptr<QNetworkAccessManager> network_;
    std::shared_ptr<AsyncSerialQueue> registrationLock_;
    std::unique_ptr<UpdateChecker> ownedUpdateChecker_;
    std::shared_ptr<FeedbackSubmitting> feedbackService_;
    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<FeedbackPromptController> feedbackPromptController_;
    std::unique_ptr<FeedbackWindowController> feedbackWindowController_;
    std::unique_ptr<StatusBarViewModel> statusBarViewModel_;
    std::unique_ptr<StatusBarPollingCoordinator> pollingCoordinator_;
    std::unique_ptr<SettingsLauncher> settingsLauncher_;
    std::unique_ptr<InsightsLauncher> insightsLauncher_;
};

} // namespace quillby
