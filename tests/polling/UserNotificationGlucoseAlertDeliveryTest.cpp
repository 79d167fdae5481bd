#include "polling/UserNotificationGlucoseAlertDelivery.h"

#include "FakeNotificationServer.h"
#include "TaskRunner.h"
#include "WaitUntil.h"
#include "platform/DesktopNotifications.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using State = GlucoseAlertAuthorizationState;

bool hasSessionBus() { return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"); }

class UserNotificationGlucoseAlertDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hasSessionBus()) {
            GTEST_SKIP() << "needs a session bus (run under dbus-run-session or scripts/with-session.sh)";
        }
        server = std::make_unique<test::FakeNotificationServer>();
        ASSERT_TRUE(server->isRegistered());
        notifications = std::make_shared<DesktopNotifications>(QDBusConnection::sessionBus(), server->service());
        delivery = std::make_unique<UserNotificationGlucoseAlertDelivery>(notifications);
    }

    std::unique_ptr<test::FakeNotificationServer> server;
    std::shared_ptr<DesktopNotifications> notifications;
    std::unique_ptr<UserNotificationGlucoseAlertDelivery> delivery;
};

TEST_F(UserNotificationGlucoseAlertDeliveryTest, RunningServerIsAuthorizedWithoutAsking)
{
    EXPECT_EQ(test::runTask(delivery->authorizationState()), State::authorized);
    EXPECT_TRUE(test::runTask(delivery->requestAuthorizationIfNeeded()));
    EXPECT_TRUE(test::runTask(delivery->requestAuthorizationIfNeeded()));
}

