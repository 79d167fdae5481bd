#include "AppHarness.h"

#include <QScopeGuard>
#include <QUuid>

#include "core/AppNotifications.h"
#include "core/UserDefaults.h"
#include "insights_window/InsightsLauncher.h"
#include "menubar/StatusBarController.h"
#include "menubar/StatusItemControlling.h"
#include "onboarding_window/OnboardingCoordinator.h"
#include "onboarding/TermsAgreementCoordinator.h"
#include "platform/DesktopNotifications.h"
#include "platform/SleepWakeMonitor.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "providers/GlucoseProviderDescription.h"
#include "services/FeedbackPromptController.h"
#include "services_window/FeedbackWindowController.h"
#include "settings/SettingsLauncher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>

#include "FakeNotificationServer.h"

#include <QFile>
#include "TaskRunner.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

namespace quillby::test {
namespace {

// A complete Dexcom account, onboarding done and the current terms accepted: launches and waits
// for the first account step to end.
void launchReady(AppHarness &harness)
{
    harness.buildOnboarded();
    harness.launch();
    harness.waitForAccountTask();
}

struct StartupCase {
    const char *name;
    bool onboardingCompleted;
    std::optional<QString> acceptedTerms;
    const char *expectedWindowTitle;   // nullptr: no window, the tray display starts
};

class StartupDecision : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupDecision, ShowsOnboardingTermsOrTheTray)
{
    const StartupCase &c = GetParam();
    AppHarness harness;
    harness.storeAccount(AppHarness::dexcomAccount());
    harness.setOnboardingCompleted(c.onboardingCompleted);
    if (c.acceptedTerms) {
        harness.acceptTerms(*c.acceptedTerms);
    }
    harness.build();
    harness.launch();
    AppDelegate &delegate = harness.app->appDelegate();

    QWidget *window = nullptr;
    if (!c.onboardingCompleted) {
        window = delegate.onboardingCoordinator()->window();
    } else {
        window = delegate.termsAgreementCoordinator()->window();
    }
    if (c.expectedWindowTitle) {
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        if (c.onboardingCompleted) {
            EXPECT_EQ(window->windowTitle().toStdString(), c.expectedWindowTitle);
        }
        EXPECT_EQ(delegate.accountStepsStarted(), 0);
        EXPECT_FALSE(harness.hasStatusItem());
        EXPECT_FALSE(harness.app->feedbackPromptController().canPresentPrompt);
    } else {
        EXPECT_EQ(window, nullptr);
        EXPECT_EQ(delegate.accountStepsStarted(), 1);
        EXPECT_TRUE(harness.hasStatusItem());
        harness.waitForAccountTask();
        EXPECT_TRUE(harness.app->pollingCoordinator().isUpdateLoopRunning());
        EXPECT_TRUE(harness.app->feedbackPromptController().canPresentPrompt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AppDelegate, StartupDecision,
    ::testing::Values(StartupCase{"firstLaunch", false, std::nullopt, "onboarding"},
                      StartupCase{"termsNeverAccepted", true, std::nullopt, "Terms of use"},
                      StartupCase{"termsChanged", true, QStringLiteral("2025-01-01"), "Updated terms of use"},
                      StartupCase{"emptyTermsVersionStored", true, QStringLiteral(""), "Updated terms of use"},
                      StartupCase{"ready", true, QStringLiteral("2026-10-07"), nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AppDelegate, AcceptingChangedTermsStartsTheTrayAndPolling)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(131, "Flat", now() - 60)});
    harness.buildOnboarded(AppHarness::dexcomAccount(), QStringLiteral("2025-01-01"));
    harness.launch();
    AppDelegate &delegate = harness.app->appDelegate();
    QWidget *terms = delegate.termsAgreementCoordinator()->window();
    ASSERT_NE(terms, nullptr);

    EXPECT_EQ(harness.app->activationPolicy().policy(), ActivationPolicy::regular);
    terms->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"))->click();
    EXPECT_EQ(delegate.termsAgreementCoordinator()->window(), nullptr);
    EXPECT_EQ(harness.app->activationPolicy().policy(), ActivationPolicy::accessory);
    // The tray starts once the Agree click is over.
    ASSERT_TRUE(waitUntil([&] { return harness.hasStatusItem(); }));
    ASSERT_TRUE(waitUntil([&] { return delegate.accountStepsStarted() == 1; }));
    harness.waitForAccountTask();
    EXPECT_EQ(harness.app->statusBarViewModel().statusTitle(), QStringLiteral("131 →"));
}

TEST(AppDelegate, IncompleteAccountStopsPollingWithTheSignInState)
{
    AppHarness harness;
    GlucoseAccountConfiguration account = AppHarness::dexcomAccount();
    account.password.clear();
    harness.buildOnboarded(account);
    harness.launch();
    harness.waitForAccountTask();

    EXPECT_EQ(harness.clientsMade, 0);
    EXPECT_FALSE(harness.app->pollingCoordinator().isUpdateLoopRunning());
    const auto error = harness.app->statusBarViewModel().currentError();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->title, "Sign in required");
    EXPECT_FALSE(harness.app->feedbackPromptController().canPresentPrompt);
}

// The composition root over the loopback Dexcom Share server: the newest reading reaches the
// tray within one poll; a refused session ends in the authentication state.
TEST(AppEndToEnd, ShowsTheNewestDexcomReadingWithinOnePoll)
{
    AppHarness harness;
    const double t = now();
    harness.dexcom.setReadings({FakeDexcomServer::record(142, "SingleUp", t - 30),
                                FakeDexcomServer::record(128, "Flat", t - 330)});
    launchReady(harness);

    StatusBarViewModel &viewModel = harness.app->statusBarViewModel();
    EXPECT_EQ(viewModel.statusTitle(), QStringLiteral("142 ↑"));
    EXPECT_FALSE(viewModel.currentError().has_value());
    ASSERT_EQ(viewModel.glucoseHistory().size(), 2u);
    EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 1u);
    EXPECT_TRUE(harness.app->pollingCoordinator().isUpdateLoopRunning());
}

