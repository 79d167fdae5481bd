#include "app/AppDelegate.h"

#include "core/async/RunDetached.h"
#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/ScopedLogger.h"
#include "core/SettingsWriteMonitor.h"
#include "core/async/EventLoopTurn.h"
#include "history/HistoryCoordinator.h"
#include "menubar/StatusBarViewModel.h"
#include "menubar/StatusItemControlling.h"
#include "onboarding/TermsAgreementCoordinator.h"
#include "onboarding_window/OnboardingCoordinator.h"
#include "platform/ApplicationActivationPolicy.h"
#include "platform/DesktopNotifications.h"
#include "platform/SleepWakeMonitor.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "services/FeedbackPromptController.h"
#include "services_window/FeedbackWindowController.h"
#include "services/UpdateChecker.h"
#include "settings/SettingsLauncher.h"

#include <QApplication>
#include <QTimer>

namespace quillby {

const ErrorInfo AppDelegate::kWaitingForKeyring{
    "Waiting for the keyring",
    "Quillby is waiting for the system keyring to be unlocked to read your glucose account.",
    "Unlock your keyring. Glucose monitoring starts by itself once the account can be read.",
};

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
{
    terminateAction = [] { QApplication::quit(); };
}

AppDelegate::~AppDelegate()
{
    if (startupTask_) {
        startupTask_->request_stop();
    }
    removeWorkspaceObservers();
}

void AppDelegate::configure(AppDelegateDependencies dependencies, HistoryCoordinator *historyCoordinator,
                            GlucoseAPIFactory makeAPIClient)
{
    deps_ = dependencies;
    historyCoordinator_ = historyCoordinator;
    makeAPIClient_ = makeAPIClient ? std::move(makeAPIClient) : &makeGlucoseAPIClient;
}

// --- Launch ---

void AppDelegate::finishLaunching()
{
    if (!deps_.configurationManager || !deps_.pollingCoordinator) {
        return;
    }
    // A tray accessory (on Linux only recorded: there is no Dock).
    if (ApplicationActivationPolicy *policy = deps_.onboarding.window.activationPolicy) {
        policy->setPolicy(ActivationPolicy::accessory);
    }
    if (historyCoordinator_) {
        historyCoordinator_->start();
    }
    if (deps_.updateChecker) {
        deps_.updateChecker->start();
    }
    registerNotificationCategories();
    watchSettingsWrites();
    if (deps_.feedbackPromptController) {
        deps_.feedbackPromptController->recordFirstLaunchIfNeeded();
        deps_.feedbackPromptController->refreshEligibility();
    }
    makeCoordinators();
    startNotificationTask();
    runDetached(runStartup(QPointer<AppDelegate>(this)));
    installWorkspaceObservers();
}

void AppDelegate::watchSettingsWrites()
{
    SettingsWriteMonitor &writes = deps_.configurationManager->settingsWrites();
    QPointer<AppDelegate> self(this);
    if (writes.hasFailed()) {
        runDetached(reportSettingsWriteFailure(self));
        return;
    }
    connect(&writes, &SettingsWriteMonitor::writeFailed, this, [self] { runDetached(reportSettingsWriteFailure(self)); },
            Qt::SingleShotConnection);
}

QCoro::Task<void> AppDelegate::reportSettingsWriteFailure(QPointer<AppDelegate> self)
{
    if (!self || !self->deps_.configurationManager) {
        co_return;
    }
    const QString file = self->deps_.configurationManager->defaults().fileName();
    ScopedLogger("AppDelegate").error("The settings file cannot be written");
    if (!self->deps_.notificationCenter) {
        co_return;
    }
    DesktopNotificationRequest request;
    request.identifier = kSettingsWriteFailedIdentifier;
    request.title = tr("Quillby cannot save its settings");
    request.body = tr("%1 cannot be written: the disk may be full or the folder read-only. Changes made now "
                      "are lost when Quillby quits.")
                       .arg(file);
    request.urgency = DesktopNotificationRequest::Urgency::normal;
    try {
        co_await self->deps_.notificationCenter->notify(std::move(request));
    } catch (const DesktopNotificationError &) {
        // No notification service: the log line above is all that can be done.
    }
}

void AppDelegate::makeCoordinators()
{
    QPointer<AppDelegate> self(this);
    OnboardingServices onboarding = deps_.onboarding;
    onboarding.quitAction = [self] {
        if (self && self->terminateAction) {
            self->terminateAction();
        }
    };
    onboardingCoordinator_ =
        std::make_unique<OnboardingCoordinator>(*deps_.configurationManager, std::move(onboarding), [self] {
            if (self) {
                self->onboardingDidComplete();
            }
        });
    termsAgreementCoordinator_ = std::make_unique<TermsAgreementCoordinator>(
        *deps_.configurationManager,
        [self] {
            if (self) {
                self->termsDidAccept();
            }
        },
        [self] {
            if (self && self->terminateAction) {
                self->terminateAction();
            }
        },
        deps_.onboarding.window);
}

void AppDelegate::registerNotificationCategories()
{
    // The desktop notification service has no categories: each notification carries its own
    // actions. What remains is to receive the actions chosen on ours.
    disconnect(notificationResponseConnection_);
    if (deps_.notificationCenter) {
        notificationResponseConnection_ =
            connect(deps_.notificationCenter, &DesktopNotifications::actionInvoked, this,
                    &AppDelegate::didReceiveNotificationResponse);
    }
}

void AppDelegate::startNotificationTask()
{
    disconnect(notificationConnection_);
    if (deps_.notifications) {
        notificationConnection_ =
            connect(deps_.notifications, &AppNotifications::configurationDidUpdate, this,
                    [this](bool skipInitialRefresh) { restartAccountTask(skipInitialRefresh); });
    }
}

QCoro::Task<void> AppDelegate::runStartup(QPointer<AppDelegate> self)
{
    // The pass runs on a later turn of the loop, after launching has finished.
    co_await nextEventLoopTurn();
    if (!self) {
        co_return;
    }
    ConfigurationManager &manager = *self->deps_.configurationManager;
    manager.setHasCompletedOnboarding(manager.defaults().value(ConfigurationManager::kOnboardingCompletedKey, false).toBool());
    if (!manager.hasCompletedOnboarding()) {
        self->setFeedbackPromptAllowed(false);
        self->onboardingCoordinator_->show();
    } else if (manager.hasAcceptedCurrentTerms()) {
        self->showAccountStepAfterGate();
    } else {
        self->setFeedbackPromptAllowed(false);
        self->termsAgreementCoordinator_->show();
    }
    emit self->startupFinished();
}

void AppDelegate::showAccountStepAfterGate()
{
    setUpStatusItemIfNeeded();
    restartAccountTask(false);
}

void AppDelegate::onboardingDidComplete()
{
    QPointer<AppDelegate> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self) {
            self->showAccountStepAfterGate();
        }
    });
}

