#include "PollingCoordinatorFixture.h"

#include "providers/GlucoseAPIClientFactory.h"
#include "providers/DexcomAPI.h"
#include "providers/LibreLinkUpAPI.h"

#include <algorithm>
#include <cmath>

namespace quillby::test {
namespace {

using Answer = FakeGlucoseAPI::Answer;

TEST_F(PollingCoordinatorTest, RefreshPresentsNewestReadingAndPlansFromItsDate)
{
    startPolling(dexcomAccount());
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(110, now() - 310), makeReading(120, now() - 10)}));
    presenter.setError(ErrorInfo{"old", "old", "old"});

    refresh();

    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(presenter.presentedReading->mgdL, 120);
    EXPECT_FALSE(error());
    EXPECT_FALSE(presenter.activity());
    EXPECT_EQ(presenter.refreshStatusItemCount, 1);
    EXPECT_EQ(presenter.glucoseHistory().size(), 2u);
    // Dexcom Share: the next poll is 330 s after the reading's own date.
    ASSERT_TRUE(coordinator->pollingSchedule().nextPollDate);
    EXPECT_DOUBLE_EQ(*coordinator->pollingSchedule().nextPollDate, now() - 10 + 330);
    EXPECT_EQ(coordinator->pollingSchedule().lastOutcome, StatusBarPollOutcome::newData());
    EXPECT_EQ(coordinator->lastFetchedHistoryCount(), 2u);
}

TEST_F(PollingCoordinatorTest, LibreLinkUpCadencePlansSeventySecondsAfterReading)
{
    startPolling(libreAccount());
    EXPECT_EQ(coordinator->pollingSchedule().readingInterval, 60);
    const Date date = now() - 5;
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, date, GlucoseProvider::libreLinkUp)}));
    refresh();
    EXPECT_DOUBLE_EQ(*coordinator->pollingSchedule().nextPollDate, date + 70);
}

TEST_F(PollingCoordinatorTest, ReadingCountsAsNewOnlyWhenMoreThanOneSecondNewer)
{
    struct Case {
        double offset;
        bool isNew;
    };
    for (const Case c : {Case{1.0, false}, Case{1.5, true}}) {
        SCOPED_TRACE(c.offset);
        coordinator.reset();
        alerts->sent.clear();
        startPolling(dexcomAccount());
        const Date first = now() - 60;
        api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(60, first)}));
        refresh();
        ASSERT_EQ(alerts->sent.size(), 1u);   // a low reading alerts once
        // Re-arm low with a reading above the threshold is not what we test: a second low
        // reading alerts only through the rapid-fall trend, which needs a new reading.
        api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(60, first + c.offset, GlucoseProvider::dexcom, "DoubleDown")}));
        refresh();
        EXPECT_EQ(alerts->sent.size(), c.isNew ? 2u : 1u);
        EXPECT_EQ(coordinator->pollingSchedule().lastOutcome,
                  c.isNew ? StatusBarPollOutcome::newData() : StatusBarPollOutcome::noNewData());
    }
}

