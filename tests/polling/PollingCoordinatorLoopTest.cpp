// The update loop in virtual time: it follows the schedule as it stands, not the plan it went to
// sleep on, and it polls at a provider's retry time.

#include "PollingCoordinatorFixture.h"

#include "providers/NetworkError.h"

#include <utility>

namespace quillby::test {
namespace {

NetworkError offline()
{
    return NetworkError(QNetworkReply::HostNotFoundError, false, "Host not found");
}

// Wakes every sleep of 5 s or more `early` seconds before its time, as an inexact timer may.
class EarlyWakingSleeper final : public Sleeper {
public:
    EarlyWakingSleeper(std::shared_ptr<Sleeper> inner, double early) : inner_(std::move(inner)), early_(early) {}
    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override
    {
        co_await inner_->sleep(seconds >= 5 ? seconds - early_ : seconds, stop);
    }

private:
    std::shared_ptr<Sleeper> inner_;
    double early_;
};

class PollingLoopTest : public PollingCoordinatorTest {
protected:
    // Every fetch is recorded with its time; it fails while `failure` is set, else it returns a
    // reading taken 10 s before.
    void answerFetches(GlucoseProvider provider)
    {
        api->onFetch = [this, provider] {
            fetchTimes.push_back(now());
            if (failure) {
                return FakeGlucoseAPI::Answer{{}, failure};
            }
            return FakeGlucoseAPI::readings({makeReading(100, now() - 10, provider)});
        };
    }

    // Runs virtual time until the next fetch answered by answerFetches(); returns its time.
    Date nextFetch()
    {
        const std::size_t before = fetchTimes.size();
        EXPECT_TRUE(sleeper->advanceUntil([&] { return fetchTimes.size() > before; }));
        return fetchTimes.empty() ? 0 : fetchTimes.back();
    }

    // Dexcom Share has come back empty often enough to wait 45 minutes; the loop sleeps on that.
    void escalateDexcomNoData()
    {
        startPolling(dexcomAccount());
        api->onFetch = [] { return FakeGlucoseAPI::readings({}); };
        refresh();
        clock->advance(300);
        refresh();
        ASSERT_EQ(schedule().lastOutcome, StatusBarPollOutcome::sessionExpired());
        ASSERT_EQ(schedule().nextPollDate, now() + 2700);
        coordinator->startUpdateLoopIfNeeded();
        sleeper->runFor(600);
        ASSERT_EQ(api->fetchCount, 4);
    }

    const StatusBarPollingSchedule &schedule() const { return coordinator->pollingSchedule(); }

    std::vector<Date> fetchTimes;
    std::exception_ptr failure;
};

TEST_F(PollingLoopTest, WakeRefreshThatReadsReturnsTheLoopToTheReadingCadence)
{
    escalateDexcomNoData();
    answerFetches(GlucoseProvider::dexcom);
    run(coordinator->handleWake());
    ASSERT_EQ(fetchTimes.size(), 1u);
    const Date wakeRefreshAt = fetchTimes.back();
    ASSERT_FALSE(error());

    // One cadence (plus 30 s) after the reading taken 10 s before the wake refresh, not 2099 s
    // later on the 45-minute plan the loop went to sleep on.
    EXPECT_NEAR(nextFetch() - wakeRefreshAt, 320, 0.01);
}

TEST_F(PollingLoopTest, NewAccountReplansALoopStillAsleepOnTheOldPlan)
{
    escalateDexcomNoData();
    const Date startedAt = now();
    answerFetches(GlucoseProvider::libreLinkUp);
    configure(libreAccount());
    run(coordinator->start(api, historyAccountScope(libreAccount()), GlucoseProvider::libreLinkUp));
    // The first plan of a start, not the remaining 2100 s of the old account's.
    EXPECT_NEAR(nextFetch() - startedAt, 5, 0.01);
    EXPECT_FALSE(error());
}

TEST_F(PollingLoopTest, NetworkBackRetriesAPollThatFailedForWantOfIt)
{
    startPolling(dexcomAccount());
    answerFetches(GlucoseProvider::dexcom);
    failure = std::make_exception_ptr(offline());
    network.setReachable(false);
    coordinator->startUpdateLoopIfNeeded();
    // Failures back off 15, 30 ... 900 s.
    ASSERT_TRUE(sleeper->advanceUntil([&] { return schedule().consecutiveFailures == 7; }));
    ASSERT_NEAR(*schedule().nextPollDate - now(), 900, 0.01);
    sleeper->runFor(100);

    failure = nullptr;
    const Date backAt = now();
    network.setReachable(true);
    // After the settle delay, not up to 800 s later on the failure back-off.
    EXPECT_NEAR(nextFetch() - backAt, StatusBarPollingCoordinator::kReconnectSettleDelay, 0.01);
    EXPECT_FALSE(error());
    // The loop then follows the reading cadence.
    EXPECT_NEAR(nextFetch() - backAt, 320.4, 0.01);

    // A network that comes back while the last poll went well changes nothing.
    const int polls = api->fetchCount;
    network.setReachable(false);
    network.setReachable(true);
    sleeper->runFor(60);
    EXPECT_EQ(api->fetchCount, polls);
}

// The loop wakes at a provider's retry time, not a fraction of a millisecond before it (when
// the poll would be refused and the loop would fall back to a later plan), and a wake that
// comes early all the same polls at the retry time.
TEST_F(PollingLoopTest, PollsAtTheRetryTime)
{
    for (const double early : {0.0, 0.5}) {
        SCOPED_TRACE(early);
        coordinator.reset();
        api = std::make_shared<FakeGlucoseAPI>();
        fetchTimes.clear();
        failure = nullptr;
        coordinatorSleeper = early > 0 ? std::make_shared<EarlyWakingSleeper>(sleeper, early) : nullptr;
        startPolling(libreAccount());
        answerFetches(GlucoseProvider::libreLinkUp);
        api->fetchScript.push_back(FakeGlucoseAPI::failure(LibreLinkUpError::rateLimited(90.0004)));
        refresh();
        ASSERT_TRUE(coordinator->retryNotBefore());
        const Date retryAt = *coordinator->retryNotBefore();

        coordinator->startUpdateLoopIfNeeded();
        const Date polledAt = nextFetch();
        EXPECT_GE(polledAt, retryAt);
        EXPECT_LT(polledAt - retryAt, 0.01);
        EXPECT_FALSE(error());
    }
}

} // namespace
} // namespace quillby::test
