// The settings model's state and its automatic saving: revisions, the 0.35 s debounce (on
// virtual time), one save at a time, corrections, reloads, and pending edits written when the
// model goes or the application quits.

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

using test::GatedCoordinator;
using test::SettingsFixture;
using test::runTask;
using test::waitUntil;

TEST(SettingsViewModel, NewModelWithNothingStored)
{
    SettingsFixture f;
    auto model = f.makeModel();
    EXPECT_EQ(model->provider(), GlucoseProvider::dexcom);
    EXPECT_EQ(model->region(), "ous");
    EXPECT_EQ(model->username(), "");
    EXPECT_EQ(model->lowGlucoseThreshold(), 72);
    EXPECT_EQ(model->highGlucoseThreshold(), 270);
    EXPECT_EQ(model->graphTimeWindowHours(), 6);
    EXPECT_EQ(model->measurementUnit(), "mg/dL");   // by the locale (en_US)
    EXPECT_EQ(model->installedVersion(), "1.0.0 (1)");
    EXPECT_EQ(model->lastCheckedForUpdates(), "Never");
    EXPECT_FALSE(model->isConfigurationValid());
    EXPECT_TRUE(model->appSettingsNeedReload());
    EXPECT_EQ(model->statusMessage(), "");

    // Opening the window loads and applies the stored configuration.
    runTask(model->loadConfiguration());
    EXPECT_TRUE(model->hasLoadedInitialConfiguration());
    EXPECT_FALSE(model->appSettingsNeedReload());
    EXPECT_EQ(model->measurementUnit(), "mg/dL");
}

TEST(SettingsViewModel, StatusLineFollowsTheCategory)
{
    SettingsFixture f;
    auto model = f.makeModel();
    struct Case {
        StatusMessageCategory category;
        std::string line;
    };
    const Case cases[] = {
        {StatusMessageCategory::signInError("Password is required"), "Sign in failed: Password is required"},
        {StatusMessageCategory::reconnectError("Invalid region"), "Could not reconnect: Invalid region"},
        {StatusMessageCategory::saveError("Keyring error: 5"), "Failed to save settings: Keyring error: 5"},
        // A cause that already says what failed does not say it a second time.
        {StatusMessageCategory::signInError("Authentication failed: Password is required"),
         "Sign in failed: Password is required"},
        {StatusMessageCategory::signInError("Login failed: Unable to start a Dexcom session."),
         "Sign in failed: Unable to start a Dexcom session."},
        {StatusMessageCategory::reconnectError("Authentication failed: Please check your credentials."),
         "Could not reconnect: Please check your credentials."},
        {StatusMessageCategory::signInError("Sign in failed: twice"), "Sign in failed: twice"},
        // A sentence that merely contains the words keeps them.
        {StatusMessageCategory::signInError("The server said: upload failed: 3"),
         "Sign in failed: The server said: upload failed: 3"},
        {StatusMessageCategory::signOutError("Could not sign out. Please try again."),
         "Could not sign out. Please try again."},
        {StatusMessageCategory::loginItemError("<b>denied</b>"), "<b>denied</b>"},   // handed on unchanged
        {StatusMessageCategory::none(), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        model->setStatusCategory(c.category);
        EXPECT_EQ(model->statusMessage(), c.line);
    }
}

TEST(SettingsViewModel, EditsWithinTheDebounceAreWrittenOnceWithAllChanges)
{
    SettingsFixture f;
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);

    model->setAlertOnRapidRise(false);
    model->recordAppSettingsEdit();
    f.sleeper->runFor(0.2);
    model->setSnoozeHighAlerts(false);
    model->recordAppSettingsEdit();
    f.sleeper->runFor(0.2);
    model->setGraphTimeWindowHours(12);
    model->recordAppSettingsEdit();
    EXPECT_EQ(gated->saves, 0);

    f.elapseDebounce(*model);
    ASSERT_EQ(gated->saves, 1);
    const AppSettings stored = f.stored()->app;
    EXPECT_FALSE(stored.alertOnRapidRise);
    EXPECT_FALSE(stored.snoozeHighAlerts);
    EXPECT_EQ(stored.graphTimeWindowHours, 12);
    EXPECT_EQ(model->savedAppSettingsRevision(), 3);
    EXPECT_EQ(f.appSettingsPosts, 1);
}

