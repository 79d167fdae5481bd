#include "platform/DesktopNotifications.h"

#include "FakeNotificationServer.h"
#include "TaskRunner.h"
#include "WaitUntil.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using test::waitUntil;

class DesktopNotificationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP() << "needs a session bus (run under dbus-run-session or scripts/with-session.sh)";
        }
        server = std::make_unique<test::FakeNotificationServer>();
        ASSERT_TRUE(server->isRegistered());
        notifications = std::make_unique<DesktopNotifications>(QDBusConnection::sessionBus(), server->service());
    }

    std::unique_ptr<test::FakeNotificationServer> server;
    std::unique_ptr<DesktopNotifications> notifications;
};

TEST_F(DesktopNotificationsTest, NotifySendsTheRequestAndReturnsTheServerId)
{
    DesktopNotificationRequest request;
    request.identifier = QStringLiteral("quillby-feedback-prompt");
    request.title = QStringLiteral("Title ✓");
    request.body = QStringLiteral("Body → text");
    request.actions = {{QStringLiteral("quillby-feedback-provide"), QStringLiteral("Share feedback")},
                       {QStringLiteral("quillby-feedback-never-show"), QStringLiteral("Don’t show again")}};
    request.urgency = DesktopNotificationRequest::Urgency::critical;
    request.soundName = QStringLiteral("message-new-instant");
    request.expireTimeoutMs = 5000;

    const quint32 id = test::runTask(notifications->notify(request));
    ASSERT_EQ(server->notifications.size(), 1u);
    const auto &shown = server->notifications[0];
    EXPECT_EQ(shown.id, id);
    EXPECT_EQ(shown.appName, QStringLiteral("Quillby"));
    EXPECT_EQ(shown.replacesId, 0u);
    EXPECT_EQ(shown.summary, request.title);
    EXPECT_EQ(shown.body, request.body);
    EXPECT_EQ(shown.actions, (QStringList{QStringLiteral("quillby-feedback-provide"), QStringLiteral("Share feedback"),
                                          QStringLiteral("quillby-feedback-never-show"),
                                          QStringLiteral("Don’t show again")}));
    EXPECT_EQ(shown.hints.value(QStringLiteral("urgency")).toUInt(), 2u);
    EXPECT_EQ(shown.hints.value(QStringLiteral("urgency")).metaType(), QMetaType::fromType<uchar>());
    EXPECT_EQ(shown.hints.value(QStringLiteral("sound-name")).toString(), request.soundName);
    EXPECT_FALSE(shown.hints.contains(QStringLiteral("category")));
    // Servers take the icon and the per-application settings from the installed desktop entry.
    EXPECT_EQ(shown.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("quillby"));
    EXPECT_EQ(shown.expireTimeout, 5000);
    EXPECT_EQ(notifications->identifier(id), request.identifier);

    const auto information = test::runTask(notifications->serverInformation());
    ASSERT_TRUE(information);
    EXPECT_EQ(information->name, QStringLiteral("fake-notifications"));
}