void AppDelegate::termsDidAccept()
{
    showAccountStepAfterGate();
}

void AppDelegate::setUpStatusItemIfNeeded()
{
    if (!deps_.statusBarViewModel) {
        return;
    }
    StatusItemControlling &controller = deps_.statusBarViewModel->controller();
    if (!controller.hasStatusItem()) {
        controller.setUp();
    }
}

void AppDelegate::setFeedbackPromptAllowed(bool allowed)
{
    if (deps_.feedbackPromptController) {
        deps_.feedbackPromptController->canPresentPrompt = allowed;
        deps_.feedbackPromptController->refreshEligibility();
    }
}

// --- Account step ---

void AppDelegate::restartAccountTask(bool skipInitialRefresh)
{
    if (startupTask_) {
        startupTask_->request_stop();
    }
    startupTask_.emplace();
    runDetached(runAccountTask(QPointer<AppDelegate>(this), skipInitialRefresh, startupTask_->get_token()));
}

QCoro::Task<void> AppDelegate::runAccountTask(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop)
{
    ++self->accountTaskRunning_;
    ++self->accountStepsStarted_;
    co_await runAccountStep(self, skipInitialRefresh, stop);
    if (self) {
        --self->accountTaskRunning_;
        emit self->accountTaskFinished();
    }
}