TEST_F(UserNotificationGlucoseAlertDeliveryTest, EachAlertIsItsOwnTimeSensitiveNotification)
{
    test::runTask(delivery->sendNotification("Low glucose alert", "65 mg/dL → (low threshold 72 mg/dL)"));
    test::runTask(delivery->sendNotification("Low glucose alert", "64 mg/dL → (low threshold 72 mg/dL)"));

    ASSERT_EQ(server->notifications.size(), 2u);
    const auto &first = server->notifications[0];
    EXPECT_EQ(first.summary, QStringLiteral("Low glucose alert"));
    EXPECT_EQ(first.body, QStringLiteral("65 mg/dL → (low threshold 72 mg/dL)"));
    EXPECT_EQ(first.replacesId, 0u);   // never replaces an earlier alert
    EXPECT_EQ(first.hints.value(QStringLiteral("urgency")).toUInt(), 2u);
    EXPECT_EQ(first.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
    EXPECT_TRUE(first.actions.isEmpty());

    const QString a = notifications->identifier(server->notifications[0].id);
    const QString b = notifications->identifier(server->notifications[1].id);
    const QRegularExpression form(QStringLiteral(
        "^glucose-alert-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(form.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}

TEST_F(UserNotificationGlucoseAlertDeliveryTest, IdentifierIsThePrefixAndTheUUID)
{
    UserNotificationGlucoseAlertDelivery pinned(notifications, [] {
        return QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");
    });
    test::runTask(pinned.sendNotification("t", "b"));
    ASSERT_EQ(server->notifications.size(), 1u);
    EXPECT_EQ(notifications->identifier(server->notifications[0].id),
              QStringLiteral("glucose-alert-0F8FAD5B-D9CB-469F-A165-70867728950E"));
}

TEST_F(UserNotificationGlucoseAlertDeliveryTest, RefusedOrMissingServerFailsTheSend)
{
    server->notifyErrorName = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
    try {
        test::runTask(delivery->sendNotification("t", "b"));
        FAIL() << "expected a refusal";
    } catch (const GlucoseAlertDeliveryError &error) {
        EXPECT_EQ(error.kind, GlucoseAlertDeliveryError::Case::notificationRejected);
    }

    server->stop();
    EXPECT_EQ(test::runTask(delivery->authorizationState()), State::denied);
    EXPECT_FALSE(test::runTask(delivery->requestAuthorizationIfNeeded()));   // none runs, none can start
    try {
        test::runTask(delivery->sendNotification("t", "b"));
        FAIL() << "expected no server";
    } catch (const GlucoseAlertDeliveryError &error) {
        EXPECT_EQ(error.kind, GlucoseAlertDeliveryError::Case::notificationServerUnavailable);
    }
}

TEST(UserNotificationGlucoseAlertDeliveryWithoutBus, NoBusMeansDeniedAndSendingFails)
{
    auto notifications = std::make_shared<DesktopNotifications>(QDBusConnection(QStringLiteral("quillby-no-such-bus")));
    UserNotificationGlucoseAlertDelivery delivery(notifications);
    EXPECT_EQ(test::runTask(delivery.authorizationState()), State::denied);
    EXPECT_FALSE(test::runTask(delivery.requestAuthorizationIfNeeded()));
    try {
        test::runTask(delivery.sendNotification("t", "b"));
        FAIL() << "expected no server";
    } catch (const GlucoseAlertDeliveryError &error) {
        EXPECT_EQ(error.kind, GlucoseAlertDeliveryError::Case::notificationServerUnavailable);
    }
}

TEST(UserNotificationGlucoseAlertDeliveryTexts, LinuxHintSaysHowToGetANotificationService)
{
    EXPECT_STREQ(kEnableNotificationsHint,
                 "No notification service answers on this desktop. Start or enable your desktop’s notification "
                 "service (where the desktop has none, a notification daemon such as dunst), then check again. "
                 "Until then, the panel and the Quillby menu still show each reading.");
}

// A private bus daemon on which our service name is activatable. The server it starts is
// given as a command; every start attempt (and, for the fake daemon, every notification shown)
// is logged to a file.
class PrivateBus {
public:
    static constexpr const char *kService = "org.quillby.test.ActivatableNotifications";

    // A server that exits at once: the bus can start it, but it never answers.
    static QString failingServer(const QString &log) { return QStringLiteral("/bin/sh -c 'echo start >> %1; exit 1'").arg(log); }
    // A server that shows one notification and exits.
    static QString oneShotServer(const QString &log)
    {
        return QStringLiteral("%1 %2 %3").arg(QStringLiteral(QUILLBY_FAKE_NOTIFICATION_DAEMON), QLatin1String(kService), log);
    }

    bool start(const std::function<QString(const QString &log)> &server)
    {
        if (!directory.isValid() || QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            return false;
        }
        const QString services = directory.filePath(QStringLiteral("services"));
        QDir().mkpath(services);
        write(services + QStringLiteral("/test.service"),
              QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2\n").arg(QLatin1String(kService), server(logPath())));
        const QString config = directory.filePath(QStringLiteral("bus.conf"));
        write(config, QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                     "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                     "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                     "<servicedir>%2</servicedir><policy context=\"default\">"
                                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                     "<allow own=\"*\"/></policy></busconfig>\n")
                          .arg(directory.path(), services));
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!daemon.waitForReadyRead(test::scaledTimeoutMs(30000))) {
            return false;
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, connectionName));
        return connection->isConnected();
    }

    QStringList logLines() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int startAttempts() const { return static_cast<int>(logLines().count(QStringLiteral("start"))); }

    bool serviceRunning() const
    {
        return connection->interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
    }

    ~PrivateBus()
    {
        connection.reset();
        QDBusConnection::disconnectFromBus(connectionName);
        daemon.kill();
        daemon.waitForFinished(test::scaledTimeoutMs(30000));
    }

    QTemporaryDir directory;
    QProcess daemon;
    QString address;
    const QString connectionName = QStringLiteral("quillby-private-test-bus");
    std::unique_ptr<QDBusConnection> connection;

private:
    QString logPath() const { return directory.filePath(QStringLiteral("starts.log")); }
    static void write(const QString &path, const QString &text)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(text.toUtf8());
        }
    }
};

// What the alert step does for each alert it decides on.
QCoro::Task<bool> deliverAlert(UserNotificationGlucoseAlertDelivery &delivery, std::string title)
{
    if (!co_await delivery.requestAuthorizationIfNeeded()) {
        co_return false;
    }
    co_await delivery.sendNotification(std::move(title), "body");
    co_return true;
}

