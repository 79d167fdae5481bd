#include "services/FeedbackPromptController.h"

#include "core/UserDefaults.h"
#include "platform/DesktopNotifications.h"

#include "FakeClock.h"
#include "FakeNotificationServer.h"
#include "ServicesTestSupport.h"
#include "VirtualTimeSleeper.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

constexpr double kDay = 86400;

class FeedbackPromptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP() << "needs a session bus (run under scripts/with-session.sh)";
        }
        server = std::make_unique<FakeNotificationServer>();
        ASSERT_TRUE(server->isRegistered());
        center = std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus(), server->service());
        FeedbackPromptController::Dependencies d;
        d.defaults = defaults;
        d.feedbackEligibilityDays = 90;
        d.notificationCenter = center;
        d.clock = clock;
        d.sleeper = sleeper;
        d.calendar = LocalCalendar(std::string("Europe/Berlin"));
        controller = std::make_unique<FeedbackPromptController>(std::move(d));
    }

    void setFirstLaunch(Date date) { defaults::writeDate(*defaults, FeedbackPromptController::kFirstLaunchKey, date); }
    void waitForPost(QSignalSpy &spy, int count)
    {
        while (spy.count() < count) {
            ASSERT_TRUE(spy.wait(10000));
        }
    }

    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(1'800'000'000.0);
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::unique_ptr<FakeNotificationServer> server;
    std::shared_ptr<DesktopNotifications> center;
    std::unique_ptr<FeedbackPromptController> controller;
};

TEST_F(FeedbackPromptTest, WaitsForTheEligibleDateThenPostsOnce)
{
    controller->recordFirstLaunchIfNeeded();
    const auto first = defaults::readDate(*defaults, FeedbackPromptController::kFirstLaunchKey);
    ASSERT_TRUE(first);
    clock->advance(10);
    controller->recordFirstLaunchIfNeeded();   // a later launch keeps the first date
    EXPECT_EQ(defaults::readDate(*defaults, FeedbackPromptController::kFirstLaunchKey), first);

    // 89 days and 23 hours later (across a daylight-saving change: still 90 calendar days).
    setFirstLaunch(clock->now() - 90 * kDay + 3600);
    controller->canPresentPrompt = true;
    QSignalSpy posts(controller.get(), &FeedbackPromptController::postAttemptFinished);
    controller->refreshEligibility();
    EXPECT_FALSE(controller->isPromptVisible());
    EXPECT_TRUE(controller->hasEligibilityTask());
    VirtualTimeSleeper::drain();
    ASSERT_FALSE(sleeper->requests.empty());
    const double wait = sleeper->requests.back();
    EXPECT_GE(wait, 3600 - 3600);   // up to an hour, give or take the daylight-saving hour
    EXPECT_LE(wait, 3600 + 3600);
    ASSERT_TRUE(sleeper->runNext());
    waitForPost(posts, 1);
    EXPECT_TRUE(controller->isPromptVisible());
    ASSERT_EQ(server->notifications.size(), 1u);
    const auto &n = server->notifications.front();
    EXPECT_EQ(n.summary, FeedbackPromptController::kTitle);
    EXPECT_EQ(n.body, FeedbackPromptController::kBody);
    EXPECT_TRUE(n.actions.contains(FeedbackPromptController::kProvideAction));
    EXPECT_TRUE(n.actions.contains(FeedbackPromptController::kNeverShowAction));
    EXPECT_TRUE(n.actions.contains(QStringLiteral("Never show this notification again")));
    EXPECT_TRUE(defaults->contains(FeedbackPromptController::kNotificationSentKey));
    EXPECT_EQ(center->identifier(n.id), FeedbackPromptController::kPromptIdentifier);

    // Later refreshes keep it eligible but post nothing more.
    controller->refreshEligibility();
    waitForPost(posts, 2);
    EXPECT_EQ(server->notifications.size(), 1u);
}

TEST_F(FeedbackPromptTest, RefreshesInQuickSuccessionPostOneNotification)
{
    setFirstLaunch(clock->now() - 100 * kDay);
    controller->canPresentPrompt = true;
    QSignalSpy posts(controller.get(), &FeedbackPromptController::postAttemptFinished);
    controller->refreshEligibility();
    controller->refreshEligibility();   // while the first post is still asking the server
    controller->refreshEligibility();
    waitForPost(posts, 3);
    VirtualTimeSleeper::drain();
    EXPECT_EQ(server->notifications.size(), 1u);
}

TEST_F(FeedbackPromptTest, NotPostedWhileNotAllowedOrWithoutAServer)
{
    setFirstLaunch(clock->now() - 90 * kDay);   // exactly at the eligible date
    controller->canPresentPrompt = false;
    controller->refreshEligibility();
    EXPECT_FALSE(controller->isPromptVisible());
    EXPECT_FALSE(controller->hasEligibilityTask());

    controller->canPresentPrompt = true;
    // 90 calendar days in the local time zone: an hour more here, where winter time began between.
    const auto eligible = controller->eligibleDate();
    ASSERT_TRUE(eligible);
    EXPECT_EQ(*eligible, clock->now() + 3600);
    clock->setNow(*eligible);
    EXPECT_TRUE(controller->isEligible(clock->now()));   // the comparison includes equality
    EXPECT_FALSE(controller->isEligible(clock->now() - 0.001));

    // No notification server answers: nothing posted, nothing recorded.
    FeedbackPromptController::Dependencies d;
    d.defaults = defaults;
    d.notificationCenter = std::make_shared<DesktopNotifications>(
        QDBusConnection::sessionBus(), QStringLiteral("org.quillby.test.NobodyHome"));
    d.clock = clock;
    d.sleeper = sleeper;
    FeedbackPromptController lonely(std::move(d));
    lonely.canPresentPrompt = true;
    QSignalSpy posts(&lonely, &FeedbackPromptController::postAttemptFinished);
    lonely.refreshEligibility();
    waitForPost(posts, 1);
    EXPECT_TRUE(server->notifications.empty());
    EXPECT_FALSE(defaults->contains(FeedbackPromptController::kNotificationSentKey));

    defaults->setValue(FeedbackPromptController::kFirstLaunchKey, 42);   // not a date: never eligible
    EXPECT_FALSE(controller->isEligible(clock->now() + 1000 * kDay));
}

TEST_F(FeedbackPromptTest, DismissalAndSubmissionEndThePromptForGood)
{
    for (const bool submitted : {false, true}) {
        SCOPED_TRACE(submitted);
        defaults->clear();
        setFirstLaunch(clock->now() - 120 * kDay);
        controller->canPresentPrompt = true;
        QSignalSpy posts(controller.get(), &FeedbackPromptController::postAttemptFinished);
        controller->refreshEligibility();
        waitForPost(posts, 1);
        ASSERT_FALSE(server->notifications.empty());
        const quint32 id = server->notifications.back().id;
        server->closeRequests.clear();
        if (submitted) {
            controller->recordSubmission();
        } else {
            controller->recordDismissal();
        }
        ASSERT_TRUE(waitFor([&] { return server->closeRequests.size() == 1; }));
        EXPECT_EQ(server->closeRequests.front(), id);
        EXPECT_FALSE(controller->isPromptVisible());
        EXPECT_FALSE(controller->hasEligibilityTask());
        EXPECT_FALSE(controller->isEligible(clock->now() + 1000 * kDay));
    }
    // Submitting before the 90 days also ends it.
    defaults->clear();
    setFirstLaunch(clock->now());
    controller->recordSubmission();
    EXPECT_FALSE(controller->hasEligibilityTask());
}

} // namespace
} // namespace quillby::test
