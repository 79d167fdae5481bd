#include "platform/SleepWakeMonitor.h"

namespace quillby {

namespace {
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kScreenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
} // namespace

SleepWakeMonitor::SleepWakeMonitor(QObject *parent)
    : QObject(parent)
{
    connectBuses(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), kLogindService);
}

SleepWakeMonitor::SleepWakeMonitor(const QDBusConnection &systemBus, const QDBusConnection &sessionBus,
                                   QObject *parent, const QString &logindService)
    : QObject(parent)
{
    connectBuses(systemBus, sessionBus, logindService);
}

void SleepWakeMonitor::connectBuses(QDBusConnection systemBus, QDBusConnection sessionBus,
                                    const QString &logindService)
{
    if (systemBus.isConnected()) {
        // Only from logind: any other process on the bus could send a signal of that name.
        // QtDBus follows the name's owner, so this also works when logind starts after us.
        systemBus.connect(logindService, kLogindPath, kLogindInterface, QStringLiteral("PrepareForSleep"),
                          this, SLOT(onPrepareForSleep(bool)));
    }
    if (sessionBus.isConnected()) {
        // Desktops publish the screensaver at either path.
        for (const QString &path : {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
            sessionBus.connect(QString(), path, kScreenSaverInterface, QStringLiteral("ActiveChanged"), this,
                               SLOT(onScreenSaverActiveChanged(bool)));
        }
    }
}

void SleepWakeMonitor::onPrepareForSleep(bool sleeping)
{
    if (sleeping) {
        emit willSleep();
    } else {
        emit didWake();
    }
}

void SleepWakeMonitor::onScreenSaverActiveChanged(bool active)
{
    if (active) {
        emit screensDidSleep();
    }
}

} // namespace quillby
