#include "app/QuillbyApp.h"

#include "app/UpdateCheckerSettingsAdapter.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/NetworkReachabilityMonitoring.h"
#include "core/ProductWebSite.h"
#include "core/SecretServiceWatcher.h"
#include "history/GlucoseHistoryStore.h"
#include "history/HistoryCoordinator.h"
#include "insights/InsightsCollectionProgress.h"
#include "insights_window/InsightsLauncher.h"
#include "platform/AccessibleNotificationAnnouncer.h"
#include "platform/DesktopNotifications.h"
#include "platform/ReducedMotionMonitor.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "polling/UserNotificationGlucoseAlertDelivery.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "providers/GlucoseProviderDescription.h"
#include "core/KeychainItemStore.h"
#include "core/async/AsyncSerialQueue.h"
#include "core/async/RunDetached.h"
#include "services/AlivePingService.h"
#include "services/AppServerAuthProvider.h"
#include "platform/PackageKitClient.h"
#include "services/AppcastUpdateController.h"
#include "services/FeedbackPromptController.h"
#include "services/FeedbackSubmissionService.h"
#include "services/KeychainAliveAuthCredentialsStore.h"
#include "services/UpdateChecker.h"
#include "services/UserDefaultsAlivePingScheduleStore.h"
#include "services/UserDefaultsInstallationIDProvider.h"
#include "services_window/FeedbackWindowController.h"
#include "services_window/UpdateCheckResultDialog.h"
#include "settings/SettingsLauncher.h"
#include "settings_window/SettingsView.h"

#include <QApplication>
#include <QStandardPaths>
#include <QPointer>

// Both addresses come from the build (CMake cache variables of the same names, with their
// defaults there); nothing else in the program knows them.
#if !defined(QUILLBY_SERVER_URL) || !defined(QUILLBY_UPDATE_FEED_URL) || !defined(QUILLBY_UPDATE_PUBLIC_KEY) || \
    !defined(QUILLBY_PACKAGE_ARCHITECTURE)
#error "QUILLBY_SERVER_URL, QUILLBY_UPDATE_FEED_URL, QUILLBY_UPDATE_PUBLIC_KEY and QUILLBY_PACKAGE_ARCHITECTURE are defined by the build"
#endif

