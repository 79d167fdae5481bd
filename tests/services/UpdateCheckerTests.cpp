#include "ServicesTestSupport.h"

#include "services/UpdateChecker.h"

#include "VirtualTimeSleeper.h"

#include <QSignalSpy>

namespace quillby::test {
namespace {

constexpr double kDay = 86400;
constexpr double kMidnight = 1'800'000'000.0 - 28800.0;   // 2027-01-15 00:00:00 UTC

// A controller that records what the checker asks of it and reports what a test tells it to.
class RecordingUpdateController final : public SparkleUpdateControlling {
public:
    bool automaticallyChecksForUpdates() const override { return true; }
    bool automaticallyDownloadsUpdates() const override { return downloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override { downloads = enabled; }
    std::optional<Date> lastUpdateCheckDate() const override { return std::nullopt; }
    bool hasPendingInstallOnQuit() const override { return pending; }
    void start() override { ++starts; }
    void checkForUpdates() override { ++checks; }
    bool installPendingUpdate() override
    {
        const bool had = pending;
        pending = false;
        installs += had ? 1 : 0;
        return had;
    }
    void emitState(SparkleUpdateState state) { report(state); }

    bool downloads = false;
    bool pending = false;
    int starts = 0;
    int checks = 0;
    int installs = 0;
};

struct CheckerFixture : ServerFixture {
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::uint64_t jitterMs = 0;
    RecordingUpdateController *controller = nullptr;

    std::unique_ptr<UpdateChecker> makeChecker()
    {
        AlivePingService::Dependencies d;
        d.connection = connection();
        d.aliveURL = app_server::endpointURL(origin(), app_server::kAlivePath);
        d.authProvider = makeProvider();
        d.scheduleStore = std::make_shared<UserDefaultsAlivePingScheduleStore>(defaults);
        d.clock = clock;
        d.sleeper = sleeper;
        d.randomUInt64 = [this](std::uint64_t, std::uint64_t) { return jitterMs; };
        UpdateChecker::Dependencies c;
        auto recording = std::make_unique<RecordingUpdateController>();
        controller = recording.get();
        c.sparkleController = std::move(recording);
        c.alivePingService = std::make_shared<AlivePingService>(std::move(d));
        c.clock = clock;
        c.sleeper = sleeper;
        c.shortVersion = QStringLiteral("1.4.2");
        return std::make_unique<UpdateChecker>(std::move(c));
    }
};

// Waits (in real time, bounded) for the next heartbeat attempt to finish.
void waitForAttempt(UpdateChecker &checker, QSignalSpy &spy, int count)
{
    while (spy.count() < count) {
        ASSERT_TRUE(spy.wait(10000)) << "no heartbeat attempt " << count;
    }
    (void)checker;
}

TEST(UpdateChecker, HeartbeatOncePerUtcDayWithJitterAfterMidnight)
{
    CheckerFixture f;
    f.clock->setNow(kMidnight + 12 * 3600);
    auto checker = f.makeChecker();
    QSignalSpy attempts(checker.get(), &UpdateChecker::alivePingAttemptFinished);
    checker->start();
    checker->start();   // a second start changes nothing
    EXPECT_EQ(f.controller->starts, 1);
    waitForAttempt(*checker, attempts, 1);
    EXPECT_EQ(checker->lastAlivePingResult(), AlivePingResult::sent);
    VirtualTimeSleeper::drain();
    ASSERT_EQ(f.sleeper->requests.back(), 12 * 3600);   // sleeps until UTC midnight

    f.jitterMs = 30000;
    ASSERT_TRUE(f.sleeper->runNext());                  // midnight: the jitter sleep starts
    VirtualTimeSleeper::drain();
    ASSERT_EQ(f.sleeper->requests.back(), 30.0);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 1u);
    ASSERT_TRUE(f.sleeper->runNext());
    waitForAttempt(*checker, attempts, 2);
    EXPECT_EQ(checker->lastAlivePingResult(), AlivePingResult::sent);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 2u);
    EXPECT_EQ(f.clock->now(), kMidnight + kDay + 30);
    VirtualTimeSleeper::drain();
    EXPECT_EQ(f.sleeper->requests.back(), kDay - 30);

