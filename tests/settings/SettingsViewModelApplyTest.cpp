// Applying the stored configuration, the unit change, launch at login, the update texts, the
// alert switch, the test alert and quiet hours.

#include "SettingsTestSupport.h"

#include "core/DateText.h"
#include "platform/DesktopNotifications.h"
#include "polling/UserNotificationGlucoseAlertDelivery.h"

#include "FakeNotificationServer.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using test::GatedCoordinator;
using test::SettingsFixture;
using test::runTask;
using test::waitUntil;

AppSettings settingsWith(double low, double high, std::optional<int> graph = 6)
{
    AppSettings app = AppSettings::defaults();
    app.measurementUnit = "mg/dL";
    app.lowGlucoseThreshold = low;
    app.highGlucoseThreshold = high;
    app.graphTimeWindowHours = graph;
    return app;
}

TEST(SettingsViewModelApply, StoredThresholdsAndGraphWindow)
{
    struct Case {
        const char *name;
        AppSettings app;
        double low;
        double high;
        int graph;
    };
    const Case cases[] = {
        {"both 40 or less are mmol/L", settingsWith(4, 10), 72, 180, 6},
        {"one above 40: taken as mg/dL, then clamped", settingsWith(40, 41), 65, 108, 6},
        {"no graph window shows 6 hours", settingsWith(80, 200, std::nullopt), 80, 200, 6},
        {"graph window kept", settingsWith(80, 200, 24), 80, 200, 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        auto model = f.makeModel();
        model->apply(SettingsFixture::configuration(SettingsFixture::dexcomAccount(), c.app));
        EXPECT_EQ(model->lowGlucoseThreshold(), c.low);
        EXPECT_EQ(model->highGlucoseThreshold(), c.high);
        EXPECT_EQ(model->graphTimeWindowHours(), c.graph);
        EXPECT_EQ(model->appSettingsRevision(), 0);   // applying is no edit
    }
}

TEST(SettingsViewModelApply, UnsavedEditsAndRunningSignInsAreSpared)
{
    SettingsFixture f;
    f.acceptTerms();
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount(), settingsWith(80, 200)));
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);

    // Unsaved edit: another window stores another account and other settings.
    model->setLowGlucoseThreshold(85);
    model->setAppSettingsRevision(model->appSettingsRevision() + 1);
    GlucoseAccountConfiguration grace{GlucoseProvider::dexcom, "grace", "pw", "ous", std::nullopt, std::nullopt};
    model->apply(SettingsFixture::configuration(grace, settingsWith(70, 250)));
    EXPECT_EQ(model->username(), "grace");
    EXPECT_EQ(model->lowGlucoseThreshold(), 85);
    EXPECT_EQ(model->highGlucoseThreshold(), 200);

    // During a sign-in the account fields stay as typed.
    model->setAppSettingsRevision(0);
    model->signOut();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
    model->setUsername("ada");
    model->setPassword("secret");
    model->setRegion("us");
    gated->signInGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
    model->apply(SettingsFixture::configuration(grace, settingsWith(70, 250)));
    EXPECT_EQ(model->username(), "ada");
    EXPECT_EQ(model->password(), "secret");
    gated->signInGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
}

TEST(SettingsViewModelApply, RepublishedAccountDoesNotResetWhatIsBeingTyped)
{
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    auto model = f.makeLoadedModel();
    ASSERT_EQ(model->password(), "secret");

    // The user starts typing a new password; an app-settings save republishes the same account.
    model->setPassword("new-pass");
    model->setAlertOnRapidRise(false);
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    ASSERT_FALSE(f.stored()->app.alertOnRapidRise);
    EXPECT_EQ(model->password(), "new-pass");

    // A different stored account is still copied in.
    GlucoseAccountConfiguration grace{GlucoseProvider::dexcom, "grace", "pw", "ous", std::nullopt, std::nullopt};
    f.storeConfiguration(SettingsFixture::configuration(grace));
    model->apply(SettingsFixture::configuration(grace));
    EXPECT_EQ(model->username(), "grace");
    EXPECT_EQ(model->password(), "pw");
}

TEST(SettingsViewModelApply, FirstApplyCopiesAnIncompleteAccount)
{
    SettingsFixture f;
    auto model = f.makeModel();
    model->apply(SettingsFixture::configuration({GlucoseProvider::libreLinkUp, "ada@example.com", "", "de",
                                                 std::nullopt, std::nullopt}));
    EXPECT_EQ(model->provider(), GlucoseProvider::libreLinkUp);
    EXPECT_EQ(model->username(), "ada@example.com");
    EXPECT_EQ(model->region(), "de");
    EXPECT_FALSE(model->isConfigurationValid());
}