// A provider fault dates one reading far ahead. The correct readings that follow still count
// as new and alert; a reading only slightly ahead (clocks differ) fetched twice stays one reading.
TEST_F(PollingCoordinatorTest, ReadingDatedAheadDoesNotHoldBackLaterReadings)
{
    struct Case {
        std::string name;
        GlucoseProvider provider;
        double ahead;            // how far ahead of the fetch the faulty reading is dated
        bool laterFetchRepeatsIt;
        bool secondIsNew;        // the second fetch's newest reading counts as new (and alerts)
    };
    const std::vector<Case> cases{
        {"dexcom, a day ahead", GlucoseProvider::dexcom, 86400, false, true},
        {"libre, a day ahead", GlucoseProvider::libreLinkUp, 86400, false, true},
        {"libre, an hour ahead", GlucoseProvider::libreLinkUp, 3600, false, true},
        // Within the allowance it is taken at its word (and alerts at once); fetched again, it
        // is not new again, so the repeating rapid-drop alert is not sent twice.
        {"dexcom, 30 s ahead, fetched twice", GlucoseProvider::dexcom, 30, true, false},
        {"libre, 30 s ahead, fetched twice", GlucoseProvider::libreLinkUp, 30, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        coordinator.reset();
        alerts->sent.clear();
        api = std::make_shared<FakeGlucoseAPI>();
        startPolling(c.provider == GlucoseProvider::libreLinkUp ? libreAccount() : dexcomAccount());

        const GlucoseReading ahead = makeReading(100, now() + c.ahead, c.provider, "DoubleDown");
        api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(110, now() - 60, c.provider), ahead}));
        refresh();
        ASSERT_TRUE(coordinator->pollingSchedule().lastReadingDate);
        EXPECT_LE(*coordinator->pollingSchedule().lastReadingDate, now() + 60);
        // A reading dated more than a minute ahead never alerts.
        EXPECT_EQ(alerts->sent.size(), c.ahead <= 60 ? 1u : 0u);

        clock->advance(75);
        const GlucoseReading correct = makeReading(90, now() - 5, c.provider, "DoubleDown");
        api->fetchScript.push_back(FakeGlucoseAPI::readings(
            c.laterFetchRepeatsIt ? GlucoseReadings{ahead} : GlucoseReadings{makeReading(110, now() - 80, c.provider), correct}));
        refresh();

        const GlucoseReading &expectedShown = c.laterFetchRepeatsIt ? ahead : correct;
        ASSERT_TRUE(presenter.presentedReading);
        EXPECT_EQ(*presenter.presentedReading, expectedShown);
        EXPECT_EQ(coordinator->observedGlucoseHistory().back(), expectedShown);
        EXPECT_EQ(alerts->sent.size(), 1u);
        if (!alerts->sent.empty()) {
            EXPECT_EQ(alerts->sent.back().title, "Rapid glucose drop");
        }
        EXPECT_EQ(coordinator->pollingSchedule().lastOutcome,
                  c.secondIsNew ? StatusBarPollOutcome::newData() : StatusBarPollOutcome::noNewData());
    }
}

// A reading dated a day ahead that the provider keeps reporting, and nothing else: it is no
// usable data. Polling goes on at the no-data pace (no tight loop, no stall), the reading is
// never shown and never alerts while it lies in the future.
TEST_F(PollingCoordinatorTest, ReadingKeptFarAheadPollsAtUsualPace)
{
    startPolling(dexcomAccount());
    const Date ahead = now() + 86400;
    api->onFetch = [ahead] { return FakeGlucoseAPI::readings({makeReading(60, ahead, GlucoseProvider::dexcom, "DoubleDown")}); };
    coordinator->startUpdateLoopIfNeeded();
    sleeper->runFor(2 * 3600);
    EXPECT_GE(api->fetchCount, 2 * 3600 / 900);
    EXPECT_LE(api->fetchCount, 2 * 3600 / 330 + 3);
    EXPECT_TRUE(alerts->sent.empty());
    EXPECT_FALSE(presenter.presentedReading);
    ASSERT_TRUE(presenter.currentError());
    EXPECT_EQ(presenter.currentError()->title, "No data available");
}

// The service keeps dating one reading an hour ahead in every reply. It is never the shown
// reading (which would keep age 0 until the clock passed it), never in the graph and never
// alerted on; the correct readings around it are used. A reply of such readings only is no data.
TEST_F(PollingCoordinatorTest, ReadingTheServiceKeepsDatingAheadIsNeverShown)
{
    for (const GlucoseProvider provider : {GlucoseProvider::dexcom, GlucoseProvider::libreLinkUp}) {
        SCOPED_TRACE(provider == GlucoseProvider::dexcom ? "dexcom" : "libre");
        coordinator.reset();
        alerts->sent.clear();
        presenter.presentedReading.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        startPolling(provider == GlucoseProvider::libreLinkUp ? libreAccount() : dexcomAccount());

        const GlucoseReading ahead = makeReading(55, now() + 3600, provider, "DoubleDown");
        for (int poll = 0; poll < 2; ++poll) {
            SCOPED_TRACE(poll);
            const GlucoseReading correct = makeReading(120 + poll, now() - 5, provider, "SingleUp");
            api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(118, now() - 305, provider), correct, ahead}));
            refresh();
            ASSERT_TRUE(presenter.presentedReading);
            EXPECT_EQ(*presenter.presentedReading, correct);
            EXPECT_EQ(coordinator->observedGlucoseHistory().back(), correct);
            EXPECT_EQ(presenter.glucoseHistory().back(), correct);
            ASSERT_EQ(alerts->sent.size(), 1u);   // the rapid rise of the first poll, not a low
            EXPECT_EQ(alerts->sent.back().title, "Rapid glucose rise");
            clock->advance(300);
        }

        api->fetchScript.push_back(FakeGlucoseAPI::readings({ahead}));
        refresh();
        ASSERT_TRUE(presenter.currentError());
        EXPECT_EQ(presenter.currentError()->title, "No new data");
        EXPECT_NE(presenter.presentedReading->date, ahead.date);
        EXPECT_EQ(alerts->sent.size(), 1u);
    }
}

