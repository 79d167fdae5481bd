#include "polling/UserNotificationGlucoseAlertDelivery.h"

#include "platform/DesktopNotifications.h"

#include <QUuid>

namespace quillby {

namespace {

// Notify may have to wait for the bus to start a notification server (a new process).
constexpr int kNotifyTimeoutMs = 15000;

} // namespace

UserNotificationGlucoseAlertDelivery::UserNotificationGlucoseAlertDelivery(
    std::shared_ptr<DesktopNotifications> notifications, std::function<QString()> makeUUID)
    : notifications_(std::move(notifications)), makeUUID_(std::move(makeUUID))
{
    if (!makeUUID_) {
        makeUUID_ = newUUID;
    }
}

QString UserNotificationGlucoseAlertDelivery::newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString UserNotificationGlucoseAlertDelivery::makeIdentifier(const QString &uuid)
{
    return QString::fromLatin1(kGlucoseAlertIdentifierPrefix) + uuid;
}

QCoro::Task<GlucoseAlertAuthorizationState> UserNotificationGlucoseAlertDelivery::authorizationState()
{
    // Only this local copy is used after an await: the delivery may be released meanwhile.
    const std::shared_ptr<DesktopNotifications> notifications = notifications_;
    if (co_await notifications->serverInformation(/*startServer=*/false)) {
        co_return GlucoseAlertAuthorizationState::authorized;
    }
    if (co_await notifications->isServiceActivatable()) {
        co_return GlucoseAlertAuthorizationState::notDetermined;
    }
    co_return GlucoseAlertAuthorizationState::denied;
}

QCoro::Task<bool> UserNotificationGlucoseAlertDelivery::requestAuthorizationIfNeeded()
{
    // There is no permission to ask for: a server that runs, or one the bus starts for the
    // Notify call itself, shows the alert. Servers such as MATE's daemon, dunst, mako and fnott
    // are started on demand and exit when idle, so "not running" is no reason to hold an alert
    // back, now or later in the run. Only a failed delivery keeps that one alert from showing.
    const GlucoseAlertAuthorizationState state = co_await authorizationState();
    co_return state != GlucoseAlertAuthorizationState::denied;
}

QCoro::Task<void> UserNotificationGlucoseAlertDelivery::sendNotification(std::string title, std::string body)
{
    const std::shared_ptr<DesktopNotifications> notifications = notifications_;
    DesktopNotificationRequest request;
    request.identifier = makeIdentifier(makeUUID_());
    request.title = QString::fromStdString(title);
    request.body = QString::fromStdString(body);
    // Time-sensitive: critical urgency is what passes the desktop's do-not-disturb mode.
    request.urgency = DesktopNotificationRequest::Urgency::critical;
    request.soundName = QStringLiteral("message-new-instant");
    try {
        co_await notifications->notify(std::move(request), kNotifyTimeoutMs);
    } catch (const DesktopNotificationError &error) {
        throw GlucoseAlertDeliveryError(error.kind == DesktopNotificationError::Case::noServer
                                            ? GlucoseAlertDeliveryError::Case::notificationServerUnavailable
                                            : GlucoseAlertDeliveryError::Case::notificationRejected,
                                        error.what());
    }
}

} // namespace quillby
