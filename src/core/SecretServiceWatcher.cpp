#include "core/SecretServiceWatcher.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

namespace quillby {

namespace {
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
} // namespace

SecretServiceWatcher::SecretServiceWatcher(QString service, QObject *parent)
    : KeyringWatching(parent), service_(std::move(service))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    registration_ = new QDBusServiceWatcher(service_, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(registration_, &QDBusServiceWatcher::serviceRegistered, this, &SecretServiceWatcher::keyringMayHaveChanged);
    // Signals of the service's own name only (Qt follows the name to its current owner). The slot
    // takes no arguments: which collection changed does not matter, a read tells.
    bus.connect(service_, kServicePath, kServiceInterface, QStringLiteral("CollectionCreated"), this,
                SLOT(onSecretServiceSignal()));
    bus.connect(service_, kServicePath, kServiceInterface, QStringLiteral("CollectionChanged"), this,
                SLOT(onSecretServiceSignal()));
    bus.connect(service_, QString(), kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                SLOT(onSecretServiceSignal()));
}

SecretServiceWatcher::~SecretServiceWatcher()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.disconnect(service_, kServicePath, kServiceInterface, QStringLiteral("CollectionCreated"), this,
                   SLOT(onSecretServiceSignal()));
    bus.disconnect(service_, kServicePath, kServiceInterface, QStringLiteral("CollectionChanged"), this,
                   SLOT(onSecretServiceSignal()));
    bus.disconnect(service_, QString(), kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                   SLOT(onSecretServiceSignal()));
}

void SecretServiceWatcher::onSecretServiceSignal()
{
    emit keyringMayHaveChanged();
}

} // namespace quillby