QCoro::Task<void> AppDelegate::runAccountStep(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop)
{
    if (!self || !self->deps_.configurationManager || !self->deps_.feedbackPromptController ||
        !self->deps_.pollingCoordinator || stop.stop_requested()) {
        co_return;
    }
    StatusBarPollingCoordinator *poller = self->deps_.pollingCoordinator;
    poller->cancelUpdateLoop();
    poller->invalidateGeneration();
    if (stop.stop_requested()) {
        co_return;
    }
    ConfigurationManager *manager = self->deps_.configurationManager;
    if (!manager->configuration() || manager->configurationLoadFailed()) {
        co_await manager->loadConfiguration();
        if (!self || stop.stop_requested()) {
            co_return;
        }
    }
    // Nothing polls, alerts or saves history before onboarding has finished: the onboarding
    // window's sign-in stores the account (and so reruns this step) while the user is still
    // in onboarding.
    if (!manager->hasCompletedOnboarding() || !manager->hasAcceptedCurrentTerms()) {
        self->setFeedbackPromptAllowed(false);
        co_await poller->stop();
        co_return;
    }
    if (manager->isWaitingForKeyring()) {
        // The account cannot be read yet; the manager reads it again by itself and, once it
        // can, tells us ("ConfigurationDidUpdate"), which reruns this step. Meanwhile the tray
        // says what it is waiting for, not that nobody is signed in.
        co_await stopPolling(self);
        if (self && !stop.stop_requested() && self->deps_.statusBarViewModel) {
            self->deps_.statusBarViewModel->setError(kWaitingForKeyring);
        }
        co_return;
    }
    const auto &configuration = manager->configuration();
    if (configuration && configuration->account.isComplete()) {
        co_await startPolling(self, skipInitialRefresh, stop);
        if (self && !stop.stop_requested()) {
            self->setFeedbackPromptAllowed(true);
        }
    } else {
        co_await stopPolling(self);
    }
}

QCoro::Task<void> AppDelegate::stopPolling(QPointer<AppDelegate> self)
{
    self->setFeedbackPromptAllowed(false);
    if (self->deps_.pollingCoordinator) {
        co_await self->deps_.pollingCoordinator->stop();
    }
}

QCoro::Task<void> AppDelegate::startPolling(QPointer<AppDelegate> self, bool skipInitialRefresh, std::stop_token stop)
{
    ConfigurationManager *manager = self->deps_.configurationManager;
    StatusBarPollingCoordinator *poller = self->deps_.pollingCoordinator;
    if (!manager || !poller || !manager->configuration()) {
        co_return;
    }
    const GlucoseAccountConfiguration account = manager->configuration()->account;
    std::shared_ptr<GlucoseAPIProtocol> client = self->makeAPIClient_(account);
    const std::string scope = HistoryCoordinator::accountScope(account);
    runDetached(selectHistoryScope(self, scope));   // not awaited: polling does not wait for saved history
    co_await poller->start(client, scope, account.provider, stop);
    if (!self || stop.stop_requested()) {
        co_return;
    }
    if (!skipInitialRefresh) {
        co_await poller->requestRefresh(false, stop);
        if (!self) {
            co_return;
        }
    }
    if (!stop.stop_requested()) {
        poller->startUpdateLoopIfNeeded();
    }
}

