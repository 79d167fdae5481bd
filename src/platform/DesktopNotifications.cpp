#include "platform/DesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>
#include <QVariantMap>

#include <QCoroDBusPendingCall>

namespace quillby {

namespace {

const QString kApplicationName = QStringLiteral("Quillby");
// The installed desktop entry: servers take the icon and per-application settings from it.
const QString kDesktopEntry = QStringLiteral("quillby");

// Error names that mean no notification server is there to answer.
bool meansNoServer(const QString &errorName)
{
    static const QStringList names{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
    };
    return names.contains(errorName) || errorName.startsWith(QStringLiteral("org.freedesktop.DBus.Error.Spawn."));
}

std::string errorText(const QString &errorName, const QString &detail)
{
    QString text = QStringLiteral("The desktop notification service did not show the notification");
    if (!errorName.isEmpty() || !detail.isEmpty()) {
        text += QStringLiteral(": ") + (detail.isEmpty() ? errorName : detail);
    }
    return text.toStdString();
}

} // namespace

DesktopNotificationError::DesktopNotificationError(Case c, const QString &name, const QString &detail)
    : AppError(errorText(name, detail)), kind(c), dbusErrorName(name)
{
}

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QString service, QObject *parent)
    : QObject(parent), bus_(std::move(bus)), service_(std::move(service))
{
    bus_.connect(service_, kObjectPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(service_, kObjectPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

QCoro::Task<std::optional<DesktopNotificationServerInformation>>
DesktopNotifications::serverInformation(bool startServer, int timeoutMs)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(service_, kObjectPath, kInterface, QStringLiteral("GetServerInformation"));
    message.setAutoStartService(startServer);
    const QDBusPendingCall call = bus_.asyncCall(message, timeoutMs);
    const QDBusMessage reply = co_await call;
    const QVariantList arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() < 4) {
        co_return std::nullopt;
    }
    co_return DesktopNotificationServerInformation{arguments[0].toString(), arguments[1].toString(),
                                                   arguments[2].toString(), arguments[3].toString()};
}

QCoro::Task<bool> DesktopNotifications::isServiceActivatable(int timeoutMs)
{
    const QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusPendingCall call = bus_.asyncCall(message, timeoutMs);
    const QDBusMessage reply = co_await call;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        co_return false;
    }
    co_return reply.arguments().constFirst().toStringList().contains(service_);
}

QCoro::Task<quint32> DesktopNotifications::notify(DesktopNotificationRequest request, int timeoutMs)
{
    QStringList actions;
    for (const auto &action : request.actions) {
        actions << action.key << action.label;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(request.urgency)));
    hints.insert(QStringLiteral("desktop-entry"), kDesktopEntry);
    if (!request.soundName.isEmpty()) {
        hints.insert(QStringLiteral("sound-name"), request.soundName);
    }
    if (!request.category.isEmpty()) {
        hints.insert(QStringLiteral("category"), request.category);
    }

    // A notification of ours still shown under the same identifier is replaced, not doubled.
    const quint32 replacesId = request.identifier.isEmpty() ? 0 : identifiers_.key(request.identifier, 0);
    QDBusMessage message = QDBusMessage::createMethodCall(service_, kObjectPath, kInterface, QStringLiteral("Notify"));
    message << kApplicationName << replacesId << QString() << request.title << request.body << actions
            << hints << qint32(request.expireTimeoutMs);
    const QDBusPendingCall call = bus_.asyncCall(message, timeoutMs);

    QPointer<DesktopNotifications> self(this);
    const QDBusMessage reply = co_await call;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString name = reply.errorName();
        throw DesktopNotificationError(meansNoServer(name) ? DesktopNotificationError::Case::noServer
                                                           : DesktopNotificationError::Case::rejected,
                                       name, reply.errorMessage());
    }
    const QVariantList arguments = reply.arguments();
    bool ok = false;
    const quint32 id = arguments.isEmpty() ? 0 : arguments.constFirst().toUInt(&ok);
    if (!ok) {
        throw DesktopNotificationError(DesktopNotificationError::Case::rejected, QString(),
                                       QStringLiteral("unexpected reply"));
    }
    if (self) {
        self->track(id, request.identifier);
    }
    co_return id;
}

void DesktopNotifications::track(quint32 id, const QString &identifier)
{
    // A server that restarted may hand out an id again: the newest notification owns it.
    if (identifiers_.contains(id)) {
        shownOrder_.removeOne(id);
    }
    identifiers_.insert(id, identifier);
    shownOrder_.append(id);
    while (shownOrder_.size() > kMaxTrackedNotifications) {
        identifiers_.remove(shownOrder_.takeFirst());
    }
}

QCoro::Task<void> DesktopNotifications::close(QString identifier, int timeoutMs)
{
    const quint32 id = identifiers_.key(identifier, 0);
    if (id == 0 || identifier.isEmpty()) {
        co_return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(service_, kObjectPath, kInterface, QStringLiteral("CloseNotification"));
    message << id;
    const QDBusPendingCall call = bus_.asyncCall(message, timeoutMs);
    co_await call;   // a notification that is already gone is no error of ours
}

void DesktopNotifications::onActionInvoked(uint id, const QString &actionKey)
{
    const QString identifier = identifiers_.value(id);
    if (!identifier.isEmpty()) {
        Q_EMIT actionInvoked(identifier, actionKey);
    }
}

void DesktopNotifications::onNotificationClosed(uint id, uint reason)
{
    const QString identifier = identifiers_.take(id);
    shownOrder_.removeOne(id);
    if (!identifier.isEmpty()) {
        Q_EMIT notificationClosed(identifier, reason);
    }
}

} // namespace quillby