TEST_F(PollingCoordinatorTest, RequestsDuringSlowFetchJoinIt)
{
    startPolling(dexcomAccount());
    api->hold();
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
    bool firstDone = false;
    bool secondDone = false;
    auto track = [](QCoro::Task<void> task, bool *done) -> QCoro::Task<void> {
        co_await std::move(task);
        *done = true;
    };
    track(coordinator->requestRefresh(), &firstDone);
    track(coordinator->requestRefresh(), &secondDone);
    VirtualTimeSleeper::drain();
    EXPECT_EQ(api->fetchCount, 1);
    EXPECT_FALSE(firstDone);
    EXPECT_FALSE(secondDone);

    api->release();
    VirtualTimeSleeper::drain();
    EXPECT_TRUE(firstDone);
    EXPECT_TRUE(secondDone);
    EXPECT_EQ(api->fetchCount, 1);
    EXPECT_FALSE(coordinator->isRefreshing());
}

TEST_F(PollingCoordinatorTest, RefreshWithoutClientShowsSignInRequired)
{
    configure(dexcomAccount());
    makeCoordinator();
    presenter.updateGlucoseHistory({makeReading(100, now())});

    refresh();

    EXPECT_EQ(api->fetchCount, 0);
    EXPECT_TRUE(presenter.glucoseHistory().empty());
    EXPECT_FALSE(presenter.nextRetryAt());
    EXPECT_EQ(error(), (ErrorInfo{"Sign in required", "Sign in to your glucose account to see glucose readings.",
                                  "Open Settings to enter your glucose account details."}));
}

TEST_F(PollingCoordinatorTest, StopThenStartDropsResultsOfEarlierRefresh)
{
    startPolling(dexcomAccount());
    api->hold();
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(250, now())}));
    coordinator->requestRefresh();
    VirtualTimeSleeper::drain();
    ASSERT_EQ(api->fetchCount, 1);

    auto oldAPI = api;
    api = std::make_shared<FakeGlucoseAPI>();
    run(coordinator->stop());
    run(coordinator->start(api, scope, GlucoseProvider::dexcom));
    oldAPI->release();
    VirtualTimeSleeper::drain();

    EXPECT_FALSE(presenter.presentedReading);
    EXPECT_TRUE(presenter.presented.empty());
    EXPECT_FALSE(coordinator->pollingSchedule().lastReadingDate);
    EXPECT_TRUE(history.batches.empty());
    EXPECT_TRUE(alerts->sent.empty());

    // The new generation refreshes on its own, not blocked by the abandoned fetch.
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(140, now())}));
    refresh();
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(presenter.presentedReading->mgdL, 140);
}

TEST_F(PollingCoordinatorTest, StopEmptiesGraphAndShowsSignInRequired)
{
    startPolling(dexcomAccount());
    coordinator->snoozeAlerts(1800);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now() - 300), makeReading(105, now())}));
    refresh();
    ASSERT_EQ(presenter.glucoseHistory().size(), 2u);

    run(coordinator->stop());

    EXPECT_TRUE(presenter.glucoseHistory().empty());
    EXPECT_FALSE(presenter.presentedReading);
    EXPECT_EQ(error()->title, "Sign in required");
    EXPECT_EQ(presenter.alertsSnoozedUntil(), coordinator->alertsSnoozedUntil());
    EXPECT_FALSE(coordinator->isUpdateLoopRunning());
    EXPECT_TRUE(coordinator->observedGlucoseHistory().empty());
    // Saved history of the signed-out account changing afterwards does not bring it back.
    history.changeSavedReadings({makeReading(90, now() - 100)});
    VirtualTimeSleeper::drain();
    EXPECT_TRUE(presenter.glucoseHistory().empty());
}

TEST_F(PollingCoordinatorTest, CancelledCallerChangesNothing)
{
    startPolling(dexcomAccount());
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
    refresh();
    std::stop_source cancelled;
    cancelled.request_stop();
    run(coordinator->stop(cancelled.get_token()));
    EXPECT_FALSE(presenter.glucoseHistory().empty());
    run(coordinator->requestRefresh(false, cancelled.get_token()));
    EXPECT_EQ(api->fetchCount, 1);
}

