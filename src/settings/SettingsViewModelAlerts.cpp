// Alert preferences of the settings model: the alerts switch with the notification
// permission, the test alert, and quiet hours as clock times.

#include "settings/SettingsViewModel.h"
#include "core/async/RunDetached.h"

#include "polling/GlucoseAlertNotificationDelivering.h"


namespace quillby {

void SettingsViewModel::alertsEnabledDidChange()
{
    if (!alertsEnabled_) {
        assign(notificationPermissionDenied_, false, &SettingsViewModel::notificationPermissionDeniedChanged);
        assign(testAlertStatusMessage_, std::string(), &SettingsViewModel::testAlertStatusMessageChanged);
    } else {
        runDetached(runPermissionRequest(QPointer<SettingsViewModel>(this)));
    }
    recordAppSettingsEdit();
}

QCoro::Task<void> SettingsViewModel::requestNotificationPermission()
{
    co_await runPermissionRequest(QPointer<SettingsViewModel>(this));
}

QCoro::Task<void> SettingsViewModel::refreshNotificationPermission()
{
    co_await runPermissionRefresh(QPointer<SettingsViewModel>(this));
}

QCoro::Task<void> SettingsViewModel::runPermissionRequest(QPointer<SettingsViewModel> self)
{
    if (!self || !self->alertNotificationDelivery_) {
        co_return;
    }
    const auto delivery = self->alertNotificationDelivery_;
    const bool granted = co_await delivery->requestAuthorizationIfNeeded();
    if (self) {
        self->assign(self->notificationPermissionDenied_, !granted,
                     &SettingsViewModel::notificationPermissionDeniedChanged);
    }
}

QCoro::Task<void> SettingsViewModel::runPermissionRefresh(QPointer<SettingsViewModel> self)
{
    if (!self || !self->alertNotificationDelivery_) {
        co_return;
    }
    const auto delivery = self->alertNotificationDelivery_;
    const GlucoseAlertAuthorizationState state = co_await delivery->authorizationState();
    if (self) {
        self->assign(self->notificationPermissionDenied_, state == GlucoseAlertAuthorizationState::denied,
                     &SettingsViewModel::notificationPermissionDeniedChanged);
    }
}

QCoro::Task<void> SettingsViewModel::sendTestAlert()
{
    QPointer<SettingsViewModel> self(this);
    if (isSendingTestAlert_ || !alertNotificationDelivery_) {
        co_return;
    }
    assign(isSendingTestAlert_, true, &SettingsViewModel::isSendingTestAlertChanged);
    assign(testAlertStatusMessage_, std::string(), &SettingsViewModel::testAlertStatusMessageChanged);
    const auto delivery = alertNotificationDelivery_;
    const bool granted = co_await delivery->requestAuthorizationIfNeeded();
    if (!self) {
        co_return;
    }
    if (!granted) {
        self->assign(self->notificationPermissionDenied_, true, &SettingsViewModel::notificationPermissionDeniedChanged);
        self->assign(self->testAlertStatusMessage_, std::string("Notifications are disabled."),
                     &SettingsViewModel::testAlertStatusMessageChanged);
        self->assign(self->isSendingTestAlert_, false, &SettingsViewModel::isSendingTestAlertChanged);
        co_return;
    }
    self->assign(self->notificationPermissionDenied_, false, &SettingsViewModel::notificationPermissionDeniedChanged);
    bool delivered = true;
    try {
        co_await delivery->sendNotification(kTestAlertTitle, kTestAlertBody);
    } catch (...) {
        delivered = false;   // the error itself is not shown
    }
    if (!self) {
        co_return;
    }
    self->assign(self->testAlertStatusMessage_,
                 std::string(delivered ? "Test alert sent." : "Test alert could not be sent."),
                 &SettingsViewModel::testAlertStatusMessageChanged);
    self->assign(self->isSendingTestAlert_, false, &SettingsViewModel::isSendingTestAlertChanged);
}

// --- Quiet hours as clock times ---

Date SettingsViewModel::date(int fromMinutesOfDay) const
{
    const int minutes = QuietHoursSetting::clamped(fromMinutesOfDay);
    const Date now = clock_->now();
    return calendar_.dateBySettingTime(minutes / 60, minutes % 60, 0, now).value_or(now);
}

int SettingsViewModel::minutesOfDay(Date from) const
{
    const auto components = calendar_.components(from);
    const int minutes = components ? components->hour * 60 + components->minute : 0;
    return QuietHoursSetting::clamped(minutes);
}

Date SettingsViewModel::quietHoursStartDate() const
{
    return date(quietHoursStartMinutes_);
}

void SettingsViewModel::setQuietHoursStartDate(Date value)
{
    editAppSetting(&SettingsViewModel::setQuietHoursStartMinutes, minutesOfDay(value));
}

Date SettingsViewModel::quietHoursEndDate() const
{
    return date(quietHoursEndMinutes_);
}

void SettingsViewModel::setQuietHoursEndDate(Date value)
{
    editAppSetting(&SettingsViewModel::setQuietHoursEndMinutes, minutesOfDay(value));
}

} // namespace quillby