TEST(SettingsViewModelApply, UnitChangeMovesThresholdsOntoTheNewGrid)
{
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount(), settingsWith(75, 181)));
    auto model = f.makeLoadedModel();
    ASSERT_EQ(model->measurementUnit(), "mg/dL");

    model->setMeasurementUnit("mmol/L");
    model->measurementUnitDidChange();
    EXPECT_EQ(model->lowGlucoseThreshold(), 74);    // 4.1 and 4.2 stand for 74 and 76: the first
    EXPECT_EQ(model->highGlucoseThreshold(), 180);  // 10.0 and 10.1 stand for 180 and 182: the first
    EXPECT_EQ(model->appSettingsRevision(), 1);
    f.elapseDebounce(*model);
    EXPECT_EQ(f.stored()->app.measurementUnit, "mmol/L");
    EXPECT_EQ(f.stored()->app.lowGlucoseThreshold, 74);

    // The same unit again moves nothing but still counts and saves.
    model->measurementUnitDidChange();
    EXPECT_EQ(model->lowGlucoseThreshold(), 74);
    EXPECT_EQ(model->appSettingsRevision(), 2);
    EXPECT_EQ(f.sleeper->pendingCount(), 1u);
}

TEST(SettingsViewModelLaunchAtLogin, ToggleIsCarriedOutAndStored)
{
    SettingsFixture f;
    f.loginItems->state = LoginItemStatus::enabled;   // the system says on
    auto model = f.makeModel();
    ASSERT_TRUE(waitUntil([&] { return model->startAtLogin(); }));   // read at construction
    runTask(model->loadConfiguration());
    // The stored setting says off, then the system's state is read again.
    ASSERT_TRUE(waitUntil([&] { return model->startAtLogin() && model->lastKnownStartAtLogin(); }));

    f.loginItems->state = LoginItemStatus::notRegistered;
    model->setStartAtLogin(true);
    ASSERT_TRUE(waitUntil([&] { return f.stored().has_value() && f.stored()->app.startAtLogin && !model->isSaving(); }));
    EXPECT_EQ(f.loginItems->changes, 1);
    EXPECT_EQ(model->statusMessage(), "");

    model->setStartAtLogin(false);
    ASSERT_TRUE(waitUntil([&] { return !f.stored()->app.startAtLogin; }));
    EXPECT_EQ(f.loginItems->state, LoginItemStatus::notRegistered);
}

TEST(SettingsViewModelLaunchAtLogin, FailureSpringsBackAndShowsTheMessageAlone)
{
    struct Case {
        const char *name;
        std::optional<std::string> failure;
        std::string statusLine;
    };
    const Case cases[] = {
        {"the change fails", std::string("Permission denied"), "Failed to update launch at login: Permission denied"},
        {"the system does not follow", std::nullopt,
         "Allow Quillby in your desktop\u2019s startup applications settings."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        auto model = f.makeLoadedModel();
        f.loginItems->failure = c.failure;
        f.loginItems->ignoresRequests = true;
        model->setStartAtLogin(true);
        ASSERT_TRUE(waitUntil([&] { return !model->statusMessage().empty(); }));
        EXPECT_EQ(model->statusMessage(), c.statusLine);
        EXPECT_FALSE(model->startAtLogin());
        EXPECT_FALSE(f.stored().has_value() && f.stored()->app.startAtLogin);

        // The next successful change clears the line.
        f.loginItems->failure.reset();
        f.loginItems->ignoresRequests = false;
        model->setStartAtLogin(true);
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage().empty(); }));
        ASSERT_TRUE(waitUntil([&] { return f.stored() && f.stored()->app.startAtLogin && !model->isSaving(); }));
    }
}

