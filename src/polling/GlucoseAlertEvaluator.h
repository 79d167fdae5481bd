#pragma once

#include "core/AlertSwitchSettings.h"
#include "core/AppConfiguration.h"
#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "core/GlucoseThresholdSetting.h"
#include "core/LowAlertRepeatSetting.h"
#include "core/QuietHoursSetting.h"

#include <QTimeZone>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace quillby {

// Cases in declaration order; the decision order is a different one (see nextAlert).
enum class GlucoseAlertKind { lowThreshold, highThreshold, rapidFall, rapidRise };

struct GlucoseAlertMessage {
    std::string title;
    std::string body;
    bool operator==(const GlucoseAlertMessage &) const = default;
};

// Title and body of an alert: "<value> <unit> <arrow>" followed by the kind's own text.
// Thresholds are in mg/dL and shown in `unit`.
GlucoseAlertMessage alertMessage(GlucoseAlertKind kind, const GlucoseReading &reading,
                                 GlucoseUnits unit, double lowThresholdMgdL, double highThresholdMgdL);

// The alert-relevant copy of the app settings taken for one evaluation. Thresholds in mg/dL.
// The defaults, the values used while no configuration is loaded, are the settings' owners'
// first-run values.
struct GlucoseAlertSettings {
    bool alertsEnabled = AlertSwitchSettings::defaultAlertsEnabled;
    bool quietHoursEnabled = QuietHoursSetting::defaultEnabled;
    int quietHoursStartMinutes = QuietHoursSetting::defaultStartMinutes;
    int quietHoursEndMinutes = QuietHoursSetting::defaultEndMinutes;
    double lowGlucoseThreshold = GlucoseThresholds::low.defaultValue;
    double highGlucoseThreshold = GlucoseThresholds::high.defaultValue;
    bool alertOnLowThreshold = AlertSwitchSettings::defaultAlertOnLowThreshold;
    bool alertOnHighThreshold = AlertSwitchSettings::defaultAlertOnHighThreshold;
    bool alertOnRapidFall = AlertSwitchSettings::defaultAlertOnRapidFall;
    bool alertOnRapidRise = AlertSwitchSettings::defaultAlertOnRapidRise;
    bool allowLowAlertsDuringQuietHours = QuietHoursSetting::defaultAllowsLowAlerts;
    int lowAlertRepeatMinutes = LowAlertRepeatSetting::defaultMinutes;
    bool snoozeLowAlerts = AlertSwitchSettings::defaultSnoozeLowAlerts;
    bool snoozeHighAlerts = AlertSwitchSettings::defaultSnoozeHighAlerts;
    bool snoozeRapidChangeAlerts = AlertSwitchSettings::defaultSnoozeRapidChangeAlerts;
    bool operator==(const GlucoseAlertSettings &) const = default;
};

using GlucoseAlertKinds = std::set<GlucoseAlertKind>;

// The alert memory of the poller: which one-shot kinds have been delivered and stay silent
// until re-armed, and when each kind was last delivered. Never persisted.
struct GlucoseAlertEvaluator {
    // How far short of the low repeat interval a reading may be dated and still count as the
    // reading due at that interval: sensor times jitter by a second or two (LibreLinkUp sends
    // whole seconds), yet stay far from half the shortest cadence (60 s), so the reading before
    // the due one never counts.
    static constexpr TimeInterval kLowRepeatTolerance = 10;

    GlucoseAlertKinds activeOneShotAlertKinds;
    std::map<GlucoseAlertKind, Date> lastAlertSentAt;
    // The date of the reading that raised each kind's last delivered alert. The low repeat is
    // measured between readings' own dates, which follow the sensor's cadence; the moments the
    // readings were fetched and evaluated jitter with the network.
    std::map<GlucoseAlertKind, Date> lastAlertReadingDate;

    // low, high and rapid rise alert once until re-armed; rapid fall repeats.
    static const GlucoseAlertKinds &oneShotKinds();

    // The settings of the given configuration (none: not loaded, the defaults above). The
    // configuration is normalised first, the way every save does, so thresholds stored in
    // mmol/L (both 40 or less) are compared as mg/dL.
    static GlucoseAlertSettings settings(const std::optional<AppConfiguration> &configuration);
    static GlucoseAlertSettings settings(const AppSettings &app);

    // Every kind whose condition the reading meets and whose switch is on. Rapid change comes
    // from the trend text alone ("doubledown"/"singledown", "doubleup"/"singleup", any case).
    static GlucoseAlertKinds candidateKinds(const GlucoseReading &reading, const GlucoseAlertSettings &settings);

    // Whether `date` falls in the quiet period, by its local wall-clock minute of day in `zone`.
    // Start equal to end: all day; start after end: the period crosses midnight.
    static bool isInQuietHours(Date date, const GlucoseAlertSettings &settings,
                               const QTimeZone &zone = QTimeZone::systemTimeZone());
    static bool isInQuietHours(int minuteOfDay, int startMinutes, int endMinutes);
    static int minuteOfDay(Date date, const QTimeZone &zone);

    // Forgets one-shot kinds (and their last-sent dates) that are no longer candidates.
    void rearm(const GlucoseAlertKinds &candidates);

    // The alert to send now for a reading dated `readingDate`, if any: the first candidate of
    // low, rapid fall, high, rapid rise; an active one-shot kind stays silent, except low once
    // the reading is dated at least its repeat interval (less kLowRepeatTolerance) after the
    // reading of the last low alert; while low is active and not due only rapid fall may alert.
    std::optional<GlucoseAlertKind> nextAlert(const GlucoseAlertKinds &candidates,
                                              const GlucoseAlertSettings &settings, Date readingDate) const;

    // A delivered alert, sent at `now` for a reading dated `readingDate`: one-shot kinds become
    // active; every kind gets its last-sent date and its reading date.
    void recordDelivered(GlucoseAlertKind kind, Date now, Date readingDate);

    void reset();
    bool operator==(const GlucoseAlertEvaluator &) const = default;
};

} // namespace quillby
