#include "platform/ReducedMotionMonitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

namespace quillby {
namespace {

using SettingsByNamespace = QMap<QString, QVariantMap>;

// An XDG desktop portal with only its Settings interface, on a connection of its own under a
// unique name. ReadAll answers from `settings` (only the namespaces asked for); change()
// updates a value and sends SettingChanged as the portal does.
class FakeSettingsPortal {
public:
    FakeSettingsPortal()
        : connectionName_(QStringLiteral("quillby-fake-portal-") + QUuid::createUuid().toString(QUuid::Id128)),
          service_(QStringLiteral("org.quillby.test.Portal.u") + QUuid::createUuid().toString(QUuid::Id128)),
          connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)),
          object_(std::make_unique<Object>(*this))
    {
        qDBusRegisterMetaType<SettingsByNamespace>();
        connection_.registerVirtualObject(ReducedMotionMonitor::kPortalPath, object_.get());
    }
    ~FakeSettingsPortal()
    {
        connection_.unregisterObject(ReducedMotionMonitor::kPortalPath);
        connection_.unregisterService(service_);
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    bool start() { return connection_.registerService(service_); }
    const QString &service() const { return service_; }

    void change(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        settings[nameSpace][key] = value;
        QDBusMessage signal = QDBusMessage::createSignal(ReducedMotionMonitor::kPortalPath,
                                                         ReducedMotionMonitor::kSettingsInterface,
                                                         QStringLiteral("SettingChanged"));
        signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        connection_.send(signal);
    }

    SettingsByNamespace settings;
    int reads = 0;

private:
    class Object final : public QDBusVirtualObject {
    public:
        explicit Object(FakeSettingsPortal &portal) : portal_(portal) {}
        QString introspect(const QString &) const override { return {}; }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            if (message.interface() != ReducedMotionMonitor::kSettingsInterface || message.member() != QLatin1String("ReadAll")) {
                connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), {}));
                return true;
            }
            ++portal_.reads;
            SettingsByNamespace answer;
            for (const QString &space : message.arguments().value(0).toStringList()) {
                if (portal_.settings.contains(space)) {
                    answer.insert(space, portal_.settings.value(space));
                }
            }
            connection.send(message.createReply(QVariant::fromValue(answer)));
            return true;
        }

    private:
        FakeSettingsPortal &portal_;
    };

    QString connectionName_;
    QString service_;
    QDBusConnection connection_;
    std::unique_ptr<Object> object_;
};

class ReducedMotionMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            GTEST_SKIP() << "needs a session bus";
        }
        ASSERT_TRUE(portal.start());
    }
    std::unique_ptr<ReducedMotionMonitor> makeMonitor()
    {
        auto monitor = std::make_unique<ReducedMotionMonitor>(QDBusConnection::sessionBus(), portal.service());
        QSignalSpy answered(monitor.get(), &ReducedMotionMonitor::answered);
        EXPECT_TRUE(answered.wait(30000));
        return monitor;
    }

    FakeSettingsPortal portal;
};

TEST_F(ReducedMotionMonitorTest, FollowsGnomeAnimationsSwitch)
{
    portal.settings[ReducedMotionMonitor::kGnomeInterfaceNamespace][ReducedMotionMonitor::kEnableAnimationsKey] = false;
    auto monitor = makeMonitor();
    EXPECT_TRUE(monitor->reduceMotion());
    EXPECT_EQ(portal.reads, 1);

    QSignalSpy changes(monitor.get(), &ReducedMotionMonitor::reduceMotionChanged);
    // A setting of no interest comes and goes unnoticed.
    portal.change(ReducedMotionMonitor::kAppearanceNamespace, QStringLiteral("color-scheme"), 1u);
    portal.change(ReducedMotionMonitor::kGnomeInterfaceNamespace, ReducedMotionMonitor::kEnableAnimationsKey, true);
    ASSERT_TRUE(changes.wait(30000));
    EXPECT_FALSE(monitor->reduceMotion());
    EXPECT_EQ(changes.takeFirst().at(0).toBool(), false);
    EXPECT_EQ(portal.reads, 1);   // followed through the signal, not asked again
}

TEST_F(ReducedMotionMonitorTest, AppearanceSettingWinsWhereThePortalOffersIt)
{
    portal.settings[ReducedMotionMonitor::kGnomeInterfaceNamespace][ReducedMotionMonitor::kEnableAnimationsKey] = true;
    portal.settings[ReducedMotionMonitor::kAppearanceNamespace][ReducedMotionMonitor::kReducedMotionKey] = 1u;
    auto monitor = makeMonitor();
    EXPECT_TRUE(monitor->reduceMotion());

    QSignalSpy changes(monitor.get(), &ReducedMotionMonitor::reduceMotionChanged);
    portal.change(ReducedMotionMonitor::kAppearanceNamespace, ReducedMotionMonitor::kReducedMotionKey, 0u);
    ASSERT_TRUE(changes.wait(30000));
    EXPECT_FALSE(monitor->reduceMotion());
}

TEST_F(ReducedMotionMonitorTest, NeitherSettingMeansFullMotion)
{
    auto monitor = makeMonitor();
    EXPECT_FALSE(monitor->reduceMotion());
}

TEST(ReducedMotionMonitorWithoutPortal, MissingPortalIsTolerated)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus";
    }
    ReducedMotionMonitor monitor(QDBusConnection::sessionBus(),
                                 QStringLiteral("org.quillby.test.NoPortal.u") + QUuid::createUuid().toString(QUuid::Id128));
    QSignalSpy answered(&monitor, &ReducedMotionMonitor::answered);
    ASSERT_TRUE(answered.wait(30000));
    EXPECT_FALSE(monitor.reduceMotion());

    ReducedMotionMonitor noBus(QDBusConnection(QStringLiteral("quillby-no-such-bus")));
    EXPECT_TRUE(noBus.hasAnswered());
    EXPECT_FALSE(noBus.reduceMotion());
}

} // namespace
} // namespace quillby
