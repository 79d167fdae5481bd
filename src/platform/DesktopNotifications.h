#pragma once

#include "core/AppError.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillby {

class DesktopNotificationError : public AppError {
public:
    enum class Case { noServer, rejected };
    DesktopNotificationError(Case c, const QString &dbusErrorName, const QString &detail);
    Case kind;
    QString dbusErrorName;   // e.g. "org.freedesktop.DBus.Error.ServiceUnknown"
};

// One notification to show. `identifier` is our own name for it (e.g. "glucose-alert-<UUID>");
// the server's numeric id is mapped back to it for actions and closing.
struct DesktopNotificationRequest {
    enum class Urgency : unsigned char { low = 0, normal = 1, critical = 2 };
    struct Action {
        QString key;
        QString label;
    };

    QString identifier;
    QString title;
    QString body;
    QList<Action> actions;
    Urgency urgency = Urgency::normal;
    QString soundName;          // a freedesktop sound name; empty: none asked for
    QString category;           // e.g. "device"; empty: none
    int expireTimeoutMs = -1;   // -1: the server decides
};

struct DesktopNotificationServerInformation {
    QString name;
    QString vendor;
    QString version;
    QString specVersion;
};

// Our client of the desktop notification service (org.freedesktop.Notifications) over QtDBus.
// Every method call is asynchronous (no introspection, no waiting on the server), made and answered on the thread
// that owns the object. The bus and the service name are injectable so tests can talk to a
// fake server.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    static inline const QString kDefaultService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kObjectPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
    // The action key a server reports for a click on the notification itself.
    static inline const QString kDefaultAction = QStringLiteral("default");

    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString service = kDefaultService, QObject *parent = nullptr);

    const QString &service() const { return service_; }
    QDBusConnection connection() const { return bus_; }

    // GetServerInformation. Without `startServer` the bus is told not to start an activatable
    // server for the call. Nothing when no server answers (within `timeoutMs`).
    QCoro::Task<std::optional<DesktopNotificationServerInformation>>
    serverInformation(bool startServer = false, int timeoutMs = 5000);

    // Whether the bus would start a server for our service name on demand.
    QCoro::Task<bool> isServiceActivatable(int timeoutMs = 5000);

    // Notify (replacing a shown notification with the same identifier). Returns the server's id; throws DesktopNotificationError when no server answers
    // or the server refuses.
    QCoro::Task<quint32> notify(DesktopNotificationRequest request, int timeoutMs = 10000);

    // CloseNotification for a notification we showed; an unknown identifier does nothing.
    // Never throws.
    QCoro::Task<void> close(QString identifier, int timeoutMs = 5000);

    // Our identifier of a notification shown through this object, empty when unknown.
    QString identifier(quint32 serverId) const { return identifiers_.value(serverId); }
    // The notifications shown through this object that the server has not closed yet, by id.
    // Servers that never report closing (or that exit and forget them) would let this grow
    // without end, so only the newest kMaxTrackedNotifications are kept.
    const QHash<quint32, QString> &shownNotifications() const { return identifiers_; }
    static constexpr qsizetype kMaxTrackedNotifications = 64;

Q_SIGNALS:
    // A notification of ours had one of its actions chosen ("default" for a click on it).
    void actionInvoked(const QString &identifier, const QString &actionKey);
    // A notification of ours went away (1 expired, 2 dismissed, 3 closed by a call, 4 other).
    void notificationClosed(const QString &identifier, uint reason);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    QString service_;
    void track(quint32 id, const QString &identifier);

    QHash<quint32, QString> identifiers_;
    QList<quint32> shownOrder_;   // ids of identifiers_, oldest first
};

} // namespace quillby
