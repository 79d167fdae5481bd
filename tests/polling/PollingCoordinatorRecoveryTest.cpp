#include "PollingCoordinatorFixture.h"

#include <cmath>
#include <functional>

namespace quillby::test {
namespace {

using Error = LibreLinkUpError;
using LibreCase = LibreLinkUpError::Case;

NetworkError offline()
{
    return NetworkError(QNetworkReply::HostNotFoundError, false, "Host not found");
}

class PollingRecoveryTest : public PollingCoordinatorTest {
protected:
    // Starts polling and, when `held`, lets one successful fetch give the poller a reading.
    void startWith(const GlucoseAccountConfiguration &account, bool held)
    {
        startPolling(account);
        if (held) {
            api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(120, now() - 30, account.provider)}));
            refresh();
            ASSERT_TRUE(presenter.presentedReading);
        }
        presenter.presented.clear();
    }
    const StatusBarPollingSchedule &schedule() const { return coordinator->pollingSchedule(); }
};

// Every menu state of failure recovery, with the exact texts.
TEST_F(PollingRecoveryTest, MenuStatesShowExactTexts)
{
    struct Case {
        std::string name;
        GlucoseAccountConfiguration account;
        bool held;
        std::function<void(PollingRecoveryTest &)> script;
        ErrorInfo expected;
    };
    const auto fail = [](auto error) {
        return [error](PollingRecoveryTest &t) { t.api->fetchScript.push_back(FakeGlucoseAPI::failure(error)); };
    };
    // Dexcom: the fetch says the session is gone; the one re-sign-in fails too.
    const auto dexcomSignInFails = [](PollingRecoveryTest &t) {
        t.api->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::sessionExpired()));
        t.api->authenticateScript.push_back(std::make_exception_ptr(DexcomError::authenticationFailed("Please check your credentials.")));
    };
    const auto empty = [](PollingRecoveryTest &t) {
        t.network.reachable = false;
        t.network.scriptedAnswers.push_back(false);
        t.api->fetchScript.push_back(FakeGlucoseAPI::readings({}));
    };
    const std::vector<Case> cases{
        {"throttled", libreAccount(), true, fail(Error::rateLimited(20)),
         {"LibreLinkUp busy", "LibreLinkUp is limiting requests. Quillby will wait before trying again.",
          "Quillby will wait before trying again."}},
        {"terms", libreAccount(), false, fail(Error(LibreCase::termsRequired)),
         {"LibreLinkUp needs attention",
          "Open the LibreLinkUp app and review its updated terms or privacy notice, then try again.",
          "Resolve the issue, then choose Reconnect in Account settings."}},
        {"libre session held", libreAccount(), true, fail(Error(LibreCase::sessionExpired)),
         {"Authentication failed", "Unable to authenticate with FreeStyle Libre.",
          "Check your username and password in Settings."}},
        {"libre session", libreAccount(), false, fail(Error(LibreCase::sessionExpired)),
         {"Authentication required", "Cannot authenticate with FreeStyle Libre servers.",
          "Verify your credentials in Settings."}},
        {"dexcom sign-in held", dexcomAccount(), true, dexcomSignInFails,
         {"Authentication failed", "Unable to authenticate with Dexcom.", "Check your username and password in Settings."}},
        {"dexcom sign-in", dexcomAccount(), false, dexcomSignInFails,
         {"Authentication required", "Cannot authenticate with Dexcom servers.", "Verify your credentials in Settings."}},
        {"libre network held", libreAccount(), true, fail(offline()),
         {"Network error", "Unable to connect to FreeStyle Libre servers.", "Check your internet connection and try again."}},
        {"dexcom network held", dexcomAccount(), true, fail(offline()),
         {"Network error", "Unable to connect to Dexcom servers.", "Check your internet connection and try again."}},
        {"offline", dexcomAccount(), false, fail(offline()),
         {"Offline", "No internet connection available.", "Connect to the internet to retrieve glucose data."}},
        {"unexpected held", dexcomAccount(), true, fail(DexcomError::serverError(503)),
         {"Error", "An unexpected error occurred: Dexcom server error (503)", "The app will retry automatically."}},
        {"unexpected libre held", libreAccount(), true, fail(Error(LibreCase::invalidReading)),
         {"Error", "An unexpected error occurred: LibreLinkUp returned a reading with an invalid value or timestamp.",
          "The app will retry automatically."}},
        {"unexpected", dexcomAccount(), false, fail(DexcomError::serverError(503)),
         {"Error", "An unexpected error occurred.", "Check Settings and ensure your glucose account is active."}},
        {"no new data dexcom", dexcomAccount(), true, empty,
         {"No new data", "Unable to retrieve new glucose readings from Dexcom.",
          "Check your internet connection and Dexcom Share settings."}},
        {"no new data libre", libreAccount(), true, fail(Error(LibreCase::noReadingsAvailable)),
         {"No new data", "Unable to retrieve new glucose readings from FreeStyle Libre.",
          "Check your internet connection and LibreLinkUp settings."}},
        {"no data dexcom", dexcomAccount(), false, empty,
         {"No data available", "No glucose readings available from Dexcom.",
          "Ensure your sensor is active and readings appear in Dexcom Share."}},
        {"no data libre", libreAccount(), false, fail(Error(LibreCase::noReadingsAvailable)),
         {"No data available", "No glucose readings available from FreeStyle Libre.",
          "Ensure your sensor is active and readings appear in LibreLinkUp."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        coordinator.reset();
        network = FakeNetworkMonitor(true);
        api = std::make_shared<FakeGlucoseAPI>();
        startWith(c.account, c.held);
        c.script(*this);
        refresh();
        EXPECT_EQ(error(), c.expected);
        // With a reading held the menu keeps showing it under the error.
        EXPECT_EQ(!presenter.presented.empty(), c.held);
        if (c.held) {
            EXPECT_EQ(presenter.presented.back().mgdL, 120);
        }
    }
}

TEST_F(PollingRecoveryTest, ThrottlingBlocksRefreshesUntilRetryTime)
{
    struct Case {
        double retryAfter;
        double blockedFor;
    };
    for (const Case c : {Case{20, 60}, Case{120, 120}, Case{std::nan(""), 60}}) {
        SCOPED_TRACE(c.retryAfter);
        coordinator.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        startWith(libreAccount(), false);
        api->fetchScript.push_back(FakeGlucoseAPI::failure(Error::rateLimited(c.retryAfter)));
        const Date failedAt = now();
        refresh();
        EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::httpError(429));
        EXPECT_EQ(schedule().consecutiveFailures, 1);
        EXPECT_EQ(coordinator->retryNotBefore(), failedAt + c.blockedFor);
        EXPECT_EQ(schedule().nextPollDate, failedAt + c.blockedFor);
        EXPECT_EQ(presenter.nextRetryAt(), failedAt + c.blockedFor);

        clock->advance(c.blockedFor - 1);
        refresh();
        EXPECT_EQ(api->fetchCount, 1);
        clock->advance(1);
        api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now(), GlucoseProvider::libreLinkUp)}));
        refresh();
        EXPECT_EQ(api->fetchCount, 2);
        EXPECT_FALSE(coordinator->retryNotBefore());
        EXPECT_FALSE(error());
    }
}

