#include "polling/UserNotificationGlucoseAlertDelivery.h"

#include "platform/DesktopNotifications.h"

#include <QUuid>

namespace quillby {

namespace {

// Starting a notification server on request may take a moment (it is a new process).
constexpr int kServerStartTimeoutMs = 15000;

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
    const std::shared_ptr<DesktopNotifications> notifications = notifications_;
    const GlucoseAlertAuthorizationState state = co_await authorizationState();
    if (state == GlucoseAlertAuthorizationState::authorized) {
        co_return true;
    }
    if (state != GlucoseAlertAuthorizationState::notDetermined || hasRequestedNotificationAuthorization_) {
        co_return false;
    }
    // Set before asking, so a request that arrives meanwhile does not ask again.
    hasRequestedNotificationAuthorization_ = true;
    const auto information = co_await notifications->serverInformation(/*startServer=*/true, kServerStartTimeoutMs);
    co_return information.has_value();
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
        co_await notifications->notify(std::move(request));
    } catch (const DesktopNotificationError &error) {
        throw GlucoseAlertDeliveryError(error.kind == DesktopNotificationError::Case::noServer
                                            ? GlucoseAlertDeliveryError::Case::notificationServerUnavailable
                                            : GlucoseAlertDeliveryError::Case::notificationRejected,
                                        error.what());
    }
}

} // namespace quillby