namespace quillby {

namespace {
constexpr int kFeedbackEligibilityDays = 90;

// The long-lived services of a real run. Members are destroyed in reverse order: each goes
// before what it uses.
struct ProductionServices {
    AppNotifications notifications;
    NetworkMonitor networkMonitor{NetworkMonitor::Source::system};
    // Tells the configuration manager when the keyring may have become readable.
    SecretServiceWatcher keyringWatcher;
    std::unique_ptr<ConfigurationManager> configurationManager;
    std::unique_ptr<HistoryCoordinator> historyCoordinator;
};
} // namespace

namespace {

QCoro::Task<void> quitAfterWaitingInstall(QPointer<UpdateChecker> checker)
{
    // A second Quit while the install runs finds nothing waiting and quits at once.
    if (checker) {
        co_await checker->installDownloadedUpdateBeforeQuit();
    }
    QApplication::quit();
}

} // namespace

QuillbyEnvironment QuillbyEnvironment::production()
{
    QuillbyEnvironment environment;
    environment.clock = std::make_shared<SystemClock>();
    environment.sleeper = std::make_shared<EventLoopSleeper>();
    auto services = std::make_shared<ProductionServices>();
    // The real keyring item (service "Quillby", account "configuration"), the user's settings
    // file and the system locale.
    services->configurationManager = std::make_unique<ConfigurationManager>(
        std::make_shared<KeychainItemStore>(QString::fromLatin1(ConfigurationKeychainStore::kService),
                                            QString::fromLatin1(ConfigurationKeychainStore::kAccount)),
        std::make_shared<QSettings>(QStringLiteral("Quillby"), QStringLiteral("Quillby")), QLocale::system(),
        environment.clock, environment.sleeper, services->notifications);
    services->configurationManager->watchKeyring(&services->keyringWatcher);
    // Saved history over the user's data folder.
    services->historyCoordinator =
        std::make_unique<HistoryCoordinator>(makeUserHistoryStore(&insightsMinimumDatasetReached),
                                             *services->configurationManager, environment.clock, environment.sleeper);
    environment.notifications = &services->notifications;
    environment.configurationManager = services->configurationManager.get();
    environment.historyCoordinator = services->historyCoordinator.get();
    environment.networkMonitor = &services->networkMonitor;
    environment.ownedServices = std::move(services);
    environment.productServerURL = QStringLiteral(QUILLBY_SERVER_URL);
    environment.updateFeedURL = QStringLiteral(QUILLBY_UPDATE_FEED_URL);
    environment.applicationVersion = QCoreApplication::applicationVersion();
    environment.updatePublicKey = QByteArray::fromBase64(QByteArrayLiteral(QUILLBY_UPDATE_PUBLIC_KEY));
    environment.packageArchitecture = QStringLiteral(QUILLBY_PACKAGE_ARCHITECTURE);
    environment.keychainItemStores = KeychainItemStore::factory();
    environment.notificationCenter = std::make_shared<DesktopNotifications>();
    environment.alertDelivery = std::make_shared<UserNotificationGlucoseAlertDelivery>(environment.notificationCenter);
    environment.makeAPIClient = &makeGlucoseAPIClient;
    environment.defaults = environment.configurationManager->defaultsPointer();
    return environment;
}

QuillbyApp::QuillbyApp(QuillbyEnvironment environment, QObject *parent)
    : QObject(parent)
    , environment_(std::move(environment))
{
    auto &env = environment_;
    Q_ASSERT(env.notifications && env.configurationManager && env.networkMonitor && env.clock && env.sleeper);
    if (!env.makeAPIClient) {
        env.makeAPIClient = &makeGlucoseAPIClient;
    }
    if (!env.defaults) {
        env.defaults = env.configurationManager->defaultsPointer();
    }
    if (!env.announcer) {
        ownedAnnouncer_ = std::make_unique<AccessibleNotificationAnnouncer>();
        env.announcer = ownedAnnouncer_.get();
    }
    buildServerServices();

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

    FeedbackPromptController::Dependencies promptDependencies;
    promptDependencies.defaults = env.defaults;
    promptDependencies.feedbackEligibilityDays = kFeedbackEligibilityDays;
    promptDependencies.notificationCenter = env.notificationCenter;
    promptDependencies.clock = env.clock;
    promptDependencies.sleeper = env.sleeper;
    feedbackPromptController_ = std::make_unique<FeedbackPromptController>(std::move(promptDependencies));
    FeedbackPromptController *prompt = feedbackPromptController_.get();
    feedbackWindowController_ =
        std::make_unique<FeedbackWindowController>(feedbackService_, [prompt] { prompt->recordSubmission(); });

    settingsEnvironment_.configurationManager = env.configurationManager;
    settingsEnvironment_.historyCoordinator = env.historyCoordinator;
    settingsEnvironment_.notifications = env.notifications;
    settingsEnvironment_.updateChecker = std::make_shared<UpdateCheckerSettingsAdapter>(*env.updateChecker);
    settingsEnvironment_.loginItemManager = env.loginItemManager;
    settingsEnvironment_.notificationCenter = env.notificationCenter;
    settingsEnvironment_.makeAPIClient = env.makeSettingsAPIClient;
    settingsEnvironment_.options.sleeper = env.sleeper;
    settingsEnvironment_.options.clock = env.clock;
    // The windows' links lead to the product's web site at the server's address.
    const ProductWebSite webSite(env.productServerURL);
    if (!env.makeSettingsView) {
        SettingsWindowServices services;
        services.webSite = webSite;
        services.configurationManager = env.configurationManager;
        services.historyCoordinator = env.historyCoordinator;
        services.announcer = env.announcer;
        UpdateChecker *updateChecker = env.updateChecker;
        services.checkForUpdates = [updateChecker] { updateChecker->checkForUpdates(); };
        services.updateInstallSupport = [updateChecker] { return updateChecker->updateInstallSupport(); };
        env.makeSettingsView = [services](SettingsViewModel &model, SettingsNavigation &navigation,
                                          std::function<void()> submitFeedbackAction) {
            return makeSettingsView(model, navigation, std::move(submitFeedbackAction), services);
        };
    }
    const SettingsEnvironment *settingsEnvironment = &settingsEnvironment_;
    settingsLauncher_ = std::make_unique<SettingsLauncher>(
        [settingsEnvironment] { return makeSettingsViewModel(*settingsEnvironment); }, env.makeSettingsView);
    FeedbackWindowController *feedbackWindow = feedbackWindowController_.get();
    settingsLauncher_->submitFeedbackAction = [feedbackWindow] { feedbackWindow->show(); };
    SettingsLauncher *settings = settingsLauncher_.get();
    InsightsView::Services insightsServices;
    insightsServices.clock = env.clock;
    insightsServices.sleeper = env.sleeper;
    insightsServices.fixedCadence = &readingIsOnFixedCadence;
    insightsServices.webSite = webSite;
    insightsLauncher_ = std::make_unique<InsightsLauncher>(env.historyCoordinator, env.configurationManager,
                                                           [settings] { settings->show(SettingsTab::insights); },
                                                           std::move(insightsServices));

    // The status item's action hooks.
    InsightsLauncher *insights = insightsLauncher_.get();
    QPointer<StatusBarPollingCoordinator> poller(pollingCoordinator_.get());
    statusBarViewModel_->settingsAction = [settings] { settings->show(std::nullopt); };
    statusBarViewModel_->insightsAction = [insights] { insights->show(); };
    // Quit installs a waiting update first where that needs no password.
    QPointer<UpdateChecker> checker(env.updateChecker);
    statusBarViewModel_->quitAction = [checker] { runDetached(quitAfterWaitingInstall(checker)); };
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
        feedbackWindowController_->setReduceMotion(env.reducedMotionMonitor->reduceMotion());
        connect(env.reducedMotionMonitor, &ReducedMotionMonitor::reduceMotionChanged, feedbackWindowController_.get(),
                &FeedbackWindowController::setReduceMotion);
    }
    connect(env.notifications, &AppNotifications::appSettingsDidUpdate, viewModel,
            &StatusBarViewModel::appSettingsDidUpdate);

