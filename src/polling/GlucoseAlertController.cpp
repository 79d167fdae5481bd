#include "polling/GlucoseAlertController.h"

#include "core/UserDefaults.h"

#include <cmath>
#include <exception>

namespace quillby {

namespace {

// A reading may be dated up to a minute ahead (clocks differ) and must be under 15 minutes old.
constexpr TimeInterval kAllowedFutureSkew = 60;
constexpr TimeInterval kMaximumAlertAge = 900;
constexpr TimeInterval kMinimumSnooze = 60;

} // namespace

GlucoseAlertController::GlucoseAlertController(std::shared_ptr<GlucoseAlertNotificationDelivering> delivery,
                                               std::shared_ptr<Clock> clock, SettingsProvider settings,
                                               std::shared_ptr<QSettings> defaults, TimeZoneProvider timeZone)
    : delivery_(std::move(delivery)),
      clock_(std::move(clock)),
      settings_(std::move(settings)),
      defaults_(std::move(defaults)),
      timeZone_(std::move(timeZone))
{
    if (!timeZone_) {
        timeZone_ = [] { return QTimeZone::systemTimeZone(); };
    }
    if (defaults_) {
        // A stored value that is not a date reads as no snooze; an expired one is cleared by
        // the next evaluation, not here.
        alertsSnoozedUntil_ = defaults::readDate(*defaults_, kAlertSnoozeDefaultsKey);
    }
}

QCoro::Task<void> GlucoseAlertController::evaluateAlerts(GlucoseReading reading, GlucoseUnits unit,
                                                         std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return;
    }
    const GlucoseAlertSettings settings = settings_ ? settings_() : GlucoseAlertSettings{};
    const Date now = clock_->now();

    if (alertsSnoozedUntil_ && *alertsSnoozedUntil_ <= now) {
        setSnoozedUntil(std::nullopt, stop);
    }

    if (!settings.alertsEnabled) {
        evaluator_.reset();
        co_return;
    }

    // Only a fresh reading may raise an alert or re-arm one; a stale or future one touches nothing.
    if (!(reading.date <= now + kAllowedFutureSkew) || !(now - reading.date < kMaximumAlertAge)) {
        co_return;
    }

    GlucoseAlertKinds candidates = GlucoseAlertEvaluator::candidateKinds(reading, settings);
    evaluator_.rearm(candidates);

    if (settings.quietHoursEnabled && GlucoseAlertEvaluator::isInQuietHours(now, settings, timeZone_())) {
        if (!settings.allowLowAlertsDuringQuietHours) {
            co_return;
        }
        std::erase_if(candidates, [](GlucoseAlertKind kind) { return kind != GlucoseAlertKind::lowThreshold; });
    }

    if (alertsSnoozedUntil_ && *alertsSnoozedUntil_ > now) {
        std::erase_if(candidates, [&settings](GlucoseAlertKind kind) {
            switch (kind) {
            case GlucoseAlertKind::lowThreshold:
                return settings.snoozeLowAlerts;
            case GlucoseAlertKind::highThreshold:
                return settings.snoozeHighAlerts;
            case GlucoseAlertKind::rapidFall:
            case GlucoseAlertKind::rapidRise:
                return settings.snoozeRapidChangeAlerts;
            }
            return false;
        });
    }

    const std::optional<GlucoseAlertKind> kind = evaluator_.nextAlert(candidates, settings, reading.date);
    if (!kind || !delivery_) {
        co_return;
    }

    // Keep the delivery alive across the awaits; after each one, `stop` is checked before this
    // object is touched again (the poller requests it before it lets go of us).
    const std::shared_ptr<GlucoseAlertNotificationDelivering> delivery = delivery_;
    bool authorized = false;
    try {
        authorized = co_await delivery->requestAuthorizationIfNeeded();
    } catch (...) {
        authorized = false;
    }
    if (!authorized || stop.stop_requested()) {
        co_return;   // nothing recorded: the same alert is decided again on the next reading
    }

    const GlucoseAlertMessage message =
        alertMessage(*kind, reading, unit, settings.lowGlucoseThreshold, settings.highGlucoseThreshold);
    std::optional<std::string> failure;
    try {
        co_await delivery->sendNotification(message.title, message.body);
    } catch (const std::exception &error) {
        failure = error.what();
    } catch (...) {
        failure = "unknown error";
    }
    if (stop.stop_requested()) {
        co_return;
    }
    if (failure) {
        if (errorLogger_) {
            errorLogger_("Failed to post glucose alert notification: " + *failure);
        }
        co_return;
    }
    evaluator_.recordDelivered(*kind, now, reading.date);
}

void GlucoseAlertController::snoozeAlerts(TimeInterval duration, std::stop_token stop)
{
    // A short (or not finite) duration snoozes for the minimum.
    const TimeInterval length = std::isfinite(duration) && duration >= kMinimumSnooze ? duration : kMinimumSnooze;
    setSnoozedUntil(clock_->now() + length, stop);
}

void GlucoseAlertController::cancelAlertSnooze(std::stop_token stop)
{
    setSnoozedUntil(std::nullopt, stop);
}

void GlucoseAlertController::setSnoozedUntil(std::optional<Date> until, std::stop_token stop)
{
    alertsSnoozedUntil_ = until;
    if (defaults_) {
        if (until) {
            defaults::writeDate(*defaults_, kAlertSnoozeDefaultsKey, *until);
        } else {
            defaults_->remove(kAlertSnoozeDefaultsKey);
        }
        defaults_->sync();
    }
    if (!stop.stop_requested() && snoozeObserver_) {
        snoozeObserver_(until);
    }
}

} // namespace quillby
