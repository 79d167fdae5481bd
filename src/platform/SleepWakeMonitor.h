#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace quillby {

// Tells when the computer is about to sleep, has woken, or its screens went to sleep.
// System sleep comes from logind's PrepareForSleep(bool) on the system bus, screen sleep from
// the session screensaver's ActiveChanged(bool). A bus or service that is missing is tolerated:
// the matching signal simply never arrives.
class SleepWakeMonitor : public QObject {
    Q_OBJECT
public:
    static inline const QString kLogindService = QStringLiteral("org.freedesktop.login1");

    explicit SleepWakeMonitor(QObject *parent = nullptr);
    // Buses injectable so tests can emit the signals on a private bus; sleep and wake are taken
    // only from the owner of `logindService` (a unique name in tests).
    SleepWakeMonitor(const QDBusConnection &systemBus, const QDBusConnection &sessionBus,
                     QObject *parent = nullptr, const QString &logindService = kLogindService);

signals:
    void didWake();
    void willSleep();
    void screensDidSleep();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);

private:
    void connectBuses(QDBusConnection systemBus, QDBusConnection sessionBus, const QString &logindService);
};

} // namespace quillby
