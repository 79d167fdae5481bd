#include "MenubarTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quillby;
using namespace quillby::test;

namespace {

class StatusBarViewModelTest : public ::testing::Test {
protected:
    // Builds the view model; `onboarded` publishes a completed onboarding first.
    StatusBarViewModel &makeModel(bool onboarded = true)
    {
        config.manager.setHasCompletedOnboarding(onboarded);
        model = std::make_unique<StatusBarViewModel>(
            config.manager, updates, config.clock, sleeper, [this](StatusBarViewModel &) {
                auto made = std::make_unique<RecordingStatusItem>();
                item = made.get();
                return made;
            });
        drainEvents();
        return *model;
    }
    Date now() const { return config.clock->now(); }

    ConfigurationFixture config;
    FakeUpdateAvailability updates;
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*config.clock);
    std::unique_ptr<StatusBarViewModel> model;
    RecordingStatusItem *item = nullptr;
};

} // namespace

TEST_F(StatusBarViewModelTest, StartsWaitingAndSetsUpTheItemOnlyAfterOnboarding)
{
    StatusBarViewModel &vm = makeModel(false);
    EXPECT_EQ(vm.statusTitle(), "");
    EXPECT_EQ(vm.iconState(), StatusBarIconState::waiting);
    EXPECT_EQ(vm.activity(), StatusBarActivity::loading);
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::none);
    EXPECT_FALSE(vm.hasWarning());
    EXPECT_TRUE(item == nullptr || item->setUpCount == 0);

    model.reset();
    makeModel(true);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->setUpCount, 1);
}

TEST_F(StatusBarViewModelTest, FreshReadingShowsValueArrowAndColourStyle)
{
    StatusBarViewModel &vm = makeModel();
    vm.present(reading(99, "Flat", now() - 60), now());
    EXPECT_EQ(vm.statusTitle(), "5.5 →");
    EXPECT_FALSE(vm.iconState());
    EXPECT_EQ(vm.titleStyle(), StatusStyle::normal);
    EXPECT_FALSE(vm.freshnessWarning());
    EXPECT_EQ(item->titles.back(), "5.5 →");

    // Without a loaded configuration the thresholds are 72 and 270 mg/dL.
    vm.present(reading(300, "DoubleDown", now()), now());
    EXPECT_EQ(vm.titleStyle(), StatusStyle::low);
    vm.present(reading(270, "Flat", now()), now());
    EXPECT_EQ(vm.titleStyle(), StatusStyle::high);
    EXPECT_EQ(vm.titleColor(), QColor(255, 149, 0));

    AppSettings settings = AppSettings::defaults();
    settings.highGlucoseThreshold = 180;
    settings.lowGlucoseThreshold = 80;
    settings.measurementUnit = "mg/dL";
    config.storeSettings(settings);
    vm.present(reading(180, "Flat", now()), now());
    EXPECT_EQ(vm.statusTitle(), "180 →");
    EXPECT_EQ(vm.titleStyle(), StatusStyle::high);
    vm.present(reading(80, "DoubleUp", now()), now());
    EXPECT_EQ(vm.titleStyle(), StatusStyle::low);
    EXPECT_EQ(vm.titleColor(), QColor(255, 59, 48));
}

TEST_F(StatusBarViewModelTest, StaleAndUnavailableReadingsWarn)
{
    StatusBarViewModel &vm = makeModel();
    vm.present(reading(99, "DoubleDown", now() - 900), now());
    EXPECT_EQ(vm.statusTitle(), "5.5 ?");
    EXPECT_EQ(vm.titleStyle(), StatusStyle::normal);   // no colour once the value is stale
    ASSERT_TRUE(vm.freshnessWarning());
    EXPECT_EQ(vm.freshnessWarning()->message, "Last glucose reading was 15 minutes ago.");
    EXPECT_TRUE(vm.hasWarning());
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::warning);
    ASSERT_FALSE(sleeper->requests.empty());
    EXPECT_DOUBLE_EQ(sleeper->requests.back(), 2700);

    const size_t timers = sleeper->requests.size();
    vm.present(reading(99, "Flat", now() - 3600), now());
    EXPECT_EQ(vm.statusTitle(), "-- ?");
    EXPECT_EQ(vm.freshnessWarning()->message, "Last glucose reading was 1 hour ago.");
    EXPECT_EQ(sleeper->requests.size(), timers);   // no further check once unavailable
    EXPECT_FALSE(vm.isFreshnessCheckScheduled());
}