    AppDelegateDependencies dependencies;
    dependencies.notifications = env.notifications;
    dependencies.configurationManager = env.configurationManager;
    dependencies.feedbackPromptController = prompt;
    dependencies.feedbackWindowController = feedbackWindow;
    dependencies.statusBarViewModel = viewModel;
    dependencies.pollingCoordinator = pollingCoordinator_.get();
    dependencies.settingsLauncher = settings;
    dependencies.updateChecker = env.updateChecker;
    dependencies.notificationCenter = env.notificationCenter.get();
    dependencies.onboarding.makeSettingsViewModel = [settingsEnvironment] {
        return makeSettingsViewModel(*settingsEnvironment);
    };
    dependencies.onboarding.announcer = env.announcer;
    dependencies.onboarding.window.activationPolicy = &activationPolicy_;
    dependencies.onboarding.window.reducedMotion = env.reducedMotionMonitor;
    dependencies.onboarding.window.webSite = webSite;
    appDelegate_->configure(dependencies, env.historyCoordinator, env.makeAPIClient);
    appDelegate_->setSleepWakeMonitor(env.sleepWakeMonitor);
}

void QuillbyApp::buildServerServices()
{
    auto &env = environment_;
    network_ = std::make_unique<QNetworkAccessManager>();
    // One registration at a time in the whole program: the heartbeat's and the feedback
    // service's providers share the identifier and the keyring item.
    registrationLock_ = std::make_shared<AsyncSerialQueue>();
    const KeychainItemStoreFactory itemStores =
        env.keychainItemStores ? env.keychainItemStores : KeychainItemStore::factory();
    AppServerConnection connection;
    connection.network = network_.get();
    const auto makeAuthProvider = [&] {
        AppServerAuthProvider::Dependencies auth;
        auth.connection = connection;
        auth.registrationURL = app_server::endpointURL(env.productServerURL, app_server::kRegisterPath);
        auth.installationIDProvider = std::make_shared<UserDefaultsInstallationIDProvider>(env.defaults);
        auth.credentialsStore = std::make_shared<KeychainAliveAuthCredentialsStore>(itemStores);
        auth.registrationLock = registrationLock_;
        auth.clock = env.clock;
        return std::make_shared<AppServerAuthProvider>(std::move(auth));
    };

    if (!env.updateChecker) {
        UpdateChecker::Dependencies checker;
        checker.clock = env.clock;
        checker.sleeper = env.sleeper;
        checker.shortVersion = env.applicationVersion;
        if (!env.updateFeedURL.isEmpty()) {
            AppcastUpdateController::Dependencies updates;
            updates.network = network_.get();
            updates.feedURL = QUrl(env.updateFeedURL);
            updates.currentVersion = env.applicationVersion;
            updates.defaults = env.defaults;
            updates.clock = env.clock;
            updates.sleeper = env.sleeper;
            updates.presentUserCheckResult = [](const UpdateCheckOutcome &outcome) { showUpdateCheckResult(outcome); };
            if (!env.updatePublicKey.isEmpty()) {
                updates.publicKey = env.updatePublicKey;
                updates.packageName = QStringLiteral("quillby");
                updates.architecture = env.packageArchitecture;
                updates.downloadFolder =
                    QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Quillby/updates");
                updates.packageKit = std::make_shared<PackageKitClient>();
                updates.executablePath = QCoreApplication::applicationFilePath();
                updates.relaunch = env.relaunch;
            }
            checker.sparkleController = std::make_unique<AppcastUpdateController>(std::move(updates));
        }
        if (!env.productServerURL.isEmpty()) {
            AlivePingService::Dependencies heartbeat;
            heartbeat.connection = connection;
            heartbeat.aliveURL = app_server::endpointURL(env.productServerURL, app_server::kAlivePath);
            heartbeat.authProvider = makeAuthProvider();
            heartbeat.scheduleStore = std::make_shared<UserDefaultsAlivePingScheduleStore>(env.defaults);
            heartbeat.clock = env.clock;
            heartbeat.sleeper = env.sleeper;
            heartbeat.randomUInt64 = &UpdateChecker::randomUInt64;
            heartbeat.systemLanguageProvider = &UpdateChecker::systemLanguage;
            checker.alivePingService = std::make_shared<AlivePingService>(std::move(heartbeat));
        }
        ownedUpdateChecker_ = std::make_unique<UpdateChecker>(std::move(checker));
        env.updateChecker = ownedUpdateChecker_.get();
    }

    FeedbackSubmissionService::Dependencies feedback;
    feedback.connection = connection;
    feedback.feedbackURL = env.productServerURL.isEmpty() ? QString() : env.productServerURL + app_server::kFeedbackPath;
    feedback.authProvider = makeAuthProvider();
    feedback.appVersion = env.applicationVersion;
    feedbackService_ = std::make_shared<FeedbackSubmissionService>(std::move(feedback));
}

QuillbyApp::~QuillbyApp()
{
    // The delegate's tasks go first, then the poller, then what the poller writes into.
    appDelegate_.reset();
    pollingCoordinator_.reset();
    insightsLauncher_.reset();
    settingsLauncher_.reset();
    statusBarViewModel_.reset();
    feedbackWindowController_.reset();
    feedbackPromptController_.reset();
    ownedUpdateChecker_.reset();
}

} // namespace quillby
