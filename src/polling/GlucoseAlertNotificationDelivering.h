#pragma once

#include "core/AppError.h"

#include <QCoroTask>

#include <string>

namespace quillby {

// Whether glucose alerts can be shown. On the Linux desktop "authorized" means a notification
// server answers; "not determined" means none runs yet but the bus can start one on request.
enum class GlucoseAlertAuthorizationState { notDetermined, authorized, denied };

// The hint shown beside "Notifications are disabled for Quillby." when alerts cannot be shown:
// no notification service answers on the session bus, which no settings page changes.
inline constexpr const char *kEnableNotificationsHint =
    "No notification service answers on this desktop. Start or enable your desktop\u2019s notification "
    "service (where the desktop has none, a notification daemon such as dunst), then check again. "
    "Until then, the panel and the Quillby menu still show each reading.";

// Prefix of every glucose alert's identifier; the rest is a new upper-case UUID.
inline constexpr const char *kGlucoseAlertIdentifierPrefix = "glucose-alert-";

class GlucoseAlertDeliveryError : public AppError {
public:
    enum class Case { notificationServerUnavailable, notificationRejected };
    GlucoseAlertDeliveryError(Case c, const std::string &detail);
    Case kind;
};

// Posts glucose alerts as desktop notifications and reports the permission. Used by the poller
// (alerts) and by the settings model (permission state, test alert). All operations run on the
// main thread's event loop.
class GlucoseAlertNotificationDelivering {
public:
    virtual ~GlucoseAlertNotificationDelivering() = default;

    // Never asks and never fails.
    virtual QCoro::Task<GlucoseAlertAuthorizationState> authorizationState() = 0;

    // True when an alert can be shown now: a notification server runs or the bus can start
    // one. Asked before every alert; never asks the user and never fails.
    virtual QCoro::Task<bool> requestAuthorizationIfNeeded() = 0;

    // Shows a notification at once under a new "glucose-alert-<UUID>" identifier, with the
    // default sound and an urgency that passes do-not-disturb. Throws GlucoseAlertDeliveryError.
    virtual QCoro::Task<void> sendNotification(std::string title, std::string body) = 0;
};

} // namespace quillby
