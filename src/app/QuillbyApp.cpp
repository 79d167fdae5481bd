#include "app/QuillbyApp.h"

#include "app/UpdateCheckerSettingsAdapter.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/NetworkReachabilityMonitoring.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/InsightsLauncher.h"
#include "platform/DesktopNotifications.h"
#include "platform/ReducedMotionMonitor.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "polling/UserNotificationGlucoseAlertDelivery.h"
#include "services/FeedbackPromptController.h"
#include "services/FeedbackWindowController.h"
#include "services/UpdateChecker.h"
#include "settings/SettingsLauncher.h"

#include <QApplication>
#include <QPointer>

namespace quillby {

namespace {
constexpr int kFeedbackEligibilityDays = 90;
}

QuillbyEnvironment QuillbyEnvironment::production()
{
    QuillbyEnvironment environment;
    environment.configurationManager = &ConfigurationManager::shared();
    environment.updateChecker = &UpdateChecker::shared();
    environment.historyCoordinator = &HistoryCoordinator::shared();
    environment.networkMonitor = &NetworkMonitor::shared();
    environment.notificationCenter = std::make_shared<DesktopNotifications>();
    environment.alertDelivery = std::make_shared<UserNotificationGlucoseAlertDelivery>(environment.notificationCenter);
    environment.makeAPIClient = &StatusBarPollingCoordinator::makeDefaultAPIClient;
    environment.defaults = environment.configurationManager->defaultsPointer();
    return environment;
}

QuillbyApp::QuillbyApp(QuillbyEnvironment environment, QObject *parent)
    : QObject(parent)
    , environment_(std::move(environment))
{
    auto &env = environment_;
    if (!env.makeAPIClient) {
        env.makeAPIClient = &StatusBarPollingCoordinator::makeDefaultAPIClient;
    }
    if (!env.defaults) {
        env.defaults = env.configurationManager->defaultsPointer();
    }

    appDelegate_ = std::make_unique<AppDelegate>();
    statusBarViewModel_ = std::make_unique<StatusBarViewModel>(*env.configurationManager, *env.updateChecker,
                                                               env.clock, env.sleeper, env.makeStatusItemController);

    StatusBarPollingCoordinator::Dependencies pollerDependencies;
    pollerDependencies.configurationManager = env.configurationManager;
    pollerDependencies.statusBar = statusBarViewModel_.get();
    pollerDependencies.makeAPIClient = env.makeAPIClient;
    pollerDependencies.networkMonitor = env.networkMonitor;
    pollerDependencies.alertDelivery = env.alertDelivery;
    pollerDependencies.historyCoordinator = env.historyCoordinator;
    pollerDependencies.clock = env.clock;
    pollerDependencies.sleeper = env.sleeper;
    pollerDependencies.defaults = env.defaults;
    pollingCoordinator_ = std::make_unique<StatusBarPollingCoordinator>(std::move(pollerDependencies));

    feedbackPromptController_ =
        std::make_unique<FeedbackPromptController>(env.defaults, kFeedbackEligibilityDays, env.clock);
    FeedbackPromptController *prompt = feedbackPromptController_.get();
    feedbackWindowController_ = std::make_unique<FeedbackWindowController>([prompt] { prompt->recordSubmission(); });

    settingsEnvironment_.configurationManager = env.configurationManager;
    settingsEnvironment_.historyCoordinator = env.historyCoordinator;
    settingsEnvironment_.notifications = &AppNotifications::shared();
    settingsEnvironment_.updateChecker = std::make_shared<UpdateCheckerSettingsAdapter>(*env.updateChecker);
    settingsEnvironment_.loginItemManager = env.loginItemManager;
    settingsEnvironment_.notificationCenter = env.notificationCenter;
    settingsEnvironment_.dexcomAPIFactory = env.settingsDexcomAPIFactory;
    settingsEnvironment_.libreAPIFactory = env.settingsLibreAPIFactory;
    settingsEnvironment_.options.sleeper = env.sleeper;
    settingsEnvironment_.options.clock = env.clock;
    const SettingsEnvironment *settingsEnvironment = &settingsEnvironment_;
    settingsLauncher_ = std::make_unique<SettingsLauncher>(
        [settingsEnvironment] { return makeSettingsViewModel(*settingsEnvironment); }, env.makeSettingsView);
    FeedbackWindowController *feedbackWindow = feedbackWindowController_.get();
    settingsLauncher_->submitFeedbackAction = [feedbackWindow] { feedbackWindow->show(); };
    SettingsLauncher *settings = settingsLauncher_.get();
    InsightsView::Services insightsServices;
    insightsServices.clock = env.clock;
    insightsServices.sleeper = env.sleeper;
    insightsLauncher_ = std::make_unique<InsightsLauncher>(env.historyCoordinator, env.configurationManager,
                                                           [settings] { settings->show(SettingsTab::insights); },
                                                           std::move(insightsServices));

    // The status item's action hooks.
    InsightsLauncher *insights = insightsLauncher_.get();
    QPointer<StatusBarPollingCoordinator> poller(pollingCoordinator_.get());
    statusBarViewModel_->settingsAction = [settings] { settings->show(std::nullopt); };
    statusBarViewModel_->insightsAction = [insights] { insights->show(); };
    statusBarViewModel_->quitAction = [] { QApplication::quit(); };
    statusBarViewModel_->snoozeAlertsAction = [poller](double seconds) {
        if (poller) {
            poller->snoozeAlerts(seconds);
        }
    };
    statusBarViewModel_->clearSnoozeAlertsAction = [poller] {
        if (poller) {
            poller->cancelAlertSnooze();
        }
    };
    StatusBarViewModel *viewModel = statusBarViewModel_.get();
    if (env.reducedMotionMonitor) {
        viewModel->setReduceMotion(env.reducedMotionMonitor->reduceMotion());
        connect(env.reducedMotionMonitor, &ReducedMotionMonitor::reduceMotionChanged, viewModel,
                &StatusBarViewModel::setReduceMotion);
        insights->setReduceMotion(env.reducedMotionMonitor->reduceMotion());
        connect(env.reducedMotionMonitor, &ReducedMotionMonitor::reduceMotionChanged, insights,
                &InsightsLauncher::setReduceMotion);
    }
    connect(&AppNotifications::shared(), &AppNotifications::appSettingsDidUpdate, viewModel,
            &StatusBarViewModel::appSettingsDidUpdate);

    AppDelegateDependencies dependencies;
    dependencies.configurationManager = env.configurationManager;
    dependencies.feedbackPromptController = prompt;
    dependencies.feedbackWindowController = feedbackWindow;
    dependencies.statusBarViewModel = viewModel;
    dependencies.pollingCoordinator = pollingCoordinator_.get();
    dependencies.settingsLauncher = settings;
    dependencies.updateChecker = env.updateChecker;
    dependencies.notificationCenter = env.notificationCenter.get();
    appDelegate_->configure(dependencies, env.historyCoordinator, env.makeAPIClient);
    appDelegate_->setSleepWakeMonitor(env.sleepWakeMonitor);
}

QuillbyApp::~QuillbyApp()
{
    // The delegate's tasks go first, then the poller, then what the poller writes into.
    appDelegate_.reset();
    pollingCoordinator_.reset();
    insightsLauncher_.reset();
    settingsLauncher_.reset();
    statusBarViewModel_.reset();
}

} // namespace quillby