QCoro::Task<void> AppDelegate::selectHistoryScope(QPointer<AppDelegate> self, std::string scope)
{
    if (!self || !self->deps_.configurationManager) {
        co_return;
    }
    const auto &configuration = self->deps_.configurationManager->configuration();
    if (!configuration || !configuration->account.isComplete() ||
        HistoryCoordinator::accountScope(configuration->account) != scope) {
        co_return;   // the account changed meanwhile
    }
    HistoryCoordinator *history = self->historyCoordinator_;
    if (!history || history->configuredAccountScope() != scope) {
        co_return;
    }
    try {
        co_await history->selectAccountScope();
    } catch (...) {
        // A failed selection is dropped; polling goes on without saved history.
    }
}

// --- Reopen, sleep and wake, termination ---

bool AppDelegate::applicationShouldHandleReopen()
{
    if (deps_.configurationManager && !deps_.configurationManager->hasCompletedOnboarding()) {
        if (onboardingCoordinator_) {
            onboardingCoordinator_->show();
        }
        return true;
    }
    if (termsAgreementCoordinator_ && termsAgreementCoordinator_->window()) {
        termsAgreementCoordinator_->show();
        return true;
    }
    // Without a tray host the status window is the only way to the reading; once closed, a
    // second launch brings it back.
    StatusBarViewModel *viewModel = deps_.statusBarViewModel;
    if (viewModel && viewModel->hasController() && viewModel->controller().showStatusWindowIfUndocked()) {
        return true;
    }
    return false;
}

void AppDelegate::installWorkspaceObservers()
{
    removeWorkspaceObservers();
    if (!sleepWakeMonitor_) {
        return;
    }
    QPointer<AppDelegate> self(this);
    workspaceObservers_.append(connect(sleepWakeMonitor_, &SleepWakeMonitor::didWake, this, [self] {
        if (self) {
            runDetached(self->handleWake());
        }
    }));
    workspaceObservers_.append(connect(sleepWakeMonitor_, &SleepWakeMonitor::willSleep, this, [self] {
        if (self) {
            self->installUpdateBeforeSleep(QStringLiteral("system-sleep"));
        }
    }));
    workspaceObservers_.append(connect(sleepWakeMonitor_, &SleepWakeMonitor::screensDidSleep, this, [self] {
        if (self) {
            self->installUpdateBeforeSleep(QStringLiteral("display-sleep"));
        }
    }));
}

void AppDelegate::removeWorkspaceObservers()
{
    for (const auto &connection : std::as_const(workspaceObservers_)) {
        disconnect(connection);
    }
    workspaceObservers_.clear();
}

QCoro::Task<void> AppDelegate::handleWake()
{
    if (deps_.pollingCoordinator) {
        co_await deps_.pollingCoordinator->handleWake();
    }
}

void AppDelegate::installUpdateBeforeSleep(const QString &reason)
{
    if (deps_.updateChecker) {
        deps_.updateChecker->installDownloadedUpdateNow(reason);
    }
}

void AppDelegate::applicationWillTerminate()
{
    if (historyCoordinator_) {
        historyCoordinator_->cancelMaintenance();
    }
    if (deps_.updateChecker) {
        deps_.updateChecker->stop();
    }
    disconnect(notificationConnection_);
    if (startupTask_) {
        startupTask_->request_stop();
    }
    removeWorkspaceObservers();
}

// --- Notification responses ---

void AppDelegate::didReceiveNotificationResponse(const QString &identifier, const QString &actionKey)
{
    if (identifier != FeedbackPromptController::kPromptIdentifier) {
        return;
    }
    if (actionKey == FeedbackPromptController::kNeverShowAction) {
        if (deps_.feedbackPromptController) {
            deps_.feedbackPromptController->recordDismissal();
        }
    } else if (actionKey == FeedbackPromptController::kProvideAction || actionKey == DesktopNotifications::kDefaultAction) {
        if (deps_.feedbackWindowController) {
            deps_.feedbackWindowController->show();
        }
    }
}

} // namespace quillby
