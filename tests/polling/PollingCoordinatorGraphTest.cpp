#include "PollingCoordinatorFixture.h"

namespace quillby::test {
namespace {

constexpr auto kLibre = GlucoseProvider::libreLinkUp;

std::vector<double> values(const GlucoseReadings &readings)
{
    std::vector<double> result;
    for (const auto &reading : readings) {
        result.push_back(reading.mgdL);
    }
    return result;
}

TEST(PollingGraphMergeTest, LibreLinkUpMergesByDateWithinOneDay)
{
    const Date now = 1'800'000'000;
    using Coordinator = StatusBarPollingCoordinator;
    // A fetched reading replaces an observed one of the same time; the result is sorted.
    const GlucoseReadings observed{makeReading(100, now - 120, kLibre), makeReading(101, now - 60, kLibre)};
    const GlucoseReadings fetched{makeReading(99, now, kLibre), makeReading(111, now - 60, kLibre)};
    EXPECT_EQ(values(Coordinator::mergeObservedReadings(observed, fetched, kLibre, now)),
              (std::vector<double>{100, 111, 99}));
    // Readings older than 24 hours drop out, unless nothing else is left: then the newest stays.
    const GlucoseReadings old{makeReading(80, now - 90000, kLibre), makeReading(81, now - 86401, kLibre)};
    EXPECT_EQ(values(Coordinator::mergeObservedReadings(old, {makeReading(82, now - 86400, kLibre)}, kLibre, now)),
              (std::vector<double>{82}));
    EXPECT_EQ(values(Coordinator::mergeObservedReadings({}, old, kLibre, now)), (std::vector<double>{81}));
    EXPECT_TRUE(Coordinator::mergeObservedReadings({}, {}, kLibre, now).empty());
    // Dexcom Share: the fetch as delivered.
    const GlucoseReadings dexcom{makeReading(120, now), makeReading(110, now - 300)};
    EXPECT_EQ(Coordinator::mergeObservedReadings(observed, dexcom, GlucoseProvider::dexcom, now), dexcom);
}

TEST(PollingGraphMergeTest, LibreLinkUpForgetsFaultyFutureReadingOnceNoLongerReported)
{
    const Date now = 1'800'000'000;
    using Coordinator = StatusBarPollingCoordinator;
    const GlucoseReadings observed{makeReading(100, now - 60, kLibre), makeReading(101, now + 30, kLibre),
                                   makeReading(102, now + 3600, kLibre)};
    // Slightly ahead (clocks differ) stays; an hour ahead and no longer fetched goes.
    EXPECT_EQ(values(Coordinator::mergeObservedReadings(observed, {makeReading(103, now, kLibre)}, kLibre, now)),
              (std::vector<double>{100, 103, 101}));
    // Still reported by the provider: kept, with the fetched values.
    EXPECT_EQ(values(Coordinator::mergeObservedReadings(observed, {makeReading(104, now + 3600, kLibre)}, kLibre, now)),
              (std::vector<double>{100, 101, 104}));
}

TEST(PollingGraphMergeTest, PresentationOrderDropsOlderLists)
{
    GraphPresentationOrder order;
    EXPECT_TRUE(order.admit(2));
    EXPECT_FALSE(order.admit(1));
    EXPECT_TRUE(order.admit(2));
    EXPECT_TRUE(order.admit(5));
    EXPECT_EQ(order.latest(), 5);
}

class PollingGraphTest : public PollingCoordinatorTest {
public:
    void SetUp() override
    {
        PollingCoordinatorTest::SetUp();
        saved = {makeReading(90, kStart - 90000, kLibre), makeReading(91, kStart - 3600, kLibre),
                 makeReading(92, kStart - 120, kLibre)};
        history.savedReadings = saved;
    }
    GlucoseReadings saved;
};

TEST_F(PollingGraphTest, SavedReadingsRefillGraphAndObservedOnesWin)
{
    startPolling(libreAccount());
    EXPECT_EQ(presenter.historyUpdates.front(), GlucoseReadings{});   // the start presents an empty list first
    VirtualTimeSleeper::drain();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{91, 92}));

    // Same timestamp as a saved reading: shown once, with the provider's value.
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(150, kStart - 120, kLibre), makeReading(151, now(), kLibre)}));
    refresh();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{91, 150, 151}));
    EXPECT_EQ(values(coordinator->observedGlucoseHistory()), (std::vector<double>{150, 151}));
}

TEST_F(PollingGraphTest, DeletedOrOutdatedSavedHistoryLeavesOnlyObservedReadings)
{
    startPolling(libreAccount());
    VirtualTimeSleeper::drain();
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(151, now(), kLibre)}));
    refresh();
    ASSERT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{91, 92, 151}));

    history.changeSavedReadings({});
    VirtualTimeSleeper::drain();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{151}));

    // Saved history changes again, but its update has not been taken yet: the extract held
    // no longer matches the revision, so its readings stay off the graph.
    history.changeSavedReadings(saved);
    VirtualTimeSleeper::drain();
    ASSERT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{91, 92, 151}));
    history.revision = QUuid::createUuid();
    clock->advance(60);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(152, now(), kLibre)}));
    refresh();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{151, 152}));
}

TEST_F(PollingGraphTest, ExtractOfAnotherAccountIsRefused)
{
    startPolling(libreAccount("p1"));
    VirtualTimeSleeper::drain();
    ASSERT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{91, 92}));

    // The configured person changes; until polling restarts, p1's saved readings are refused.
    configure(libreAccount("p2"));
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(151, now(), kLibre)}));
    refresh();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{151}));
    history.changeSavedReadings(saved);
    VirtualTimeSleeper::drain();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{151}));
}

TEST_F(PollingGraphTest, ExtractRequestedBeforeResetIsDropped)
{
    startPolling(libreAccount());   // asks for the saved extract on the next turn
    run(coordinator->stop());
    VirtualTimeSleeper::drain();
    EXPECT_TRUE(presenter.glucoseHistory().empty());
    EXPECT_FALSE(coordinator->restoredGraphHistory());

    // Restarted for an account without saved history: the old scope's extract never shows.
    const auto other = libreAccount("p2");
    configure(other);
    run(coordinator->start(api, historyAccountScope(other), kLibre));
    VirtualTimeSleeper::drain();
    EXPECT_TRUE(presenter.glucoseHistory().empty());
}

TEST_F(PollingGraphTest, BurstOfSavedHistoryChangesTakesOneExtract)
{
    startPolling(libreAccount());
    VirtualTimeSleeper::drain();
    const int before = history.extractRequests;
    history.changeSavedReadings(saved);
    history.changeSavedReadings(saved);
    history.changeSavedReadings({saved.back()});
    VirtualTimeSleeper::drain();
    EXPECT_EQ(history.extractRequests, before + 1);
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{92}));
}

TEST_F(PollingGraphTest, WithoutHistoryCoordinatorGraphShowsProviderReadings)
{
    startPolling(libreAccount(), false);
    api->fetchScript.push_back(FakeGlucoseAPI::readings({makeReading(151, now(), kLibre)}));
    refresh();
    VirtualTimeSleeper::drain();
    EXPECT_EQ(values(presenter.glucoseHistory()), (std::vector<double>{151}));
    EXPECT_EQ(history.tokenRequests, 0);
    EXPECT_EQ(history.extractRequests, 0);
}

} // namespace
} // namespace quillby::test
