#pragma once

#include "core/Clock.h"
#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "polling/GlucoseAlertEvaluator.h"
#include "polling/GlucoseAlertNotificationDelivering.h"

#include <QCoroTask>
#include <QSettings>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

// The alert step of the poller: decides for each new reading whether an alert is posted and
// which one, and owns the alert snooze. The polling coordinator holds one, forwards its
// evaluateAlerts / snoozeAlerts / cancelAlertSnooze to it, and calls reset() whenever polling
// starts or stops. Everything runs on the main thread's event loop.
class GlucoseAlertController {
public:
    // Settings key of the snooze end (ISO-8601 UTC text).
    static inline const QString kAlertSnoozeDefaultsKey = QStringLiteral("QuillbyAlertsSnoozedUntil");

    // One consistent copy of the alert settings, e.g. GlucoseAlertEvaluator::settings of the
    // configuration manager's current configuration.
    using SettingsProvider = std::function<GlucoseAlertSettings()>;
    // Told whenever the snooze end changes (set, replaced, resumed or expired); the poller sets
    // the view model's alertsSnoozedUntil and rebuilds the menu if it has been built.
    using SnoozeObserver = std::function<void(std::optional<Date>)>;
    // Receives "Failed to post glucose alert notification: <error>" (error level, private).
    using ErrorLogger = std::function<void(const std::string &)>;
    using TimeZoneProvider = std::function<QTimeZone()>;

    // `defaults` holds the snooze end; it is read here (a value that is not a date reads as no
    // snooze). `timeZone` gives the local zone of the quiet hours (the system zone by default).
    GlucoseAlertController(std::shared_ptr<GlucoseAlertNotificationDelivering> delivery,
                           std::shared_ptr<Clock> clock, SettingsProvider settings,
                           std::shared_ptr<QSettings> defaults, TimeZoneProvider timeZone = {});

    void setSnoozeObserver(SnoozeObserver observer) { snoozeObserver_ = std::move(observer); }
    void setErrorLogger(ErrorLogger logger) { errorLogger_ = std::move(logger); }

    // Runs the alert step for a new reading in the unit of the current measurement setting.
    // Never throws. Each stage after an await is skipped once `stop` is requested.
    QCoro::Task<void> evaluateAlerts(GlucoseReading reading, GlucoseUnits unit, std::stop_token stop = {});

    // Snoozes from now for max(duration, 60 s), replacing any earlier snooze, and saves the end.
    void snoozeAlerts(TimeInterval duration, std::stop_token stop = {});
    // Ends a snooze at once and removes the saved end.
    void cancelAlertSnooze(std::stop_token stop = {});

    std::optional<Date> alertsSnoozedUntil() const { return alertsSnoozedUntil_; }
    const GlucoseAlertEvaluator &evaluator() const { return evaluator_; }
    // Re-arms every kind (polling started or stopped).
    void reset() { evaluator_.reset(); }

private:
    void setSnoozedUntil(std::optional<Date> until, std::stop_token stop);

    std::shared_ptr<GlucoseAlertNotificationDelivering> delivery_;
    std::shared_ptr<Clock> clock_;
    SettingsProvider settings_;
    std::shared_ptr<QSettings> defaults_;
    TimeZoneProvider timeZone_;
    SnoozeObserver snoozeObserver_;
    ErrorLogger errorLogger_;
    std::optional<Date> alertsSnoozedUntil_;
    GlucoseAlertEvaluator evaluator_;
};

} // namespace quillby