TEST_F(StatusBarViewModelTest, FreshnessTimerTurnsTheTitleStaleThenUnavailable)
{
    StatusBarViewModel &vm = makeModel();
    // A reading from the future is fresh; its check fires 900 s after its date.
    vm.present(reading(99, "Flat", now() + 100), now());
    ASSERT_EQ(sleeper->requests.size(), 1u);
    EXPECT_DOUBLE_EQ(sleeper->requests[0], 1000);

    ASSERT_TRUE(sleeper->runNext());   // 1000 s later
    ASSERT_TRUE(waitUntil([&] { return sleeper->requests.size() == 2u; }));
    EXPECT_EQ(vm.statusTitle(), "5.5 ?");
    EXPECT_DOUBLE_EQ(sleeper->requests[1], 2700);

    ASSERT_TRUE(sleeper->runNext());   // 2700 s later
    ASSERT_TRUE(waitUntil([&] { return vm.statusTitle() == "-- ?"; }));
    EXPECT_EQ(sleeper->requests.size(), 2u);
}

TEST_F(StatusBarViewModelTest, ReadingWithoutUsableDateGetsNoTimer)
{
    StatusBarViewModel &vm = makeModel();
    vm.present(reading(99, "Flat", std::numeric_limits<double>::quiet_NaN()), now());
    EXPECT_FALSE(vm.isFreshnessCheckScheduled());
    EXPECT_TRUE(sleeper->requests.empty());
}

TEST_F(StatusBarViewModelTest, NewerPresentationOrEmptyGraphCancelsTheOldCheck)
{
    StatusBarViewModel &vm = makeModel();
    vm.present(reading(99, "Flat", now()), now());
    vm.present(reading(126, "Flat", now()), now());
    ASSERT_EQ(sleeper->requests.size(), 2u);
    EXPECT_TRUE(sleeper->requestStops[0].stop_requested());
    EXPECT_FALSE(sleeper->requestStops[1].stop_requested());

    // An emptied graph keeps the last title but drops the warning and the timer.
    config.clock->advance(1000);
    vm.present(reading(126, "Flat", now() - 1000), now());
    ASSERT_TRUE(vm.freshnessWarning());
    vm.updateGlucoseHistory({});
    EXPECT_EQ(vm.statusTitle(), "7.0 ?");
    EXPECT_FALSE(vm.freshnessWarning());
    EXPECT_FALSE(vm.hasWarning());
    EXPECT_FALSE(vm.presentedReading());
    EXPECT_TRUE(sleeper->requestStops.back().stop_requested());

    // A check that wakes after it was replaced changes nothing.
    drainEvents();
    EXPECT_EQ(vm.statusTitle(), "7.0 ?");
}

TEST_F(StatusBarViewModelTest, ErrorsAndActivity)
{
    StatusBarViewModel &vm = makeModel();
    vm.setNextRetryAt(now() + 60);
    vm.setActivity(StatusBarActivity::refreshing, now());
    EXPECT_EQ(vm.iconState(), StatusBarIconState::waiting);
    EXPECT_FALSE(vm.nextRetryAt());   // clearing the error clears the retry time

    const ErrorInfo error{"Sign in required", "Sign in to your glucose account to see glucose readings.",
                          "Open Settings to enter your glucose account details."};
    vm.setNextRetryAt(now() + 60);
    vm.setError(error);
    EXPECT_FALSE(vm.activity());
    EXPECT_TRUE(vm.nextRetryAt());
    EXPECT_EQ(vm.iconState(), StatusBarIconState::attention);   // no reading held
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::warning);

    vm.setActivity(StatusBarActivity::authenticating, now());
    EXPECT_EQ(vm.activity(), StatusBarActivity::authenticating);
    vm.setError(std::nullopt);
    EXPECT_EQ(vm.activity(), StatusBarActivity::authenticating);   // no error: activity stays
    EXPECT_FALSE(vm.hasWarning());

    // With graph readings but nothing presented, an error presents the newest graph reading.
    vm.updateGlucoseHistory({reading(90, "Flat", now() - 600), reading(108, "SingleUp", now() - 300)});
    vm.setError(error);
    EXPECT_EQ(vm.statusTitle(), "6.0 ↑");
    EXPECT_FALSE(vm.iconState());
}

TEST_F(StatusBarViewModelTest, ActivityRepresentsTheReadingAndRefreshEndsIt)
{
    StatusBarViewModel &vm = makeModel();
    vm.present(reading(99, "Flat", now() - 60), now());
    config.clock->advance(900);
    vm.setActivity(StatusBarActivity::refreshing, now());
    EXPECT_EQ(vm.statusTitle(), "5.5 ?");

    vm.refreshStatusItem();
    EXPECT_FALSE(vm.activity());
    ASSERT_FALSE(item->accessibilityValues.empty());
    EXPECT_EQ(item->accessibilityValues.back(), vm.statusAccessibilityText(vm.statusTitle(), now()));

    // A finished refresh without any reading turns the waiting icon into the attention icon.
    model.reset();
    StatusBarViewModel &fresh = makeModel();
    fresh.refreshStatusItem();
    EXPECT_EQ(fresh.iconState(), StatusBarIconState::attention);
}