    checker->stop();
    VirtualTimeSleeper::drain();
    EXPECT_EQ(f.sleeper->pendingCount(), 0u);
    EXPECT_FALSE(checker->isStarted());
}

TEST(UpdateChecker, AFailedFirstAttemptIsRetriedThatDayOnTheCappedSchedule)
{
    CheckerFixture f;
    f.clock->setNow(kMidnight + 3600);
    for (int i = 0; i < 8; ++i) {
        f.server.enqueueReply("/api/alive", ScriptedReply::json(500, {{"error", "down"}}));
    }
    auto checker = f.makeChecker();
    QSignalSpy attempts(checker.get(), &UpdateChecker::alivePingAttemptFinished);
    checker->start();
    const double expected[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 21600};
    double elapsed = 3600;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        waitForAttempt(*checker, attempts, i + 1);
        EXPECT_EQ(checker->lastAlivePingResult(), AlivePingResult::failed);
        VirtualTimeSleeper::drain();
        const double toMidnight = kDay - elapsed;
        ASSERT_EQ(f.sleeper->requests.back(), std::min(expected[i], toMidnight));
        elapsed += f.sleeper->requests.back();
        ASSERT_TRUE(f.sleeper->runNext());
    }
    // The ninth attempt, at 17:35, goes through; the next wake-up is UTC midnight.
    waitForAttempt(*checker, attempts, 9);
    EXPECT_EQ(checker->lastAlivePingResult(), AlivePingResult::sent);
    EXPECT_EQ(f.clock->now(), kMidnight + 63300);
    VirtualTimeSleeper::drain();
    EXPECT_EQ(f.sleeper->requests.back(), kDay - 63300);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 9u);
    checker->stop();
}

TEST(UpdateChecker, InstalledVersionAndUpdateState)
{
    struct Case {
        const char *shortVersion;
        const char *build;
        const char *expected;
    };
    const Case cases[] = {
        {"1.4", "27", "1.4 (27)"}, {"1.4", "1.4", "1.4"}, {"1.4", "", "1.4"}, {"", "27", "Unknown (27)"}, {"", "", "Unknown"},
    };
    for (const Case &c : cases) {
        UpdateChecker::Dependencies d;
        d.shortVersion = QString::fromLatin1(c.shortVersion);
        d.buildVersion = QString::fromLatin1(c.build);
        EXPECT_EQ(UpdateChecker(std::move(d)).installedVersion(), QString::fromLatin1(c.expected));
    }

    UpdateChecker::Dependencies d;
    auto recording = std::make_unique<RecordingUpdateController>();
    RecordingUpdateController *controller = recording.get();
    d.sparkleController = std::move(recording);
    UpdateChecker checker(std::move(d));
    QSignalSpy changes(&checker, &UpdateChecker::updateAvailabilityChanged);
    controller->emitState(SparkleUpdateState::updateReady);
    EXPECT_TRUE(checker.isUpdateAvailable());
    EXPECT_EQ(checker.currentSparkleUpdateState(), SparkleUpdateState::updateReady);
    controller->emitState(SparkleUpdateState::none);
    EXPECT_FALSE(checker.isUpdateAvailable());
    EXPECT_EQ(changes.count(), 2);

    checker.installDownloadedUpdateNow(QStringLiteral("system-sleep"));
    EXPECT_EQ(controller->installs, 0);   // nothing waits: nothing happens
    controller->pending = true;
    checker.installDownloadedUpdateNow(QStringLiteral("display-sleep"));
    checker.installDownloadedUpdateNow(QStringLiteral("display-sleep"));
    EXPECT_EQ(controller->installs, 1);

    checker.setAutomaticallyDownloadsUpdates(true);
    EXPECT_TRUE(checker.automaticallyDownloadsUpdates());
    checker.checkForUpdates();
    EXPECT_EQ(controller->checks, 1);
}

TEST(UpdateChecker, RandomDrawsStayInTheirRange)
{
    for (int i = 0; i < 200; ++i) {
        const auto value = UpdateChecker::randomUInt64(5, 9);
        ASSERT_GE(value, 5u);
        ASSERT_LE(value, 9u);
    }
    EXPECT_EQ(UpdateChecker::randomUInt64(7, 7), 7u);
    (void)UpdateChecker::randomUInt64(0, std::numeric_limits<std::uint64_t>::max());
}

} // namespace
} // namespace quillby::test