// Calls to the system run one at a time, in order; the gate holds them so the toggle can be moved
// while earlier ones are still waiting.
TEST(SettingsViewModelLaunchAtLogin, ToggleShowsWhatTheSystemKeepsAfterOverlappingCalls)
{
    {
        SCOPED_TRACE("a status read queued before a change does not undo it");
        SettingsFixture f;
        auto model = f.makeLoadedModel();
        std::unique_lock held(f.loginItems->gate);
        model->refreshStartAtLogin();   // reads "off", but only after the change below is asked
        model->setStartAtLogin(true);
        held.unlock();
        ASSERT_TRUE(waitUntil([&] { return f.stored() && f.stored()->app.startAtLogin && !model->isSaving(); }));
        QCoreApplication::processEvents();
        EXPECT_TRUE(model->startAtLogin());
        EXPECT_TRUE(model->lastKnownStartAtLogin());
    }
    {
        SCOPED_TRACE("on, then off that fails: the toggle shows the on the system kept");
        SettingsFixture f;
        auto model = f.makeLoadedModel();
        f.loginItems->failingChange = 2;
        std::unique_lock held(f.loginItems->gate);
        model->setStartAtLogin(true);
        model->setStartAtLogin(false);
        held.unlock();
        ASSERT_TRUE(waitUntil([&] { return !model->statusMessage().empty() && !model->isSaving(); }));
        EXPECT_EQ(f.loginItems->state, LoginItemStatus::enabled);
        EXPECT_TRUE(model->startAtLogin());
        EXPECT_TRUE(model->lastKnownStartAtLogin());
        ASSERT_TRUE(waitUntil([&] { return f.stored() && f.stored()->app.startAtLogin; }));
    }
}

TEST(SettingsViewModelUpdates, ToggleShowsWhatTheUpdaterKeeps)
{
    SettingsFixture f;
    f.updates->automaticDownloads = true;
    auto model = f.makeModel();
    EXPECT_TRUE(model->automaticallyInstallUpdates());

    model->setAutomaticallyInstallUpdates(false);
    EXPECT_FALSE(model->automaticallyInstallUpdates());
    EXPECT_EQ(f.updates->republished, 1);

    f.updates->refusesAutomaticDownloads = true;
    model->setAutomaticallyInstallUpdates(true);
    EXPECT_FALSE(model->automaticallyInstallUpdates());   // read back

    EXPECT_EQ(model->lastCheckedForUpdates(), "Never");
    f.updates->lastCheck = 1'765'000'000.0;
    f.updates->version = QStringLiteral("1.2.0 (7)");
    model->refreshUpdateStatus();
    EXPECT_NE(model->lastCheckedForUpdates(), "Never");
    EXPECT_NE(model->lastCheckedForUpdates().find("2025"), std::string::npos) << model->lastCheckedForUpdates();
    // In the form the tray writes its dates in: the computer's locale and time zone.
    EXPECT_EQ(model->lastCheckedForUpdates(),
              mediumDateShortTime(QDateTime::fromSecsSinceEpoch(1'765'000'000, QTimeZone::systemTimeZone()),
                                  QLocale::system())
                  .toStdString());
    EXPECT_EQ(model->installedVersion(), "1.2.0 (7)");
}

TEST(SettingsViewModelAlerts, SwitchAndPermission)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    f.alerts->state = GlucoseAlertAuthorizationState::denied;
    runTask(model->refreshNotificationPermission());
    EXPECT_TRUE(model->notificationPermissionDenied());
    f.alerts->grantsAuthorization = false;
    runTask(model->sendTestAlert());
    EXPECT_EQ(model->testAlertStatusMessage(), "Notifications are disabled.");
    EXPECT_TRUE(f.alerts->sent.empty());

    // Off clears the notice and the test line even while the system refuses.
    model->setAlertsEnabled(false);
    model->alertsEnabledDidChange();
    EXPECT_FALSE(model->notificationPermissionDenied());
    EXPECT_EQ(model->testAlertStatusMessage(), "");
    EXPECT_EQ(model->appSettingsRevision(), 1);

    // On asks (once) and shows the answer.
    const int requests = f.alerts->authorizationRequests;
    model->setAlertsEnabled(true);
    model->alertsEnabledDidChange();
    ASSERT_TRUE(waitUntil([&] { return model->notificationPermissionDenied(); }));
    EXPECT_EQ(f.alerts->authorizationRequests, requests + 1);
    EXPECT_EQ(model->appSettingsRevision(), 2);
    f.elapseDebounce(*model);
    EXPECT_TRUE(f.stored()->app.alertsEnabled);
}

TEST(SettingsViewModelAlerts, TestAlertOutcomes)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    auto first = model->sendTestAlert();
    auto second = model->sendTestAlert();   // pressed twice quickly
    EXPECT_TRUE(model->isSendingTestAlert());
    runTask(std::move(first));
    runTask(std::move(second));
    ASSERT_EQ(f.alerts->sent.size(), 1u);
    EXPECT_EQ(f.alerts->sent[0].title, "Quillby test alert");
    EXPECT_EQ(f.alerts->sent[0].body, "Notifications are configured correctly.");
    EXPECT_EQ(model->testAlertStatusMessage(), "Test alert sent.");
    EXPECT_FALSE(model->isSendingTestAlert());

    f.alerts->failSending = true;
    runTask(model->sendTestAlert());
    EXPECT_EQ(model->testAlertStatusMessage(), "Test alert could not be sent.");
    EXPECT_EQ(model->appSettingsRevision(), 0);   // no setting changes
}