TEST_F(StatusBarViewModelTest, IndicatorFollowsWarningsThenUpdates)
{
    StatusBarViewModel &vm = makeModel();
    const int rebuilds = item->menuRebuilds;
    updates.setAvailable(true);
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::none);   // delivered on a later turn
    drainEvents();
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::updateAvailable);
    EXPECT_GT(item->menuRebuilds, rebuilds);
    EXPECT_TRUE(vm.menuState().isUpdateAvailable);

    vm.setError(ErrorInfo{"Offline", "No internet connection available.", ""});
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::warning);
    vm.setError(std::nullopt);
    EXPECT_EQ(vm.indicatorState(), StatusIndicator::updateAvailable);
    EXPECT_TRUE(vm.statusAccessibilityText(vm.statusTitle(), now()).endsWith(" Update available."));
}

TEST_F(StatusBarViewModelTest, SavedSettingsChangeTheTitleWithoutAPoll)
{
    StatusBarViewModel &vm = makeModel();
    vm.updateGlucoseHistory({reading(99, "Flat", now() - 60)});
    vm.present(reading(99, "Flat", now() - 60), now());
    EXPECT_EQ(vm.statusTitle(), "5.5 →");

    AppSettings settings = AppSettings::defaults();
    settings.measurementUnit = "mg/dL";
    config.storeSettings(settings);
    const int refreshes = item->graphRefreshes;
    vm.appSettingsDidUpdate();
    drainEvents();
    EXPECT_EQ(vm.statusTitle(), "99 →");
    EXPECT_GT(item->graphRefreshes, refreshes);
}

TEST_F(StatusBarViewModelTest, SettingsUpdateLoadsTheConfigurationFirst)
{
    StatusBarViewModel &vm = makeModel();
    vm.updateGlucoseHistory({reading(99, "Flat", now() - 60)});
    EXPECT_FALSE(config.manager.configuration());
    vm.appSettingsDidUpdate();
    EXPECT_TRUE(waitUntil([&] { return vm.statusTitle() == QStringLiteral("5.5 →"); }));
    EXPECT_TRUE(config.manager.configuration());
}

TEST_F(StatusBarViewModelTest, MenuActionsReachTheHooks)
{
    StatusBarViewModel &vm = makeModel();
    for (StatusBarMenuAction action : {StatusBarMenuAction::settings, StatusBarMenuAction::snooze30Minutes,
                                       StatusBarMenuAction::resumeAlerts}) {
        vm.performMenuAction(action);   // empty hooks do nothing
    }
    std::vector<std::string> calls;
    vm.settingsAction = [&] { calls.push_back("settings"); };
    vm.insightsAction = [&] { calls.push_back("insights"); };
    vm.quitAction = [&] { calls.push_back("quit"); };
    vm.snoozeAlertsAction = [&](double seconds) { calls.push_back("snooze " + std::to_string(int(seconds))); };
    vm.clearSnoozeAlertsAction = [&] { calls.push_back("resume"); };
    for (StatusBarMenuAction action :
         {StatusBarMenuAction::settings, StatusBarMenuAction::insights, StatusBarMenuAction::snooze30Minutes,
          StatusBarMenuAction::snooze2Hours, StatusBarMenuAction::resumeAlerts, StatusBarMenuAction::quit}) {
        vm.performMenuAction(action);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"settings", "insights", "snooze 1800", "snooze 7200", "resume", "quit"}));

    // "Update available" installs a waiting update, and checks for one when none waits.
    updates.hasDownloadedUpdate = true;
    vm.performMenuAction(StatusBarMenuAction::downloadUpdate);
    EXPECT_EQ(updates.checkCalls, 0);
    updates.hasDownloadedUpdate = false;
    vm.performMenuAction(StatusBarMenuAction::downloadUpdate);
    EXPECT_EQ(updates.installCalls, 2);
    EXPECT_EQ(updates.checkCalls, 1);
}

TEST_F(StatusBarViewModelTest, MenuStateReadsSnoozeSettings)
{
    StatusBarViewModel &vm = makeModel();
    EXPECT_TRUE(vm.menuState().alertsEnabled);
    EXPECT_TRUE(vm.menuState().allAlertKindsSnooze);
    AppSettings settings = AppSettings::defaults();
    settings.snoozeHighAlerts = false;
    settings.alertsEnabled = false;
    config.storeSettings(settings);
    vm.setAlertsSnoozedUntil(now() + 600);
    const StatusBarMenuState state = vm.menuState();
    EXPECT_FALSE(state.alertsEnabled);
    EXPECT_FALSE(state.allAlertKindsSnooze);
    EXPECT_EQ(state.alertsSnoozedUntil, now() + 600);
}

TEST_F(StatusBarViewModelTest, MenuIsRebuiltWhetherOrNotItIsOpen)
{
    StatusBarViewModel &vm = makeModel();
    int rebuilds = item->menuRebuilds;
    vm.rebuildMenuIfBuilt();
    EXPECT_EQ(item->menuRebuilds, rebuilds + 1);
    // A new graph list changes the menu's reading line.
    vm.updateGlucoseHistory({GlucoseReading(99, "Flat", now() - 60)});
    EXPECT_EQ(item->menuRebuilds, rebuilds + 2);
}
