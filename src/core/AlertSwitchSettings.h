#pragma once

namespace quillby {

// The owner of the alert on/off settings' first-run values: the master switch, one switch per
// alert kind and one per snooze category. They have no range and no older stored form.
struct AlertSwitchSettings {
    static constexpr bool defaultAlertsEnabled = true;
    static constexpr bool defaultAlertOnLowThreshold = true;
    static constexpr bool defaultAlertOnHighThreshold = true;
    static constexpr bool defaultAlertOnRapidFall = true;
    static constexpr bool defaultAlertOnRapidRise = true;
    static constexpr bool defaultSnoozeLowAlerts = true;
    static constexpr bool defaultSnoozeHighAlerts = true;
    static constexpr bool defaultSnoozeRapidChangeAlerts = true;
};

} // namespace quillby