TEST_F(PollingCoordinatorTest, SavesEachFetchWithTokenOnlyWhileSavingIsOn)
{
    startPolling(dexcomAccount());
    const GlucoseReadings fetched{makeReading(100, now() - 300), makeReading(104, now())};
    api->fetchScript.push_back(FakeGlucoseAPI::readings(fetched));
    refresh();
    ASSERT_EQ(history.batches.size(), 1u);
    EXPECT_EQ(history.batches[0].readings, fetched);
    EXPECT_EQ(history.batches[0].fetchedAt, now());
    EXPECT_EQ(history.batches[0].token, (GlucoseHistoryCollectionToken{scope, history.epoch}));

    history.savingEnabled = false;
    clock->advance(300);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(108, now())}));
    refresh();
    EXPECT_EQ(history.batches.size(), 1u);
}

TEST_F(PollingCoordinatorTest, LowReadingAlertsOnceAndSnoozeReachesMenu)
{
    startPolling(dexcomAccount());
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(60, now() - 5)}));
    refresh();
    ASSERT_EQ(alerts->sent.size(), 1u);
    EXPECT_EQ(alerts->sent[0].title, "Low glucose alert");
    EXPECT_EQ(alerts->sent[0].body, "60 mg/dL \u2192 (low threshold 72 mg/dL)");

    clock->advance(300);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(62, now() - 5)}));
    refresh();
    EXPECT_EQ(alerts->sent.size(), 1u);

    coordinator->snoozeAlerts(10);
    ASSERT_TRUE(presenter.alertsSnoozedUntil());
    EXPECT_DOUBLE_EQ(*presenter.alertsSnoozedUntil(), now() + 60);
    coordinator->cancelAlertSnooze();
    EXPECT_FALSE(presenter.alertsSnoozedUntil());
}

TEST_F(PollingCoordinatorTest, UpdateLoopFirstPlanIsFiveSecondsThenFollowsReadings)
{
    startPolling(dexcomAccount());
    // The service publishes a reading every 300 s, 10 s after its timestamp.
    const Date firstReading = now() - 200;
    api->onFetch = [this, firstReading] {
        GlucoseReadings readings;
        for (Date date = firstReading; date + 10 <= now(); date += 300) {
            readings.push_back(makeReading(100 + std::fmod(date, 7), date));
        }
        return FakeGlucoseAPI::readings(readings);
    };
    coordinator->startUpdateLoopIfNeeded();
    coordinator->startUpdateLoopIfNeeded();   // never a second loop
    sleeper->runFor(4 * 3600);

    ASSERT_FALSE(sleeper->requests.empty());
    EXPECT_EQ(sleeper->requests.front(), 5.0);
    const int published = static_cast<int>((now() - firstReading - 10) / 300) + 1;
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_DOUBLE_EQ(presenter.presentedReading->date, firstReading + (published - 1) * 300);
    // Planned just after each reading is due: about one request per reading.
    EXPECT_LE(api->fetchCount, published + 3);
    EXPECT_GE(api->fetchCount, published);
    EXPECT_FALSE(error());
}

TEST_F(PollingCoordinatorTest, UpdateLoopSleepsAgainWhenPlanMovedAhead)
{
    startPolling(dexcomAccount());
    const Date date = now();
    api->onFetch = [date] { return FakeGlucoseAPI::readings({makeReading(100, date)}); };
    coordinator->startUpdateLoopIfNeeded();   // sleeps 5 s first
    refresh();                                // meanwhile a refresh plans the next poll 330 s after the reading
    ASSERT_EQ(api->fetchCount, 1);
    sleeper->runFor(10);
    EXPECT_EQ(api->fetchCount, 1);            // the loop woke, saw the plan ahead and slept again
    sleeper->runFor(330);
    EXPECT_EQ(api->fetchCount, 2);
}

TEST_F(PollingCoordinatorTest, DestroyedDuringFetchIsHarmless)
{
    startPolling(dexcomAccount());
    api->hold();
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
    coordinator->startUpdateLoopIfNeeded();
    sleeper->runFor(6);
    ASSERT_EQ(api->fetchCount, 1);
    const auto presentations = presenter.presented.size();
    coordinator.reset();
    api->release();
    sleeper->runFor(600);
    EXPECT_EQ(presenter.presented.size(), presentations);
}

TEST(PollingDefaultClientTest, FactoryBuildsTheAccountsProviderClient)
{
    auto libre = libreAccount("");
    libre.username = "  ann@example.com\n";
    libre.region = "DE";
    const auto client = std::dynamic_pointer_cast<LibreLinkUpAPI>(makeGlucoseAPIClient(libre));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->region(), "de");
    EXPECT_TRUE(std::dynamic_pointer_cast<DexcomAPI>(makeGlucoseAPIClient(dexcomAccount())));
}

} // namespace
} // namespace quillby::test
