#include "platform/TrayHostMonitor.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

namespace quillby {
namespace {

// A StatusNotifierWatcher stand-in: a connection of its own that owns the watcher's bus name.
class FakeWatcher {
public:
    explicit FakeWatcher(QString service)
        : service_(std::move(service)),
          name_(QStringLiteral("quillby-test-watcher-") + QUuid::createUuid().toString(QUuid::Id128)),
          connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_))
    {
    }
    ~FakeWatcher()
    {
        connection_.unregisterService(service_);
        QDBusConnection::disconnectFromBus(name_);
    }
    bool start() { return connection_.registerService(service_); }
    void stop() { connection_.unregisterService(service_); }

private:
    QString service_;
    QString name_;
    QDBusConnection connection_;
};

QString uniqueWatcherName()
{
    return QStringLiteral("org.quillby.test.StatusNotifierWatcher.u") + QUuid::createUuid().toString(QUuid::Id128);
}

class TrayHostMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP() << "needs a session bus";
        }
    }
};

// The watcher's name is followed by the bus's own notices: a host that comes and goes is told
// at once, with nothing asked again in between.
TEST_F(TrayHostMonitorTest, FollowsTheStatusNotifierWatcherComingAndGoing)
{
    const QString service = uniqueWatcherName();
    TrayHostMonitor monitor(QDBusConnection::sessionBus(), service, /*watchXEmbed=*/false);
    QSignalSpy changes(&monitor, &TrayHostMonitor::availabilityChanged);
    EXPECT_FALSE(monitor.isAvailable());

    FakeWatcher watcher(service);
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(changes.wait(30000));
    EXPECT_TRUE(monitor.isAvailable());
    EXPECT_TRUE(monitor.hasStatusNotifierHost());
    EXPECT_EQ(changes.takeFirst().at(0).toBool(), true);

    watcher.stop();
    ASSERT_TRUE(changes.wait(30000));
    EXPECT_FALSE(monitor.isAvailable());
    EXPECT_EQ(changes.takeFirst().at(0).toBool(), false);
}

TEST_F(TrayHostMonitorTest, AHostRunningAtStartIsFoundWithoutBlocking)
{
    const QString service = uniqueWatcherName();
    FakeWatcher watcher(service);
    ASSERT_TRUE(watcher.start());
    TrayHostMonitor monitor(QDBusConnection::sessionBus(), service, /*watchXEmbed=*/false);
    QSignalSpy changes(&monitor, &TrayHostMonitor::availabilityChanged);
    EXPECT_FALSE(monitor.isAvailable());   // the answer comes asynchronously
    ASSERT_TRUE(changes.wait(30000));
    EXPECT_TRUE(monitor.isAvailable());
    EXPECT_EQ(changes.count(), 1);
}

TEST(TrayHostMonitorWithoutBus, NoBusMeansNoStatusNotifierHost)
{
    TrayHostMonitor monitor(QDBusConnection(QStringLiteral("quillby-no-such-bus")), uniqueWatcherName(), false);
    EXPECT_FALSE(monitor.isAvailable());
}

} // namespace
} // namespace quillby
