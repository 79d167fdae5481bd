#pragma once

#include "onboarding_window/OnboardingCoordinator.h"
#include "platform/SleepWakeMonitor.h"
#include "polling/ErrorInfo.h"
#include "providers/GlucoseAPIProtocol.h"

#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

class AppNotifications;
class ConfigurationManager;
class DesktopNotifications;
class FeedbackPromptController;
class FeedbackWindowController;
class HistoryCoordinator;
class OnboardingCoordinator;
class SettingsLauncher;
class SleepWakeMonitor;
class StatusBarPollingCoordinator;
class StatusBarViewModel;
class TermsAgreementCoordinator;
class UpdateChecker;

// The shared objects the composition root hands to the application delegate.
struct AppDelegateDependencies {
    // The application's own notifications: a changed account restarts the account step.
    AppNotifications *notifications = nullptr;
    ConfigurationManager *configurationManager = nullptr;
    FeedbackPromptController *feedbackPromptController = nullptr;
    FeedbackWindowController *feedbackWindowController = nullptr;
    StatusBarViewModel *statusBarViewModel = nullptr;
    StatusBarPollingCoordinator *pollingCoordinator = nullptr;
    SettingsLauncher *settingsLauncher = nullptr;
    UpdateChecker *updateChecker = nullptr;
    // Our desktop notification service: the actions chosen on our notifications reach the
    // delegate from it (optional).
    DesktopNotifications *notificationCenter = nullptr;
    // What the onboarding and terms windows are built with (settings models, announcements,
    // activation policy, reduced motion, browser).
    OnboardingServices onboarding;
};

// Runs the life of the application around the shared objects: launch, the start-up pass that
// chooses between onboarding, the terms of use and the tray display, the account step that
// starts or stops polling for the configured account, reopen, sleep and wake, termination and
// the responses to notifications. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static inline const QString kSettingsWriteFailedIdentifier = QStringLiteral("quillby-settings-not-saved");
    // The tray's error row while the stored account cannot be read because the keyring is
    // locked or not running yet.
    static const ErrorInfo kWaitingForKeyring;

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    void configure(AppDelegateDependencies dependencies, HistoryCoordinator *historyCoordinator,
                   GlucoseAPIFactory makeAPIClient);
    // Wake and sleep come from this monitor once launched (optional).
    void setSleepWakeMonitor(SleepWakeMonitor *monitor) { sleepWakeMonitor_ = monitor; }
    // Asked to end the application (Quit in the terms window); defaults to QApplication::quit.
    std::function<void()> terminateAction;

    void finishLaunching();
    bool applicationShouldHandleReopen();
    void applicationWillTerminate();
    // A notification of ours was clicked or had an action chosen.
    void didReceiveNotificationResponse(const QString &identifier, const QString &actionKey);

    // Reruns the account step (cancelling the one in progress).
    void restartAccountTask(bool skipInitialRefresh);
    void onboardingDidComplete();
    void termsDidAccept();
    QCoro::Task<void> handleWake();
    void installUpdateBeforeSleep(const QString &reason);

    // State, for tests.
    OnboardingCoordinator *onboardingCoordinator() const { return onboardingCoordinator_.get(); }
    TermsAgreementCoordinator *termsAgreementCoordinator() const { return termsAgreementCoordinator_.get(); }
    bool isAccountTaskRunning() const { return accountTaskRunning_ > 0; }
    int accountStepsStarted() const { return accountStepsStarted_; }

signals:
    void accountTaskFinished();
    void startupFinished();

private:
    void makeCoordinators();
    void registerNotificationCategories();
    void startNotificationTask();
    void installWorkspaceObservers();
    // Tells the person, once, that the settings file cannot be written.
    void watchSettingsWrites();
    static QCoro::Task<void> reportSettingsWriteFailure(QPointer<AppDelegate> self);
    void removeWorkspaceObservers();
    void setUpStatusItemIfNeeded();
    void setFeedbackPromptAllowed(bool allowed);
    void showAccountStepAfterGate();

    static QCoro::Task<void> runStartup(QPointer<AppDelegate> self);
    static QCoro::Task<void> runAccountTask(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop);
    static QCoro::Task<void> runAccountStep(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop);
    static QCoro::Task<void> startPolling(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop);
    static QCoro::Task<void> stopPolling(QPointer<AppDelegate> self);
    static QCoro::Task<void> selectHistoryScope(QPointer<AppDelegate> self, std::string scope);

    AppDelegateDependencies deps_;
    HistoryCoordinator *historyCoordinator_ = nullptr;
    GlucoseAPIFactory makeAPIClient_;
    std::unique_ptr<OnboardingCoordinator> onboardingCoordinator_;
    std::unique_ptr<TermsAgreementCoordinator> termsAgreementCoordinator_;
    std::optional<std::stop_source> startupTask_;
    QMetaObject::Connection notificationConnection_;
    QMetaObject::Connection notificationResponseConnection_;
    QPointer<SleepWakeMonitor> sleepWakeMonitor_;
    QList<QMetaObject::Connection> workspaceObservers_;
    int accountTaskRunning_ = 0;
    int accountStepsStarted_ = 0;
};

} // namespace quillby
