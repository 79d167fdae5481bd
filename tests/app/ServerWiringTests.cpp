// The composition root's wiring of the product server: which path each service talks to, the
// one registration lock both share, and the sleep hooks that install a waiting update.

#include "AppHarness.h"

#include "core/async/RunDetached.h"
#include "services/AlivePingService.h"
#include "services/AppServerAuthProvider.h"
#include "services/FeedbackFormViewModel.h"
#include "services_window/FeedbackWindowController.h"
#include "platform/SleepWakeMonitor.h"
#include "settings/SettingsLauncher.h"
#include "settings/SettingsTab.h"

#include "FakeKeychainItemStore.h"
#include "FakeProductServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLabel>
#include <QScopeGuard>
#include <QSemaphore>
#include <QUuid>

#include <atomic>

namespace quillby::test {
namespace {

// The whole program with the product server at a loopback fake and its credentials in an
// in-memory keyring, onboarded and signed in.
struct ServerWiring {
    FakeProductServer server;
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();
    AppHarness harness;

    ServerWiring()
    {
        harness.dexcom.setReadings({FakeDexcomServer::record(100, "Flat", now() - 30)});
        harness.updateChecker.reset();
        harness.productServerURL = QString::fromStdString(server.origin());
        harness.keychainItemStores = FakeKeyring::factory(keyring);
        harness.buildOnboarded();
    }

    UpdateChecker &checker() { return harness.app->updateChecker(); }

    // Sends feedback through the feedback window, as a person would.
    void sendFeedback(const QString &message)
    {
        FeedbackWindowController &window = harness.app->feedbackWindowController();
        window.show();
        ASSERT_NE(window.feedbackWindow(), nullptr);
        auto *model = window.feedbackWindow()->findChild<FeedbackFormViewModel *>();
        ASSERT_NE(model, nullptr);
        model->setMessage(message);
        runDetached(model->submit());
    }

    std::size_t registrations() const { return server.requestCount("/api/alive/register"); }
};

// The Settings window's links lead to the web site at the server's address the program was
// built with, not to an address of the window's own.
TEST(ServerWiring, SettingsLinksLeadToTheServersWebSite)
{
    ServerWiring w;
    w.harness.app->settingsLauncher().show(SettingsTab::about);
    QWidget *window = w.harness.app->settingsLauncher().settingsWindow();
    ASSERT_NE(window, nullptr);
    QStringList links;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->textFormat() == Qt::RichText && label->text().contains(QStringLiteral("href="))) {
            links << label->text();
        }
    }
    ASSERT_FALSE(links.isEmpty());
    const QString origin = QString::fromStdString(w.server.origin());
    for (const QString &link : links) {
        EXPECT_TRUE(link.contains(QStringLiteral("href=\"") + origin + QLatin1Char('/'))) << link.toStdString();
    }
}

// A heartbeat wait may include the spread of up to a minute just after UTC midnight.
constexpr int kHeartbeatBoundMs = 90000;

TEST(ServerWiring, HeartbeatAndFeedbackReachTheirOwnPathsSigned)
{
    ServerWiring w;
    QSignalSpy attempts(&w.checker(), &UpdateChecker::alivePingAttemptFinished);
    w.harness.launch();
    ASSERT_TRUE(waitUntil([&] { return attempts.count() >= 1; }, kHeartbeatBoundMs));
    ASSERT_TRUE(w.checker().lastAlivePingResult());
    EXPECT_EQ(*w.checker().lastAlivePingResult(), AlivePingResult::sent);
    const auto heartbeats = w.server.requests("/api/alive");
    ASSERT_EQ(heartbeats.size(), 1u);
    EXPECT_EQ(heartbeats.front().header("X-Quillby-Heartbeat"), std::optional<std::string>("1"));
    EXPECT_FALSE(heartbeats.front().json().contains("message"));
    EXPECT_EQ(w.server.requestCount("/api/feedback"), 0u);

    w.sendFeedback(QStringLiteral("The graph is lovely."));
    ASSERT_TRUE(waitUntil([&] { return w.harness.app->feedbackWindowController().feedbackWindow() == nullptr; }));
    const auto feedback = w.server.requests("/api/feedback");
    ASSERT_EQ(feedback.size(), 1u);
    EXPECT_EQ(feedback.front().header("X-Quillby-Feedback"), std::optional<std::string>("1"));
    EXPECT_EQ(feedback.front().json().value("message", ""), "The graph is lovely.");
    EXPECT_EQ(w.server.requestCount("/api/alive"), 1u);
    // Both stood on the one registration and the one keyring item.
    EXPECT_EQ(w.registrations(), 1u);
    EXPECT_TRUE(w.server.allSignaturesValid());
}