TEST_F(PollingRecoveryTest, LibreAccountProblemsWaitForTheUser)
{
    for (const LibreCase kind : {LibreCase::invalidRegion, LibreCase::authenticationFailed, LibreCase::termsRequired,
                                 LibreCase::accountActionRequired, LibreCase::clientUpdateRequired,
                                 LibreCase::noConnections, LibreCase::connectionSelectionRequired,
                                 LibreCase::connectionUnavailable}) {
        SCOPED_TRACE(static_cast<int>(kind));
        coordinator.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        startWith(libreAccount(), true);
        api->fetchScript.push_back(FakeGlucoseAPI::failure(Error(kind)));
        refresh();
        EXPECT_TRUE(coordinator->requiresAccountAction());
        EXPECT_EQ(schedule().nextPollDate, now() + 1800);
        EXPECT_EQ(schedule().consecutiveFailures, 0);
        EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::newData());
        EXPECT_FALSE(presenter.nextRetryAt());
        EXPECT_EQ(error()->title, "LibreLinkUp needs attention");
        EXPECT_EQ(error()->message, Error(kind).what());
        EXPECT_TRUE(factoryCalls.empty());   // no re-sign-in for these
    }
    // The loop keeps planning but never fetches again until a new start.
    coordinator->startUpdateLoopIfNeeded();
    sleeper->runFor(3 * 3600);
    EXPECT_EQ(api->fetchCount, 2);
    run(coordinator->start(api, scope, GlucoseProvider::libreLinkUp));
    refresh();
    EXPECT_EQ(api->fetchCount, 3);
}