TEST(SettingsViewModel, EditDuringAWriteIsWrittenBeforeTheSaveReturns)
{
    SettingsFixture f;
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);

    model->setAlertOnRapidFall(false);
    model->setAppSettingsRevision(model->appSettingsRevision() + 1);
    gated->saveGate.close();
    std::optional<bool> result;
    auto save = [](SettingsViewModel *m, std::optional<bool> *out) -> QCoro::Task<void> {
        *out = co_await m->saveAppSettings();
    }(model.get(), &result);
    ASSERT_TRUE(waitUntil([&] { return gated->saveGate.waiting == 1; }));

    // A second caller joins the same save; an edit lands while the first write is held.
    std::optional<bool> joined;
    auto join = [](SettingsViewModel *m, std::optional<bool> *out) -> QCoro::Task<void> {
        *out = co_await m->saveAppSettings();
    }(model.get(), &joined);
    model->setAlertOnRapidRise(false);
    model->setAppSettingsRevision(model->appSettingsRevision() + 1);
    gated->saveGate.open();

    ASSERT_TRUE(waitUntil([&] { return result.has_value() && joined.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_TRUE(*joined);
    EXPECT_EQ(gated->saves, 2);
    EXPECT_FALSE(f.stored()->app.alertOnRapidFall);
    EXPECT_FALSE(f.stored()->app.alertOnRapidRise);
}

TEST(SettingsViewModel, RecordCorrectsTheModelFields)
{
    struct Case {
        const char *name;
        std::function<void(SettingsViewModel &)> edit;
        std::function<void(const AppSettings &, const SettingsViewModel &)> check;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"graph window of 2 hours becomes 6", [](auto &m) { m.setGraphTimeWindowHours(2); },
         [](const AppSettings &s, const SettingsViewModel &m) {
             EXPECT_EQ(s.graphTimeWindowHours, 6);
             EXPECT_EQ(m.graphTimeWindowHours(), 6);
         }},
        {"repeat of 10 minutes becomes 0", [](auto &m) { m.setLowAlertRepeatMinutes(10); },
         [](const AppSettings &s, const SettingsViewModel &) { EXPECT_EQ(s.lowAlertRepeatMinutes, 0); }},
        {"unknown unit becomes mmol/L", [](auto &m) { m.setMeasurementUnit("mmol"); },
         [](const AppSettings &s, const SettingsViewModel &m) {
             EXPECT_EQ(s.measurementUnit, "mmol/L");
             EXPECT_EQ(m.measurementUnit(), "mmol/L");
         }},
        {"thresholds clamp into the grids",
         [](auto &m) {
             m.setLowGlucoseThreshold(64.4);
             m.setHighGlucoseThreshold(361);
         },
         [](const AppSettings &s, const SettingsViewModel &) {
             EXPECT_EQ(s.lowGlucoseThreshold, 65);
             EXPECT_EQ(s.highGlucoseThreshold, 360);
         }},
        {"halves round away from zero", [](auto &m) { m.setLowGlucoseThreshold(70.5); },
         [](const AppSettings &s, const SettingsViewModel &) { EXPECT_EQ(s.lowGlucoseThreshold, 71); }},
        // Finiteness before clamping: NaN would pass a clamp, +inf would become the maximum.
        {"high not a number keeps the last valid", [nan](auto &m) { m.setHighGlucoseThreshold(nan); },
         [](const AppSettings &s, const SettingsViewModel &) { EXPECT_EQ(s.highGlucoseThreshold, 270); }},
        {"low +inf keeps the last valid",
         [inf](auto &m) {
             m.setLowGlucoseThreshold(80);
             m.normalizeThresholds();
             m.setLowGlucoseThreshold(inf);
         },
         [](const AppSettings &s, const SettingsViewModel &m) {
             EXPECT_EQ(s.lowGlucoseThreshold, 80);
             EXPECT_EQ(m.lowGlucoseThreshold(), 80);
         }},
        {"high -inf keeps the last valid", [inf](auto &m) { m.setHighGlucoseThreshold(-inf); },
         [](const AppSettings &s, const SettingsViewModel &) { EXPECT_EQ(s.highGlucoseThreshold, 270); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        auto model = f.makeLoadedModel();
        c.edit(*model);
        const AppSettings record = model->makeAppSettings();
        c.check(record, *model);
        // The record is also what reaches the keyring.
        model->recordAppSettingsEdit();
        f.elapseDebounce(*model);
        EXPECT_EQ(f.stored()->app, record);
    }
}

TEST(SettingsViewModel, SaveErrorStaysUntilALaterSaveSucceeds)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    f.keychain->failNextWrite(keychain_status::authFailed);
    model->setAlertOnHighThreshold(false);
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    EXPECT_EQ(model->statusMessage(),
              std::string("Failed to save settings: ") + ConfigurationError::keychainError(keychain_status::authFailed).what());
    EXPECT_NE(model->appSettingsRevision(), model->savedAppSettingsRevision());

    // Not retried by itself (an account operation ending resumes nothing while it shows).
    model->resumePendingAppSettingsSave();
    EXPECT_EQ(f.sleeper->pendingCount(), 0u);
    EXPECT_TRUE(f.stored() == std::nullopt || f.stored()->app.alertOnHighThreshold);

    model->setAlertOnLowThreshold(false);
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_FALSE(f.stored()->app.alertOnHighThreshold);
    EXPECT_FALSE(f.stored()->app.alertOnLowThreshold);
}

TEST(SettingsViewModel, ConfigurationThatFailedToLoadIsReloadedBeforeTheFirstSave)
{
    // The keyring could not be read when the window opened: the first save reloads first.
    SettingsFixture f;
    AppSettings app = AppSettings::defaults();
    app.lowGlucoseThreshold = 80;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount(), app));
    f.keychain->failNextRead(keychain_status::locked);
    auto model = f.makeLoadedModel();
    ASSERT_TRUE(f.manager->configurationLoadFailed());
    EXPECT_TRUE(model->appSettingsNeedReload());

    // The reload fails too: nothing is written.
    model->setAlertOnRapidFall(false);
    model->recordAppSettingsEdit();
    f.keychain->failNextRead(keychain_status::locked);
    f.elapseDebounce(*model);
    EXPECT_EQ(model->statusMessage(),
              "Failed to save settings: Your saved settings could not be loaded. Reopen Settings and try again.");
    EXPECT_EQ(f.stored()->app, app);

    // The reload succeeds while edits are pending: they are given up and the stored values shown.
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    EXPECT_EQ(model->statusMessage(),
              "Failed to save settings: Your saved settings have been reloaded. Please reapply your changes.");
    EXPECT_TRUE(model->alertOnRapidFall());
    EXPECT_EQ(model->lowGlucoseThreshold(), 80);
    EXPECT_EQ(f.stored()->app, app);
    EXPECT_FALSE(model->appSettingsNeedReload());

    // From now on edits are written.
    model->setAlertOnRapidFall(false);
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    EXPECT_FALSE(f.stored()->app.alertOnRapidFall);
    EXPECT_EQ(model->statusMessage(), "");
}

