#include "PollingCoordinatorFixture.h"

namespace quillby::test {
namespace {

class PollingWakeTest : public PollingCoordinatorTest {
public:
    void SetUp() override
    {
        PollingCoordinatorTest::SetUp();
        startPolling(dexcomAccount());
        api->onFetch = [this] { return FakeGlucoseAPI::readings({makeReading(100, now())}); };
    }
};

TEST_F(PollingWakeTest, WakeRefreshesOnceNetworkSettled)
{
    const Date wokeAt = now();
    run(coordinator->handleWake());
    EXPECT_EQ(api->fetchCount, 1);
    EXPECT_EQ(sleeper->requests, std::vector<double>{0.8});
    EXPECT_DOUBLE_EQ(presenter.presentedReading->date, wokeAt + 0.8);
    EXPECT_TRUE(network.waitTimeouts.empty());
}

TEST_F(PollingWakeTest, WakesWithinTenSecondsCauseOneRefresh)
{
    run(coordinator->handleWake());
    clock->advance(5 - 0.8);
    run(coordinator->handleWake());
    EXPECT_EQ(api->fetchCount, 1);
    clock->advance(6);   // 11 s after the first wake
    run(coordinator->handleWake());
    EXPECT_EQ(api->fetchCount, 2);
}

TEST_F(PollingWakeTest, WakeOfflineWaitsForNetwork)
{
    network.reachable = false;
    network.scriptedAnswers = {false, true};
    run(coordinator->handleWake());   // stays offline for 10 s: no refresh
    EXPECT_EQ(api->fetchCount, 0);
    EXPECT_EQ(network.waitTimeouts, std::vector<double>{10});

    clock->advance(30);
    run(coordinator->handleWake());   // the network comes back: settle 0.4 s, then refresh
    EXPECT_EQ(api->fetchCount, 1);
    EXPECT_EQ(sleeper->requests, std::vector<double>{0.4});
}

TEST_F(PollingWakeTest, WakeOfAnOlderGenerationOrWhileBlockedDoesNotFetch)
{
    bool done = false;
    auto track = [](QCoro::Task<void> task, bool *finished) -> QCoro::Task<void> {
        co_await std::move(task);
        *finished = true;
    };
    track(coordinator->handleWake(), &done);   // settling for 0.8 s
    coordinator->invalidateGeneration();
    sleeper->runFor(1);
    EXPECT_TRUE(done);
    EXPECT_EQ(api->fetchCount, 0);

    api->fetchScript.push_back(FakeGlucoseAPI::failure(DexcomError::serverError(503)));
    refresh();
    EXPECT_EQ(api->fetchCount, 1);
    // Throttled by a provider retry time: LibreLinkUp only, so restart as LibreLinkUp.
    configure(libreAccount());
    run(coordinator->start(api, historyAccountScope(libreAccount()), GlucoseProvider::libreLinkUp));
    api->fetchScript.push_back(FakeGlucoseAPI::failure(LibreLinkUpError::rateLimited(300)));
    refresh();
    ASSERT_EQ(api->fetchCount, 2);
    clock->advance(60);
    run(coordinator->handleWake());
    EXPECT_EQ(api->fetchCount, 2);
}

} // namespace
} // namespace quillby::test
