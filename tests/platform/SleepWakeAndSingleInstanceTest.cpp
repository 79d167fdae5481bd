#include "platform/SingleInstanceGuard.h"
#include "platform/SleepWakeMonitor.h"

#include <QDBusConnection>
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

TEST(SleepWakeMonitor, MapsLogindAndScreenSaverSignals)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    // The session bus stands in for the system bus here.
    SleepWakeMonitor monitor(QDBusConnection::sessionBus(), QDBusConnection::sessionBus());
    QSignalSpy wake(&monitor, &SleepWakeMonitor::didWake);
    QSignalSpy sleep(&monitor, &SleepWakeMonitor::willSleep);
    QSignalSpy screens(&monitor, &SleepWakeMonitor::screensDidSleep);

    const QString logind = QStringLiteral("org.freedesktop.login1.Manager");
    emitBoolSignal(QStringLiteral("/org/freedesktop/login1"), logind, QStringLiteral("PrepareForSleep"), true);
    ASSERT_TRUE(sleep.wait(5000));
    emitBoolSignal(QStringLiteral("/org/freedesktop/login1"), logind, QStringLiteral("PrepareForSleep"), false);
    ASSERT_TRUE(wake.wait(5000));

    const QString saver = QStringLiteral("org.freedesktop.ScreenSaver");
    emitBoolSignal(QStringLiteral("/org/freedesktop/ScreenSaver"), saver, QStringLiteral("ActiveChanged"), false);
    emitBoolSignal(QStringLiteral("/ScreenSaver"), saver, QStringLiteral("ActiveChanged"), true);
    ASSERT_TRUE(screens.wait(5000));
    EXPECT_EQ(screens.count(), 1);   // the screensaver ending is not a screen sleep
    EXPECT_EQ(sleep.count(), 1);
    EXPECT_EQ(wake.count(), 1);
}

TEST(SingleInstanceGuard, SecondLaunchAsksTheFirstToReopen)
{
    const QString name = QStringLiteral("quillby-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    SingleInstanceGuard first(name);
    ASSERT_TRUE(first.acquire());
    QSignalSpy reopen(&first, &SingleInstanceGuard::reopenRequested);

    SingleInstanceGuard second(name);
    EXPECT_FALSE(second.acquire());
    ASSERT_TRUE(reopen.wait(5000));
    EXPECT_EQ(reopen.count(), 1);
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
    EXPECT_TRUE(guard.acquire());
}

} // namespace
} // namespace quillby

namespace quillby {
namespace {

TEST(SingleInstanceGuard, RunsEvenWhenItCannotListen)
{
    // A name in a folder that does not exist cannot be listened on; nobody answers either.
    SingleInstanceGuard guard(QStringLiteral("/nonexistent-quillby-folder/socket"));
    EXPECT_TRUE(guard.acquire());
}

} // namespace
} // namespace quillby