TEST(AppEndToEnd, RefusedReadingsRequestEndsInTheAuthenticationState)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(142, "Flat", now() - 30)});
    for (int i = 0; i < 4; ++i) {
        // The service's answer to a session it no longer knows.
        harness.dexcom.enqueueReply(FakeDexcomServer::kReadingsPath,
                                    FakeDexcomServer::fault("SessionNotValid", "Session not valid"));
    }
    launchReady(harness);

    const auto error = harness.app->statusBarViewModel().currentError();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->title, "Authentication required");
    EXPECT_EQ(error->remediation, "Verify your credentials in Settings.");
    // One re-sign-in with a rebuilt client, then the retried fetch.
    EXPECT_EQ(harness.clientsMade, 2);
    EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 2u);
    const auto &schedule = harness.app->pollingCoordinator().pollingSchedule();
    EXPECT_EQ(schedule.lastOutcome, StatusBarPollOutcome::sessionExpired());
}

TEST(AppDelegate, ConfigurationChangesRestartOnlyTheAccountStep)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(100, "Flat", now() - 30)});
    launchReady(harness);
    AppDelegate &delegate = harness.app->appDelegate();
    ASSERT_EQ(delegate.accountStepsStarted(), 1);

    // Two changes in quick succession: the first task is cancelled, the second runs to the end.
    harness.notifications.postConfigurationDidUpdate();
    harness.notifications.postConfigurationDidUpdate(true);
    harness.waitForAccountTask();
    EXPECT_EQ(delegate.accountStepsStarted(), 3);
    EXPECT_TRUE(harness.app->pollingCoordinator().isUpdateLoopRunning());
    EXPECT_EQ(delegate.onboardingCoordinator()->window(), nullptr);
    EXPECT_EQ(delegate.termsAgreementCoordinator()->window(), nullptr);
}

struct ConfigurationChangeCase {
    const char *name;
    bool skipInitialRefresh;
    std::size_t extraReadingsRequests;
};

class ConfigurationChange : public ::testing::TestWithParam<ConfigurationChangeCase> {};

// A change restarts polling with an immediate refresh unless asked to skip it; either way the
// update loop runs (its first poll is planned seconds ahead) and the feedback prompt is allowed.
TEST_P(ConfigurationChange, RestartsPollingWithOrWithoutTheFirstRefresh)
{
    const ConfigurationChangeCase &c = GetParam();
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(100, "Flat", now() - 30)});
    launchReady(harness);
    const std::size_t before = harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath);
    ASSERT_EQ(before, 1u);

    harness.notifications.postConfigurationDidUpdate(c.skipInitialRefresh);
    harness.waitForAccountTask();
    EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), before + c.extraReadingsRequests);
    EXPECT_TRUE(harness.app->pollingCoordinator().isUpdateLoopRunning());
    EXPECT_TRUE(harness.app->feedbackPromptController().canPresentPrompt);
}