TEST_F(DesktopNotificationsTest, SignalsReachTheNotificationsIdentifier)
{
    DesktopNotificationRequest request;
    request.identifier = QStringLiteral("glucose-alert-1");
    const quint32 first = test::runTask(notifications->notify(request));
    request.identifier = QStringLiteral("glucose-alert-2");
    const quint32 second = test::runTask(notifications->notify(request));

    std::vector<std::pair<QString, QString>> actions;
    std::vector<std::pair<QString, uint>> closed;
    QObject::connect(notifications.get(), &DesktopNotifications::actionInvoked,
                     [&](const QString &identifier, const QString &key) { actions.emplace_back(identifier, key); });
    QObject::connect(notifications.get(), &DesktopNotifications::notificationClosed,
                     [&](const QString &identifier, uint reason) { closed.emplace_back(identifier, reason); });

    server->emitActionInvoked(999, QStringLiteral("default"));   // not ours: ignored
    server->emitActionInvoked(second, QStringLiteral("default"));
    server->emitNotificationClosed(first, 2);
    ASSERT_TRUE(waitUntil([&] { return !actions.empty() && !closed.empty(); }));
    EXPECT_EQ(actions, (std::vector<std::pair<QString, QString>>{{QStringLiteral("glucose-alert-2"), QStringLiteral("default")}}));
    EXPECT_EQ(closed, (std::vector<std::pair<QString, uint>>{{QStringLiteral("glucose-alert-1"), 2u}}));
    EXPECT_TRUE(notifications->identifier(first).isEmpty());   // forgotten once closed

    // Closing by identifier asks the server with its id; an unknown identifier does nothing.
    test::runTask(notifications->close(QStringLiteral("glucose-alert-2")));
    test::runTask(notifications->close(QStringLiteral("glucose-alert-unknown")));
    EXPECT_EQ(server->closeRequests, std::vector<quint32>{second});
    ASSERT_TRUE(waitUntil([&] { return closed.size() == 2; }));
    EXPECT_EQ(closed[1], (std::pair<QString, uint>{QStringLiteral("glucose-alert-2"), 3u}));
}

// A server that never reports closing must not make the map of shown notifications grow
// without end: the newest ones stay known (their actions still arrive), the oldest are let go.
TEST_F(DesktopNotificationsTest, ShownNotificationsStayBoundedWhenTheServerNeverReportsClosing)
{
    const qsizetype limit = DesktopNotifications::kMaxTrackedNotifications;
    std::vector<quint32> ids;
    for (qsizetype i = 0; i < limit + 10; ++i) {
        DesktopNotificationRequest request;
        request.identifier = QStringLiteral("glucose-alert-%1").arg(i);
        ids.push_back(test::runTask(notifications->notify(request)));
    }
    EXPECT_EQ(notifications->shownNotifications().size(), limit);
    EXPECT_TRUE(notifications->identifier(ids.front()).isEmpty());
    EXPECT_EQ(notifications->identifier(ids.back()), QStringLiteral("glucose-alert-%1").arg(limit + 9));
    EXPECT_EQ(notifications->identifier(ids[10]), QStringLiteral("glucose-alert-10"));

    // Closing one frees its place, so the next one does not push out another.
    server->emitNotificationClosed(ids.back(), 2);
    ASSERT_TRUE(waitUntil([&] { return notifications->identifier(ids.back()).isEmpty(); }));
    DesktopNotificationRequest request;
    request.identifier = QStringLiteral("glucose-alert-last");
    test::runTask(notifications->notify(request));
    EXPECT_EQ(notifications->identifier(ids[10]), QStringLiteral("glucose-alert-10"));
    EXPECT_EQ(notifications->shownNotifications().size(), limit);
}

TEST_F(DesktopNotificationsTest, RefusalAndMissingServerAreTold)
{
    server->notifyErrorName = QStringLiteral("org.freedesktop.Notifications.Error.Refused");
    try {
        test::runTask(notifications->notify({}));
        FAIL() << "expected a refusal";
    } catch (const DesktopNotificationError &error) {
        EXPECT_EQ(error.kind, DesktopNotificationError::Case::rejected);
        EXPECT_EQ(error.dbusErrorName, server->notifyErrorName);
        EXPECT_NE(std::string(error.what()).find("refused by the fake server"), std::string::npos);
    }

    server->stop();
    EXPECT_FALSE(test::runTask(notifications->serverInformation()));
    EXPECT_FALSE(test::runTask(notifications->isServiceActivatable()));
    try {
        test::runTask(notifications->notify({}));
        FAIL() << "expected no server";
    } catch (const DesktopNotificationError &error) {
        EXPECT_EQ(error.kind, DesktopNotificationError::Case::noServer);
    }
}

} // namespace
} // namespace quillby