TEST(SettingsViewModelAlerts, TestAlertGoesThroughTheDesktopNotificationService)
{
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus (scripts/with-session.sh)";
    }
    test::FakeNotificationServer server;
    ASSERT_TRUE(server.isRegistered());
    SettingsFixture f;
    f.alerts.reset();
    auto notifications = std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus(), server.service());
    SettingsViewModel::Options options;
    options.sleeper = f.sleeper;
    options.clock = f.clock;
    options.flushOnQuit = false;
    SettingsViewModel model(*f.manager, f.makeCoordinator(), f.updates,
                            std::make_shared<LoginItemSettingsService>(f.loginItems),
                            std::make_shared<UserNotificationGlucoseAlertDelivery>(notifications), options);
    runTask(model.sendTestAlert());
    EXPECT_EQ(model.testAlertStatusMessage(), "Test alert sent.");
    ASSERT_EQ(server.notifications.size(), 1u);
    EXPECT_EQ(server.notifications[0].summary, QStringLiteral("Quillby test alert"));
    EXPECT_EQ(server.notifications[0].body, QStringLiteral("Notifications are configured correctly."));

    server.stop();   // no notification service any more
    runTask(model.sendTestAlert());
    EXPECT_NE(model.testAlertStatusMessage(), "Test alert sent.");
}

TEST(SettingsViewModelAlerts, QuietHoursAsClockTimes)
{
    SettingsFixture f;
    // 2026-03-29 12:00 in Berlin: clocks went from 02:00 to 03:00 that night.
    f.clock->setNow(1774778400.0);
    auto model = f.makeLoadedModel();
    struct Case {
        int minutes;
        int shownAs;
    };
    const Case cases[] = {{1440, 1439}, {5000, 1439}, {-5, 0}, {0, 0}, {1350, 1350}, {150, 180}, {420, 420}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.minutes);
        EXPECT_EQ(model->minutesOfDay(model->date(c.minutes)), c.shownAs);
    }

    // Choosing 22:30 stores 1350; choosing the stored time again still counts and saves.
    const Date half = model->date(1350);
    model->setQuietHoursStartDate(half);
    EXPECT_EQ(model->quietHoursStartMinutes(), 1350);
    EXPECT_EQ(model->appSettingsRevision(), 1);
    model->setQuietHoursStartDate(half);
    EXPECT_EQ(model->appSettingsRevision(), 2);
    model->setQuietHoursEndDate(model->date(390));
    EXPECT_EQ(model->quietHoursEndMinutes(), 390);
    f.elapseDebounce(*model);
    EXPECT_EQ(f.stored()->app.quietHoursStartMinutes, 1350);
    EXPECT_EQ(f.stored()->app.quietHoursEndMinutes, 390);
}

TEST(SettingsViewModelAccountFields, ProviderSwitchAndRepeatedValues)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    model->setUsername("ada");
    model->setPassword("secret");
    model->setLibreConnections({{"p-1", "Ada"}});
    model->setSelectedPatientID("p-1");
    model->setPatientName(std::string("Ada"));
    model->setStatusCategory(StatusMessageCategory::signInError("x"));

    QUuid attempt = model->authenticationAttempt();
    model->setProvider(GlucoseProvider::libreLinkUp);
    EXPECT_NE(model->authenticationAttempt(), attempt);
    EXPECT_EQ(model->username(), "");
    EXPECT_EQ(model->password(), "");
    EXPECT_EQ(model->region(), "auto");
    EXPECT_TRUE(model->libreConnections().empty());
    EXPECT_EQ(model->selectedPatientID(), "");
    EXPECT_EQ(model->patientName(), std::nullopt);
    EXPECT_EQ(model->statusMessage(), "");

    model->setProvider(GlucoseProvider::dexcom);
    EXPECT_EQ(model->region(), "ous");

    model->setUsername("ada");
    attempt = model->authenticationAttempt();
    int changes = 0;
    QObject::connect(model.get(), &SettingsViewModel::usernameChanged, [&] { ++changes; });
    model->setProvider(GlucoseProvider::dexcom);
    model->setUsername("ada");
    model->setPassword("");
    model->setRegion("ous");
    EXPECT_EQ(model->authenticationAttempt(), attempt);
    EXPECT_EQ(changes, 0);
}

} // namespace
} // namespace quillby
