#pragma once

#include <QDBusConnection>
#include <QObject>

namespace quillby {

// Tells when the computer is about to sleep, has woken, or its screens went to sleep.
// System sleep comes from logind's PrepareForSleep(bool) on the system bus, screen sleep from
// the session screensaver's ActiveChanged(bool). A bus or service that is missing is tolerated:
// the matching signal simply never arrives.
class SleepWakeMonitor : public QObject {
    Q_OBJECT
public:
    explicit SleepWakeMonitor(QObject *parent = nullptr);
    // Buses injectable so tests can emit the signals on a private bus.
    SleepWakeMonitor(const QDBusConnection &systemBus, const QDBusConnection &sessionBus,
                     QObject *parent = nullptr);

signals:
    void didWake();
    void willSleep();
    void screensDidSleep();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);

private:
    void connectBuses(QDBusConnection systemBus, QDBusConnection sessionBus);
};

} // namespace quillby