// The bus starts the notification server for an alert; the server exits when idle (as MATE's
// daemon does 30 s after its last notification). Every later alert still goes through Notify,
// which starts the server again.
TEST(UserNotificationGlucoseAlertDeliveryActivation, BusStartedServerThatExitsStillGetsEveryAlert)
{
    PrivateBus bus;
    if (!bus.start(PrivateBus::oneShotServer)) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    auto notifications = std::make_shared<DesktopNotifications>(*bus.connection, QString::fromLatin1(PrivateBus::kService));
    UserNotificationGlucoseAlertDelivery delivery(notifications);
    EXPECT_EQ(test::runTask(delivery.authorizationState()), State::notDetermined);
    EXPECT_EQ(bus.startAttempts(), 0);   // reading the state never starts a server

    for (const char *title : {"Low glucose alert", "Rapid glucose drop", "Low glucose alert"}) {
        SCOPED_TRACE(title);
        EXPECT_TRUE(test::runTask(deliverAlert(delivery, title)));
        // The server has shown it and gone away again.
        ASSERT_TRUE(test::waitUntil([&] { return !bus.serviceRunning(); }, 60000));
        EXPECT_EQ(test::runTask(delivery.authorizationState()), State::notDetermined);
    }
    EXPECT_EQ(bus.logLines(), (QStringList{"start", "shown Low glucose alert", "start", "shown Rapid glucose drop",
                                           "start", "shown Low glucose alert"}));
}

// A server the bus cannot start: each alert is tried (and fails, for the alert step to log);
// none is refused in advance.
TEST(UserNotificationGlucoseAlertDeliveryActivation, ServerThatCannotStartFailsEachAlertOnItsOwn)
{
    PrivateBus bus;
    if (!bus.start(PrivateBus::failingServer)) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    auto notifications = std::make_shared<DesktopNotifications>(*bus.connection, QString::fromLatin1(PrivateBus::kService));
    UserNotificationGlucoseAlertDelivery delivery(notifications);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        try {
            test::runTask(deliverAlert(delivery, "Low glucose alert"));
            FAIL() << "expected the delivery to fail";
        } catch (const GlucoseAlertDeliveryError &error) {
            EXPECT_EQ(error.kind, GlucoseAlertDeliveryError::Case::notificationServerUnavailable);
        }
        EXPECT_EQ(bus.startAttempts(), attempt);
    }
}

// The one test against the notification daemon of the desktop session (CI runs it inside
// scripts/with-session.sh, which starts notification-daemon).
TEST(UserNotificationGlucoseAlertDeliveryInSession, RealDaemonShowsAnAlert)
{
    if (!hasSessionBus()) {
        GTEST_SKIP() << "needs a session bus";
    }
    const bool inTestSession = qgetenv("QUILLBY_IN_SESSION") == "1";
    auto *busInterface = QDBusConnection::sessionBus().interface();
    if (!inTestSession && !(busInterface && busInterface->isServiceRegistered(DesktopNotifications::kDefaultService))) {
        GTEST_SKIP() << "no notification daemon in this session";
    }
    auto notifications = std::make_shared<DesktopNotifications>();
    UserNotificationGlucoseAlertDelivery delivery(notifications);
    EXPECT_EQ(test::runTask(delivery.authorizationState()), State::authorized);
    EXPECT_TRUE(test::runTask(delivery.requestAuthorizationIfNeeded()));

    test::runTask(delivery.sendNotification("Quillby test alert", "Notifications are configured correctly."));
    // The daemon accepted it under an id of its own, which maps back to our identifier.
    ASSERT_EQ(notifications->shownNotifications().size(), 1);
    const quint32 id = notifications->shownNotifications().begin().key();
    const QString shownIdentifier = notifications->shownNotifications().begin().value();
    EXPECT_GT(id, 0u);
    EXPECT_TRUE(shownIdentifier.startsWith(QStringLiteral("glucose-alert-"))) << shownIdentifier.toStdString();
    test::runTask(notifications->close(shownIdentifier));
}

} // namespace
} // namespace quillby