INSTANTIATE_TEST_SUITE_P(AppDelegate, ConfigurationChange,
                         ::testing::Values(ConfigurationChangeCase{"refreshAtOnce", false, 1},
                                           ConfigurationChangeCase{"skipInitialRefresh", true, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

// A keyring that is locked (or not running yet) at launch: the tray says that Quillby waits for
// it, not that nobody is signed in, and nothing polls. As soon as the configuration can be read
// (the keyring reports its unlock, another part of the program reads it, or the account changes)
// polling starts as at launch, with no change of account needed.
TEST(AppDelegate, LockedKeyringAtLaunchStartsPollingOnceTheAccountCanBeRead)
{
    const struct {
        const char *name;
        std::function<void(AppHarness &, KeyringWatching &)> unlock;
    } cases[] = {
        {"the keyring reports the unlock", [](AppHarness &, KeyringWatching &keyring) { emit keyring.keyringMayHaveChanged(); }},
        {"another part reads the configuration",
         [](AppHarness &harness, KeyringWatching &) { test::runTask(harness.configurationManager->loadConfiguration()); }},
        {"the account changes", [](AppHarness &harness, KeyringWatching &) { harness.notifications.postConfigurationDidUpdate(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness harness;
        harness.dexcom.setReadings({FakeDexcomServer::record(117, "Flat", now() - 30)});
        harness.keychain->setReadFailure(keychain_status::locked);
        KeyringWatching keyring;
        harness.buildOnboarded();
        harness.configurationManager->watchKeyring(&keyring);
        harness.launch();
        harness.waitForAccountTask();

        StatusBarViewModel &viewModel = harness.app->statusBarViewModel();
        EXPECT_TRUE(harness.configurationManager->isWaitingForKeyring());
        EXPECT_EQ(harness.clientsMade, 0);
        EXPECT_FALSE(harness.app->pollingCoordinator().isUpdateLoopRunning());
        EXPECT_FALSE(harness.app->feedbackPromptController().canPresentPrompt);
        ASSERT_TRUE(viewModel.currentError().has_value());
        EXPECT_EQ(*viewModel.currentError(), AppDelegate::kWaitingForKeyring);
        EXPECT_EQ(viewModel.iconState(), StatusBarIconState::attention);
        EXPECT_TRUE(viewModel.statusAccessibilityText(viewModel.statusTitle(), now()).contains(u"Waiting for the keyring"));
        EXPECT_EQ(viewModel.menuState().currentError, AppDelegate::kWaitingForKeyring);

        harness.keychain->setReadFailure(std::nullopt);
        QElapsedTimer sinceUnlock;
        sinceUnlock.start();
        c.unlock(harness, keyring);
        ASSERT_TRUE(waitUntil([&] { return viewModel.statusTitle() == QStringLiteral("117 →"); }));
        std::cout << "[ measure  ] " << c.name << ": keyring unlocked to the reading shown in " << sinceUnlock.elapsed()
                  << " ms" << std::endl;
        harness.waitForAccountTask();
        EXPECT_FALSE(harness.configurationManager->configurationLoadFailed());
        EXPECT_EQ(harness.clientsMade, 1);
        EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 1u);
        EXPECT_TRUE(harness.app->pollingCoordinator().isUpdateLoopRunning());
        EXPECT_TRUE(harness.app->feedbackPromptController().canPresentPrompt);
        EXPECT_FALSE(viewModel.currentError().has_value());
    }
}

// A damaged or missing item is no keyring to wait for: the tray asks for a sign-in as before.
TEST(AppDelegate, DamagedOrMissingConfigurationAsksForASignIn)
{
    for (const bool damaged : {true, false}) {
        SCOPED_TRACE(damaged ? "damaged" : "missing");
        AppHarness harness;
        harness.setOnboardingCompleted(true);
        harness.acceptTerms();
        if (damaged) {
            harness.keychain->setStoredBytes("{\"account\":");
        }
        harness.build();
        harness.launch();
        harness.waitForAccountTask();
        EXPECT_FALSE(harness.configurationManager->isWaitingForKeyring());
        const auto error = harness.app->statusBarViewModel().currentError();
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->title, "Sign in required");
        EXPECT_EQ(harness.clientsMade, 0);
    }
}

TEST(AppDelegate, ReopenShowsOnboardingOnlyWhileItIsIncomplete)
{
    AppHarness harness;
    harness.build();
    harness.launch();
    AppDelegate &delegate = harness.app->appDelegate();
    // Closing the window before onboarding is complete ends the program: nothing else of it
    // would be on screen.
    int terminations = 0;
    delegate.terminateAction = [&] { ++terminations; };
    delegate.onboardingCoordinator()->window()->close();
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(delegate.applicationShouldHandleReopen());
    EXPECT_TRUE(delegate.onboardingCoordinator()->window()->isVisible());

}

// Without a tray host the status window holds the reading; a person who closed it gets it back
// by opening the application again (a second launch asks the running one to reopen).
TEST(AppDelegate, ReopenWithoutTrayHostShowsTheStatusWindowAgain)
{
    AppHarness ready;
    launchReady(ready);
    auto &controller = static_cast<StatusBarController &>(ready.app->statusBarViewModel().controller());
    ASSERT_TRUE(controller.hasStatusItem());
    ASSERT_FALSE(controller.isDocked()) << "the test session has no tray host";
    ASSERT_TRUE(controller.statusWindow()->isVisible());
    controller.statusWindow()->close();
    ASSERT_FALSE(controller.statusWindow()->isVisible());

    EXPECT_TRUE(ready.app->appDelegate().applicationShouldHandleReopen());
    EXPECT_TRUE(controller.statusWindow()->isVisible());
}

TEST(AppDelegate, FeedbackPromptResponses)
{
    AppHarness harness;
    harness.build();
    AppDelegate &delegate = harness.app->appDelegate();

    delegate.didReceiveNotificationResponse(QStringLiteral("glucose-alert-1"), DesktopNotifications::kDefaultAction);
    delegate.didReceiveNotificationResponse(FeedbackPromptController::kPromptIdentifier, QStringLiteral("dismiss"));
    EXPECT_EQ(harness.app->feedbackWindowController().showCount(), 0);
    EXPECT_FALSE(defaults::readDate(*harness.defaults, FeedbackPromptController::kDismissedKey).has_value());

    delegate.didReceiveNotificationResponse(FeedbackPromptController::kPromptIdentifier, DesktopNotifications::kDefaultAction);
    delegate.didReceiveNotificationResponse(FeedbackPromptController::kPromptIdentifier, FeedbackPromptController::kProvideAction);
    EXPECT_EQ(harness.app->feedbackWindowController().showCount(), 2);

    delegate.didReceiveNotificationResponse(FeedbackPromptController::kPromptIdentifier, FeedbackPromptController::kNeverShowAction);
    EXPECT_TRUE(defaults::readDate(*harness.defaults, FeedbackPromptController::kDismissedKey).has_value());
}

TEST(QuillbyApp, InsightsIsToldWhichReadingsComeOnAFixedCadence)
{
    AppHarness harness;
    harness.build();
    EXPECT_EQ(harness.app->insightsLauncher().services().fixedCadence, &readingIsOnFixedCadence);
}

TEST(QuillbyApp, MenuHooksOpenSettingsAndSnoozeAlerts)
{
    AppHarness harness;
    harness.build();
    StatusBarViewModel &viewModel = harness.app->statusBarViewModel();

    viewModel.settingsAction();
    ASSERT_NE(harness.app->settingsLauncher().navigation(), nullptr);
    EXPECT_EQ(harness.app->settingsLauncher().navigation()->selection(), SettingsTab::account);

    harness.app->insightsLauncher().manageHistoryAction()();
    EXPECT_EQ(harness.app->settingsLauncher().navigation()->selection(), SettingsTab::insights);

    const double before = now();
    viewModel.snoozeAlertsAction(1800);
    const auto until = harness.app->pollingCoordinator().alertsSnoozedUntil();
    ASSERT_TRUE(until.has_value());
    EXPECT_NEAR(*until - before, 1800, 5);
    viewModel.clearSnoozeAlertsAction();
    EXPECT_FALSE(harness.app->pollingCoordinator().alertsSnoozedUntil().has_value());
}

} // namespace
} // namespace quillby::test

namespace quillby::test {
namespace {

struct NotificationActionCase {
    const char *name;
    const char *identifier;
    const char *actionKey;
    int feedbackWindowShows;
    bool dismissalRecorded;
};

class NotificationAction : public ::testing::TestWithParam<NotificationActionCase> {};

// Actions chosen on our notifications in the desktop's notification service reach the
// delegate: the feedback prompt's open the feedback window or record the dismissal; those of
// glucose alerts do nothing here.
TEST_P(NotificationAction, ReachesTheDelegateFromTheNotificationService)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    const NotificationActionCase &c = GetParam();
    FakeNotificationServer server;
    ASSERT_TRUE(server.isRegistered());
    AppHarness harness;
    harness.notificationCenter = std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus(), server.service());
    harness.build();
    harness.launch();

    DesktopNotificationRequest request;
    request.identifier = QString::fromLatin1(c.identifier);
    request.title = QStringLiteral("Quillby");
    request.actions = {{FeedbackPromptController::kProvideAction, QStringLiteral("Give feedback")},
                       {FeedbackPromptController::kNeverShowAction, QStringLiteral("Never show this notification again")}};
    const quint32 id = runTask(harness.notificationCenter->notify(request));
    QSignalSpy invoked(harness.notificationCenter.get(), &DesktopNotifications::actionInvoked);
    server.emitActionInvoked(id, QString::fromLatin1(c.actionKey));
    ASSERT_TRUE(invoked.wait(scaledTimeoutMs(5000)));

    EXPECT_EQ(harness.app->feedbackWindowController().showCount(), c.feedbackWindowShows);
    EXPECT_EQ(defaults::readDate(*harness.defaults, FeedbackPromptController::kDismissedKey).has_value(),
              c.dismissalRecorded);
}

INSTANTIATE_TEST_SUITE_P(
    AppDelegate, NotificationAction,
    ::testing::Values(
        NotificationActionCase{"promptClicked", "quillby-feedback-prompt", "default", 1, false},
        NotificationActionCase{"promptGiveFeedback", "quillby-feedback-prompt", "quillby-feedback-provide", 1, false},
        NotificationActionCase{"promptNeverShow", "quillby-feedback-prompt", "quillby-feedback-never-show", 0, true},
        NotificationActionCase{"glucoseAlertClicked", "glucose-alert-1", "default", 0, false}),
    [](const auto &info) { return std::string(info.param.name); });

// A settings file that cannot be written is told to the person once, by a desktop notification;
// the program runs on.
TEST(AppDelegate, SettingsThatCannotBeSavedAreReportedOnce)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    FakeNotificationServer server;
    ASSERT_TRUE(server.isRegistered());
    AppHarness harness;
    QFile blocker(harness.directory.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    harness.defaults = std::make_shared<QSettings>(harness.directory.filePath(QStringLiteral("config/Quillby.conf")),
                                                   QSettings::IniFormat);
    harness.notificationCenter = std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus(), server.service());
    harness.buildOnboarded();
    harness.launch();

    harness.defaults->setValue(ConfigurationManager::kOnboardingCompletedKey, true);
    const auto reports = [&] {
        return std::count_if(server.notifications.begin(), server.notifications.end(), [](const auto &n) {
            return n.summary == QStringLiteral("Quillby cannot save its settings");
        });
    };
    ASSERT_TRUE(waitUntil([&] { return reports() == 1; }));
    const auto report = std::find_if(server.notifications.begin(), server.notifications.end(), [](const auto &n) {
        return n.summary == QStringLiteral("Quillby cannot save its settings");
    });
    EXPECT_TRUE(report->body.contains(harness.defaults->fileName())) << report->body.toStdString();

    harness.defaults->setValue(QStringLiteral("another"), 1);
    QCoreApplication::processEvents();
    harness.waitForAccountTask();
    EXPECT_EQ(reports(), 1);
}

// logind's PrepareForSleep(false) after launch reaches the poller as a wake: one more fetch.
TEST(AppDelegate, WakeFromLogindRefreshesOnce)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    StandInLogind logind;
    ASSERT_TRUE(logind.registered);
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(100, "Flat", now() - 30)});
    harness.sleepWakeMonitor = &logind.monitor;
    launchReady(harness);
    ASSERT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 1u);

    QDBusMessage wake = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                   QStringLiteral("org.freedesktop.login1.Manager"),
                                                   QStringLiteral("PrepareForSleep"));
    wake << false;
    logind.connection.send(wake);
    EXPECT_TRUE(waitUntil([&] { return harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath) >= 2; }));
    processQueuedEvents();
    EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 2u);
}

} // namespace
} // namespace quillby::test