TEST_F(PollingRecoveryTest, LibreSessionExpiryBacksOffWithoutSigningIn)
{
    startWith(libreAccount(), true);
    api->fetchScript.push_back(FakeGlucoseAPI::failure(Error(LibreCase::sessionExpired)));
    refresh();
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::sessionExpired());
    EXPECT_EQ(schedule().consecutiveFailures, 1);
    EXPECT_EQ(schedule().nextPollDate, now() + 2700);
    EXPECT_EQ(presenter.nextRetryAt(), now() + 2700);
    EXPECT_EQ(api->authenticateCount, 0);
    EXPECT_TRUE(factoryCalls.empty());
}

TEST_F(PollingRecoveryTest, DexcomSignsInOnceWithRebuiltClientThenGivesUp)
{
    startWith(dexcomAccount(), false);
    rebuiltAPI = std::make_shared<FakeGlucoseAPI>();
    api->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::authenticationFailed("Please check your credentials.")));
    rebuiltAPI->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::authenticationFailed("Please check your credentials.")));
    const Date failedAt = now();
    refresh();

    ASSERT_EQ(factoryCalls.size(), 1u);
    EXPECT_EQ(factoryCalls[0], dexcomAccount());   // the stored account
    EXPECT_EQ(rebuiltAPI->authenticateCount, 1);
    EXPECT_EQ(api->fetchCount, 1);
    EXPECT_EQ(rebuiltAPI->fetchCount, 1);
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::sessionExpired());
    EXPECT_EQ(schedule().nextPollDate, failedAt + 0.25 + 2700);
    EXPECT_EQ(error()->title, "Authentication required");
    EXPECT_EQ(logLines.size(), 1u);
    EXPECT_NE(logLines.back().find("Error updating glucose: Authentication failed: Please check your credentials."),
              std::string::npos);

    // The next poll uses the rebuilt client.
    rebuiltAPI->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
    refresh();
    EXPECT_EQ(rebuiltAPI->fetchCount, 2);
    EXPECT_FALSE(error());
}

