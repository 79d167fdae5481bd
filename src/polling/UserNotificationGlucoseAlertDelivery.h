#pragma once

#include "polling/GlucoseAlertNotificationDelivering.h"

#include <QString>

#include <functional>
#include <memory>

namespace quillby {

class DesktopNotifications;

// Glucose alerts as desktop notifications. "Authorized": a notification server answers.
// "Not determined": none runs, but the bus can start one, and does so for each alert's Notify
// call. "Denied": no server runs and none can be started. Every alert has its own identifier,
// so none replaces another.
class UserNotificationGlucoseAlertDelivery final : public GlucoseAlertNotificationDelivering {
public:
    // `makeUUID` gives the identifier's UUID text (upper case, 36 characters); tests pin it.
    explicit UserNotificationGlucoseAlertDelivery(std::shared_ptr<DesktopNotifications> notifications,
                                                  std::function<QString()> makeUUID = {});

    QCoro::Task<GlucoseAlertAuthorizationState> authorizationState() override;
    QCoro::Task<bool> requestAuthorizationIfNeeded() override;
    QCoro::Task<void> sendNotification(std::string title, std::string body) override;

    const std::shared_ptr<DesktopNotifications> &notifications() const { return notifications_; }

    // "glucose-alert-" followed by a new upper-case UUID.
    static QString makeIdentifier(const QString &uuid);
    static QString newUUID();

private:
    std::shared_ptr<DesktopNotifications> notifications_;
    std::function<QString()> makeUUID_;
};

} // namespace quillby