TEST(SettingsViewModel, SettlingWithNothingPendingWritesNothing)
{
    SettingsFixture f;
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    EXPECT_TRUE(runTask(model->settlePendingAppSettings()));
    EXPECT_EQ(gated->saves, 0);
}

TEST(SettingsViewModel, EditFollowedAtOnceByClosingTheModelIsStored)
{
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    auto model = f.makeLoadedModel();
    model->setSnoozeLowAlerts(false);
    model->recordAppSettingsEdit();
    model.reset();   // the window closes within the debounce

    // Written and announced like any save.
    ASSERT_TRUE(waitUntil([&] { return f.appSettingsPosts == 1; }));
    EXPECT_FALSE(f.stored()->app.snoozeLowAlerts);
    EXPECT_EQ(f.stored()->account, SettingsFixture::dexcomAccount());
}

TEST(SettingsViewModel, ClosingDuringAWriteStoresTheLastEditAfterIt)
{
    SettingsFixture f;
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    gated->saveGate.close();
    model->setQuietHoursEnabled(true);
    model->recordAppSettingsEdit();
    test::VirtualTimeSleeper::drain();
    f.sleeper->runNext();
    ASSERT_TRUE(waitUntil([&] { return gated->saveGate.waiting == 1; }));
    model->setAllowLowAlertsDuringQuietHours(true);
    model->recordAppSettingsEdit();
    model.reset();
    gated->saveGate.open();

    ASSERT_TRUE(waitUntil([&] { return gated->saves == 2 && f.appSettingsPosts == 2; }));
    EXPECT_TRUE(f.stored()->app.quietHoursEnabled);
    EXPECT_TRUE(f.stored()->app.allowLowAlertsDuringQuietHours);
}

TEST(SettingsViewModel, ClosingWithNothingLoadedWritesNothing)
{
    // Edits made against first-run values of a configuration that never loaded must not
    // overwrite what the keyring holds.
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    f.keychain->failNextRead(keychain_status::locked);
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    model->setSnoozeLowAlerts(false);
    model->recordAppSettingsEdit();
    model.reset();
    SettingsFixture::settle();
    EXPECT_EQ(gated->saves, 0);
    EXPECT_TRUE(f.stored()->app.snoozeLowAlerts);
}

TEST(SettingsViewModel, QuitWritesPendingEditsBeforeTheLoopEnds)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    model->setLowAlertRepeatMinutes(15);
    model->recordAppSettingsEdit();
    model->flushPendingAppSettings();   // returns once written
    ASSERT_TRUE(f.stored());
    EXPECT_EQ(f.stored()->app.lowAlertRepeatMinutes, 15);
    EXPECT_EQ(model->savedAppSettingsRevision(), model->appSettingsRevision());
    test::VirtualTimeSleeper::drain();
    EXPECT_EQ(f.sleeper->pendingCount(), 0u);   // the debounce was cancelled
}

} // namespace
} // namespace quillby
