#include "core/SecretServiceWatcher.h"

#include "fakes/WaitUntil.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

namespace quillby {
namespace {

// The keyring daemon appearing on the bus, a collection changing and a collection's properties
// changing (its "Locked" flag, when it is unlocked) are each reported. A stand-in service under
// a name of the test's own plays the Secret Service.
TEST(SecretServiceWatcher, ReportsTheServiceAppearingAndItsCollectionsChanging)
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        GTEST_SKIP() << "needs a session bus";
    }
    const QString name = QStringLiteral("org.quillby.test.secrets.u") + QUuid::createUuid().toString(QUuid::Id128);
    SecretServiceWatcher watcher(name);
    QSignalSpy changes(&watcher, &KeyringWatching::keyringMayHaveChanged);

    const QString peerName = QStringLiteral("quillby-test-keyring-") + QUuid::createUuid().toString(QUuid::Id128);
    QDBusConnection keyring = QDBusConnection::connectToBus(QDBusConnection::SessionBus, peerName);
    ASSERT_TRUE(keyring.registerService(name));
    ASSERT_TRUE(test::waitUntil([&] { return changes.count() == 1; }));

    const QString collection = QStringLiteral("/org/freedesktop/secrets/collection/login");
    QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/secrets"),
                                                      QStringLiteral("org.freedesktop.Secret.Service"),
                                                      QStringLiteral("CollectionChanged"));
    changed << QVariant::fromValue(QDBusObjectPath(collection));
    ASSERT_TRUE(keyring.send(changed));
    ASSERT_TRUE(test::waitUntil([&] { return changes.count() == 2; }));

    QDBusMessage unlocked = QDBusMessage::createSignal(collection, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("PropertiesChanged"));
    unlocked << QStringLiteral("org.freedesktop.Secret.Collection")
             << QVariantMap{{QStringLiteral("Locked"), false}} << QStringList();
    ASSERT_TRUE(keyring.send(unlocked));
    ASSERT_TRUE(test::waitUntil([&] { return changes.count() == 3; }));
    QDBusConnection::disconnectFromBus(peerName);
}

} // namespace
} // namespace quillby