// A refused password is tried again on the schedule's slow interval, so monitoring resumes by
// itself once the password is accepted again; nothing else signs in before then.
TEST_F(PollingRecoveryTest, RejectedPasswordIsRetriedOnTheSchedule)
{
    DexcomError rejected = DexcomError::authenticationFailed("Please check your credentials.");
    rejected.credentialsRejected = true;
    struct Case {
        const char *name;
        std::function<void(PollingRecoveryTest &)> script;
    };
    const std::vector<Case> cases{
        {"refused at the fetch's own sign-in",
         [rejected](PollingRecoveryTest &t) { t.api->fetchScript.push_back(FakeGlucoseAPI::failure(rejected)); }},
        {"refused when signing in again after an empty fetch",
         [rejected](PollingRecoveryTest &t) {
             t.api->fetchScript.push_back(FakeGlucoseAPI::readings({}));
             t.api->authenticateScript.push_back(std::make_exception_ptr(rejected));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        coordinator.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        startWith(dexcomAccount(), true);
        c.script(*this);
        const Date failedAt = now();
        refresh();
        const int signIns = api->authenticateCount;
        EXPECT_LE(signIns, 1);
        EXPECT_FALSE(coordinator->requiresAccountAction());
        EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::sessionExpired());
        ASSERT_TRUE(schedule().nextPollDate);
        const Date retryAt = *schedule().nextPollDate;
        EXPECT_NEAR(retryAt - failedAt, 2700, 0.5);
        EXPECT_EQ(presenter.nextRetryAt(), retryAt);
        EXPECT_EQ(error(), (ErrorInfo{"Authentication failed", "Unable to authenticate with Dexcom.",
                                      "Check your username and password in Settings."}));

        // A wake before then does not sign in.
        clock->advance(600);
        run(coordinator->handleWake());
        EXPECT_EQ(api->fetchCount, 2);

        // The loop tries again at the planned time; the password is accepted again.
        Date fetchedAt = 0;
        api->onFetch = [this, &fetchedAt] {
            fetchedAt = now();
            return FakeGlucoseAPI::readings({makeReading(95, now() - 20)});
        };
        coordinator->startUpdateLoopIfNeeded();
        ASSERT_TRUE(sleeper->advanceUntil([&] { return presenter.presentedReading->mgdL == 95; }));
        EXPECT_EQ(api->fetchCount, 3);
        EXPECT_GE(fetchedAt, retryAt);
        EXPECT_LT(fetchedAt - retryAt, 0.01);
        EXPECT_FALSE(error());
        EXPECT_EQ(api->authenticateCount, signIns);
        EXPECT_TRUE(factoryCalls.empty());
    }
}

// Dexcom's 429 with a Retry-After: no poll before that time, and none planned before it.
TEST_F(PollingRecoveryTest, DexcomTooManyRequestsWaitsAtLeastTheRetryAfter)
{
    struct Case {
        double retryAfter;
        double plannedIn;   // the failure back-off, when it is longer
    };
    for (const Case c : {Case{600, 600}, Case{5, 30}}) {
        SCOPED_TRACE(c.retryAfter);
        coordinator.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        startWith(dexcomAccount(), true);
        DexcomError busy = DexcomError::serverError(429);
        busy.retryAfter = c.retryAfter;
        api->fetchScript.push_back(FakeGlucoseAPI::failure(busy));
        const Date failedAt = now();
        refresh();
        EXPECT_EQ(coordinator->retryNotBefore(), failedAt + c.retryAfter);
        EXPECT_EQ(schedule().nextPollDate, failedAt + c.plannedIn);
        EXPECT_EQ(presenter.nextRetryAt(), failedAt + c.plannedIn);
        EXPECT_EQ(error()->message, "An unexpected error occurred: Dexcom server error (429)");

        clock->advance(c.retryAfter - 1);
        refresh();
        EXPECT_EQ(api->fetchCount, 2);
        clock->advance(1);
        api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
        refresh();
        EXPECT_EQ(api->fetchCount, 3);
        EXPECT_FALSE(error());
    }
}

TEST_F(PollingRecoveryTest, ReSignInSuccessRetriesAfterAQuarterSecond)
{
    startWith(dexcomAccount(), false);
    rebuiltAPI = std::make_shared<FakeGlucoseAPI>();
    // Errors of other types say "not authenticated" in their text.
    api->fetchScript.push_back(FakeGlucoseAPI::failure(std::runtime_error("Request refused: NOT AUTHENTICATED")));
    rebuiltAPI->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(130, now())}));
    refresh();
    EXPECT_EQ(factoryCalls.size(), 1u);
    ASSERT_FALSE(sleeper->requests.empty());
    EXPECT_EQ(sleeper->requests.back(), 0.25);
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(presenter.presentedReading->mgdL, 130);
    EXPECT_FALSE(error());
    EXPECT_EQ(schedule().consecutiveFailures, 0);
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(presenter.activityCalls,
              (std::vector<std::optional<StatusBarActivity>>{StatusBarActivity::refreshing, StatusBarActivity::refreshing,
                                                            StatusBarActivity::authenticating,
                                                            StatusBarActivity::refreshing}));
}

TEST_F(PollingRecoveryTest, FailedReSignInLogsBothLines)
{
    startWith(dexcomAccount(), true);
    api->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::sessionExpired()));
    api->authenticateScript.push_back(std::make_exception_ptr(offline()));
    refresh();
    EXPECT_EQ(error()->title, "Network error");
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::networkError());
    ASSERT_EQ(logLines.size(), 2u);
    EXPECT_NE(logLines[0].find("Error updating glucose: Host not found"), std::string::npos);
    EXPECT_NE(logLines[1].find("Reauthentication failed: Host not found"), std::string::npos);
}

