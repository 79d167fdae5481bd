#include "platform/SingleInstanceGuard.h"
#include "platform/SleepWakeMonitor.h"
#include "WaitUntil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QLocalServer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

namespace quillby {
namespace {

void emitBoolSignal(const QString &path, const QString &interface, const QString &name, bool value)
{
    QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
    message << value;
    QDBusConnection::sessionBus().send(message);
}

// A connection of its own on the session bus, which stands in for the system bus here.
class BusPeer {
public:
    explicit BusPeer(const QString &name) : name_(name), connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {}
    ~BusPeer() { QDBusConnection::disconnectFromBus(name_); }
    QDBusConnection &connection() { return connection_; }
    void emitBoolSignal(const QString &path, const QString &interface, const QString &signal, bool value)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, signal);
        message << value;
        connection_.send(message);
        // A call answered by the bus after the signal: the bus has routed the signal by then.
        connection_.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    }

private:
    QString name_;
    QDBusConnection connection_;
};

TEST(SleepWakeMonitor, MapsLogindAndScreenSaverSignals)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    BusPeer logind(QStringLiteral("quillby-test-logind"));
    BusPeer impostor(QStringLiteral("quillby-test-impostor"));
    // logind's name, unique to this test (tests run side by side on one session bus).
    const QString logindName = QStringLiteral("org.quillby.test.login1.u") + QUuid::createUuid().toString(QUuid::Id128);
    ASSERT_TRUE(logind.connection().registerService(logindName));
    SleepWakeMonitor monitor(QDBusConnection::sessionBus(), QDBusConnection::sessionBus(), nullptr, logindName);
    QSignalSpy wake(&monitor, &SleepWakeMonitor::didWake);
    QSignalSpy sleep(&monitor, &SleepWakeMonitor::willSleep);
    QSignalSpy screens(&monitor, &SleepWakeMonitor::screensDidSleep);

    const QString path = QStringLiteral("/org/freedesktop/login1");
    const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
    // Only logind may announce sleep and wake: another process's signal of the same name is
    // ignored. It is sent first, so it arrives before logind's.
    impostor.emitBoolSignal(path, manager, QStringLiteral("PrepareForSleep"), true);
    logind.emitBoolSignal(path, manager, QStringLiteral("PrepareForSleep"), false);
    ASSERT_TRUE(wake.wait(test::scaledTimeoutMs(30000)));
    EXPECT_EQ(sleep.count(), 0);
    logind.emitBoolSignal(path, manager, QStringLiteral("PrepareForSleep"), true);
    ASSERT_TRUE(sleep.wait(test::scaledTimeoutMs(30000)));

    const QString saver = QStringLiteral("org.freedesktop.ScreenSaver");
    emitBoolSignal(QStringLiteral("/org/freedesktop/ScreenSaver"), saver, QStringLiteral("ActiveChanged"), false);
    emitBoolSignal(QStringLiteral("/ScreenSaver"), saver, QStringLiteral("ActiveChanged"), true);
    ASSERT_TRUE(screens.wait(test::scaledTimeoutMs(30000)));
    EXPECT_EQ(screens.count(), 1);   // the screensaver ending is not a screen sleep
    EXPECT_EQ(sleep.count(), 1);
    EXPECT_EQ(wake.count(), 1);
    logind.connection().unregisterService(logindName);
}

TEST(SingleInstanceGuard, SecondLaunchAsksTheFirstToReopen)
{
    const QString name = QStringLiteral("quillby-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    SingleInstanceGuard first(name);
    ASSERT_EQ(first.acquire(), SingleInstanceGuard::Acquisition::running);
    QSignalSpy reopen(&first, &SingleInstanceGuard::reopenRequested);

    // The launch waits for the answer on a local event loop, in which the first one answers.
    SingleInstanceGuard second(name);
    EXPECT_EQ(second.acquire(), SingleInstanceGuard::Acquisition::reopened);
    ASSERT_TRUE(test::waitUntil([&] { return reopen.count() == 1; }));
}

TEST(SingleInstanceGuard, StaleSocketFromACrashedInstanceIsReplaced)
{
    const QString name = QStringLiteral("quillby-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QLocalServer crashed;
        ASSERT_TRUE(crashed.listen(name));
        crashed.close();   // leaves no listener behind
    }
    SingleInstanceGuard guard(name);
    EXPECT_EQ(guard.acquire(), SingleInstanceGuard::Acquisition::running);
}

} // namespace
} // namespace quillby

namespace quillby {
namespace {

TEST(SingleInstanceGuard, RunsEvenWhenItCannotListen)
{
    // A name in a folder that does not exist cannot be listened on; nobody answers either.
    SingleInstanceGuard guard(QStringLiteral("/nonexistent-quillby-folder/socket"));
    EXPECT_EQ(guard.acquire(), SingleInstanceGuard::Acquisition::running);
}

} // namespace
} // namespace quillby

namespace quillby {
namespace {

// The socket lives in the user's private runtime folder. A listener that another local user
// could place in /tmp under the old name neither answers nor blocks a launch.
TEST(SingleInstanceGuard, DefaultSocketIsPrivateToTheUser)
{
    // A runtime folder of this test's own, so no running instance elsewhere in the session answers.
    QTemporaryDir runtimeFolder;
    ASSERT_TRUE(runtimeFolder.isValid());
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtimeFolder.path().toLocal8Bit());
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", previousRuntime); });
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    ASSERT_FALSE(runtime.isEmpty());
    const QString name = SingleInstanceGuard::defaultSocketName();
    EXPECT_TRUE(name.startsWith(runtime + QLatin1Char('/'))) << name.toStdString();

    // Someone else's listener under the name in the shared temporary folder.
    QLocalServer squatter;
    QLocalServer::removeServer(QStringLiteral("quillby-%1").arg(::getuid()));
    ASSERT_TRUE(squatter.listen(QStringLiteral("quillby-%1").arg(::getuid())));
    SingleInstanceGuard guard;
    EXPECT_EQ(guard.acquire(), SingleInstanceGuard::Acquisition::running);
    QSignalSpy reopen(&guard, &SingleInstanceGuard::reopenRequested);
    SingleInstanceGuard second;
    // The second launch reaches us, not the squatter.
    EXPECT_EQ(second.acquire(), SingleInstanceGuard::Acquisition::reopened);
    ASSERT_TRUE(test::waitUntil([&] { return reopen.count() == 1; }, 30000));
}

} // namespace
} // namespace quillby
