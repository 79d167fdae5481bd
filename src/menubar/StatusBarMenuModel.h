#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "menubar/StatusDateFormatter.h"
#include "polling/ErrorInfo.h"

#include <QString>

#include <optional>
#include <vector>

namespace quillby {

// What a menu entry does when chosen.
enum class StatusBarMenuAction { none, downloadUpdate, insights, settings, snooze30Minutes, snooze2Hours,
                                 resumeAlerts, quit };

// One entry of the status item's menu, free of widgets: the right-click menu and the popup
// panel are both built from the same list.
struct StatusBarMenuEntry {
    enum class Kind {
        graph,       // the glucose graph (popup) or a one-line reading summary (plain menu)
        alertRow,    // the error or warning row
        separator,
        action,      // a plain entry; disabled entries are information lines
    };
    Kind kind = Kind::action;
    QString text;                 // the entry's title; the summary line for the graph
    QString shortcutKey;          // "i", "," or "q" (used with the Control key), or empty
    StatusBarMenuAction action = StatusBarMenuAction::none;
    bool enabled = true;
    std::optional<ErrorInfo> alert;   // alert row
    QString retryText;                // alert row: "Next retry at ..." or empty
    QString objectName;               // the entry's identifier for tests and accessibility

    bool operator==(const StatusBarMenuEntry &) const = default;
};

// Everything the menu's contents depend on, read from the view model and the settings.
struct StatusBarMenuState {
    GlucoseReadings glucoseHistory;          // the last one is the newest
    GlucoseUnits unit = GlucoseUnits::mmolL;
    std::optional<ErrorInfo> currentError;
    std::optional<ErrorInfo> freshnessWarning;
    std::optional<Date> nextRetryAt;
    std::optional<Date> alertsSnoozedUntil;
    bool isUpdateAvailable = false;
    QString updateInstallFailure;            // why the last install failed; empty when none did
    bool alertsEnabled = true;
    bool allAlertKindsSnooze = true;         // low, high and rapid-change snoozing all on
};

class StatusBarMenuModel {
public:
    explicit StatusBarMenuModel(StatusDateFormatter formatter = StatusDateFormatter());

    // The whole menu: the graph and its separator, then the alert row, the update entry, the
    // snooze section, Insights, Settings and Quit.
    std::vector<StatusBarMenuEntry> entries(const StatusBarMenuState &state, Date now) const;

    // "Next retry at " and the time with seconds.
    QString retryText(Date date) const;
    // The one-line stand-in for the graph in a plain menu: value, trend and unit, then the
    // date of the last reading; "No glucose readings available." without readings.
    QString readingSummary(const GlucoseReadings &history, GlucoseUnits unit, Date now) const;

    // The alert row's spoken label: title, message, remediation and retry text, leaving out
    // empty ones, joined with ". ".
    static QString alertAccessibleLabel(const ErrorInfo &info, const QString &retryText);

    const StatusDateFormatter &formatter() const { return formatter_; }

private:
    void addSnoozeEntries(std::vector<StatusBarMenuEntry> &entries, const StatusBarMenuState &state,
                          Date now) const;

    StatusDateFormatter formatter_;
};

} // namespace quillby