TEST_F(PollingRecoveryTest, ReSignInWaitsForNetworkAndGivesUpOffline)
{
    startWith(dexcomAccount(), false);
    network.reachable = false;
    network.scriptedAnswers.push_back(false);
    api->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::loginFailed("Please check your credentials.")));
    refresh();
    EXPECT_EQ(network.waitTimeouts, std::vector<double>{10});
    EXPECT_TRUE(factoryCalls.empty());
    EXPECT_EQ(error()->title, "Offline");
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::networkError());
    EXPECT_EQ(schedule().nextPollDate, now() + 30);   // first failure: 30 s
}

TEST_F(PollingRecoveryTest, FailuresBackOffByCountAndReadingResetsIt)
{
    startWith(dexcomAccount(), true);
    const std::vector<double> expected{30, 60, 120, 300, 600, 900, 900};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        api->fetchScript.push_back(FakeGlucoseAPI::failure(offline()));
        refresh();
        EXPECT_EQ(schedule().consecutiveFailures, static_cast<int>(i + 1));
        EXPECT_EQ(schedule().nextPollDate, now() + expected[i]);
        EXPECT_EQ(presenter.nextRetryAt(), now() + expected[i]);
    }
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(100, now())}));
    refresh();
    EXPECT_EQ(schedule().consecutiveFailures, 0);
    EXPECT_FALSE(presenter.nextRetryAt());
}

TEST_F(PollingRecoveryTest, DexcomEmptyWithNetworkDownDoesNotSignIn)
{
    startWith(dexcomAccount(), false);
    network.reachable = false;
    network.scriptedAnswers.push_back(false);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({}));
    refresh();
    EXPECT_EQ(network.waitTimeouts, std::vector<double>{5});
    EXPECT_EQ(api->authenticateCount, 0);
    EXPECT_EQ(error()->title, "No data available");
    EXPECT_EQ(schedule().nextPollDate, now() + 300);
    EXPECT_EQ(presenter.nextRetryAt(), now() + 300);
}

TEST_F(PollingRecoveryTest, DexcomEmptyPollsEscalateToSessionExpiredInterval)
{
    // Online: each poll signs in again on the same client and retries once, counting 2.
    startWith(dexcomAccount(), true);
    api->onFetch = [] { return FakeGlucoseAPI::readings({}); };
    refresh();
    EXPECT_EQ(api->fetchCount, 3);   // the held reading, the empty poll and its retry
    EXPECT_EQ(api->authenticateCount, 1);
    EXPECT_TRUE(factoryCalls.empty());
    EXPECT_EQ(schedule().consecutiveNoData, 2);
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::noNewData());
    EXPECT_EQ(schedule().nextPollDate, now() + 300);
    clock->advance(600);
    refresh();
    EXPECT_EQ(schedule().consecutiveNoData, 4);
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::sessionExpired());
    EXPECT_EQ(schedule().nextPollDate, now() + 2700);

    // Offline: no re-sign-in, each poll counts 1 and the third escalates; a gap of 30 minutes
    // or more starts the count again.
    coordinator.reset();
    api = std::make_shared<FakeGlucoseAPI>();
    startWith(dexcomAccount(), false);
    api->onFetch = [] { return FakeGlucoseAPI::readings({}); };
    network.reachable = false;
    for (int poll = 1; poll <= 3; ++poll) {
        refresh();
        EXPECT_EQ(schedule().consecutiveNoData, poll);
        EXPECT_EQ(schedule().nextPollDate, now() + (poll < 3 ? 300 : 2700));
        clock->advance(600);
    }
    clock->advance(1800);
    refresh();
    EXPECT_EQ(schedule().consecutiveNoData, 1);
    EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::noNewData());
    EXPECT_EQ(api->authenticateCount, 0);
}

TEST_F(PollingRecoveryTest, LibreEmptyPollsBackOffByCadence)
{
    startWith(libreAccount(), false);
    api->onFetch = [] { return FakeGlucoseAPI::readings({}); };
    for (const double interval : {60, 120, 180, 240, 300, 300}) {
        refresh();
        EXPECT_EQ(schedule().nextPollDate, now() + interval);
        EXPECT_EQ(schedule().lastOutcome, StatusBarPollOutcome::noNewData());
        clock->advance(30);
    }
    EXPECT_EQ(api->authenticateCount, 0);
    EXPECT_EQ(api->fetchCount, 6);
}

} // namespace
} // namespace quillby::test