TEST(ServerWiring, HeartbeatAndFeedbackRegisterOnceBetweenThem)
{
    ServerWiring w;
    // The heartbeat's registration stops while it stores its credentials, still holding its turn
    // to register, until the test lets it go.
    std::atomic<bool> storing = false;
    QSemaphore proceed;
    w.keyring->setBeforeWrite([&](const QByteArray &) {
        if (!storing.exchange(true)) {
            proceed.acquire();
        }
    });
    const auto release = qScopeGuard([&] { proceed.release(1000); });
    QSignalSpy attempts(&w.checker(), &UpdateChecker::alivePingAttemptFinished);
    w.harness.launch();
    ASSERT_TRUE(waitUntil([&] { return storing.load(); }, kHeartbeatBoundMs));
    ASSERT_EQ(w.registrations(), 1u);

    // Feedback now finds no credentials and waits behind the heartbeat's registration.
    w.sendFeedback(QStringLiteral("Hello"));
    AsyncSerialQueue &lock = w.checker().alivePingService()->authProvider().registrationLock();
    EXPECT_TRUE(waitUntil([&] { return lock.waitingCount() == 1; }));
    proceed.release();

    ASSERT_TRUE(waitUntil([&] { return attempts.count() >= 1; }));
    ASSERT_TRUE(waitUntil([&] { return w.harness.app->feedbackWindowController().feedbackWindow() == nullptr; }));
    EXPECT_EQ(w.registrations(), 1u);
    EXPECT_EQ(w.server.requestCount("/api/alive"), 1u);
    EXPECT_EQ(w.server.requestCount("/api/feedback"), 1u);
    EXPECT_TRUE(w.server.allSignaturesValid());
}

// An update controller with a downloaded update waiting, counting installations.
class WaitingUpdateController final : public SparkleUpdateControlling {
public:
    bool automaticallyChecksForUpdates() const override { return false; }
    bool automaticallyDownloadsUpdates() const override { return false; }
    void setAutomaticallyDownloadsUpdates(bool) override {}
    std::optional<Date> lastUpdateCheckDate() const override { return std::nullopt; }
    bool hasPendingInstallOnQuit() const override { return true; }
    void start() override {}
    void checkForUpdates() override {}
    bool installPendingUpdate() override
    {
        ++installs;
        return true;
    }
    int installs = 0;
};

TEST(ServerWiring, SystemAndScreenSleepInstallAWaitingUpdate)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    StandInLogind logind;
    ASSERT_TRUE(logind.registered);

    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(100, "Flat", now() - 30)});
    UpdateChecker::Dependencies checker;
    auto controller = std::make_unique<WaitingUpdateController>();
    WaitingUpdateController *waiting = controller.get();
    checker.sparkleController = std::move(controller);
    harness.updateChecker = std::make_unique<UpdateChecker>(std::move(checker));
    harness.sleepWakeMonitor = &logind.monitor;
    harness.buildOnboarded();
    harness.launch();
    harness.waitForAccountTask();
    ASSERT_EQ(waiting->installs, 0);

    QDBusMessage sleep = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                    QStringLiteral("org.freedesktop.login1.Manager"),
                                                    QStringLiteral("PrepareForSleep"));
    sleep << true;
    logind.connection.send(sleep);
    EXPECT_TRUE(waitUntil([&] { return waiting->installs == 1; }));
    emit logind.monitor.screensDidSleep();
    EXPECT_EQ(waiting->installs, 2);
}

} // namespace
} // namespace quillby::test
