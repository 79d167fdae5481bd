#include "polling/GlucoseAlertEvaluator.h"

#include "core/AsciiText.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>

namespace quillby {

namespace {

constexpr std::array kDecisionOrder{GlucoseAlertKind::lowThreshold, GlucoseAlertKind::rapidFall,
                                    GlucoseAlertKind::highThreshold, GlucoseAlertKind::rapidRise};

} // namespace

GlucoseAlertMessage alertMessage(GlucoseAlertKind kind, const GlucoseReading &reading, GlucoseUnits unit,
                                 double lowThresholdMgdL, double highThresholdMgdL)
{
    const std::string unitText = units::symbol(unit);
    const std::string lead = units::format(unit, reading.mgdL) + " " + unitText + " " + reading.trendArrow;
    switch (kind) {
    case GlucoseAlertKind::lowThreshold:
        return {"Low glucose alert",
                lead + " (low threshold " + units::format(unit, lowThresholdMgdL) + " " + unitText + ")"};
    case GlucoseAlertKind::highThreshold:
        return {"High glucose alert",
                lead + " (high threshold " + units::format(unit, highThresholdMgdL) + " " + unitText + ")"};
    case GlucoseAlertKind::rapidFall:
        return {"Rapid glucose drop", lead + ". Glucose is falling quickly."};
    case GlucoseAlertKind::rapidRise:
        return {"Rapid glucose rise", lead + ". Glucose is rising quickly."};
    }
    return {};
}

const GlucoseAlertKinds &GlucoseAlertEvaluator::oneShotKinds()
{
    static const GlucoseAlertKinds kinds{GlucoseAlertKind::lowThreshold, GlucoseAlertKind::highThreshold,
                                         GlucoseAlertKind::rapidRise};
    return kinds;
}

GlucoseAlertSettings GlucoseAlertEvaluator::settings(const std::optional<AppConfiguration> &configuration)
{
    if (!configuration) {
        return {};
    }
    // A stored document may predate normalisation (thresholds typed in mmol/L, values out of
    // range); alerts compare in mg/dL, so use what the next save would store.
    return settings(configuration->normalized().app);
}

GlucoseAlertSettings GlucoseAlertEvaluator::settings(const AppSettings &app)
{
    GlucoseAlertSettings s;
    s.alertsEnabled = app.alertsEnabled;
    s.quietHoursEnabled = app.quietHoursEnabled;
    s.quietHoursStartMinutes = app.quietHoursStartMinutes;
    s.quietHoursEndMinutes = app.quietHoursEndMinutes;
    s.lowGlucoseThreshold = app.lowGlucoseThreshold;
    s.highGlucoseThreshold = app.highGlucoseThreshold;
    s.alertOnLowThreshold = app.alertOnLowThreshold;
    s.alertOnHighThreshold = app.alertOnHighThreshold;
    s.alertOnRapidFall = app.alertOnRapidFall;
    s.alertOnRapidRise = app.alertOnRapidRise;
    s.allowLowAlertsDuringQuietHours = app.allowLowAlertsDuringQuietHours;
    s.lowAlertRepeatMinutes = app.lowAlertRepeatMinutes;
    s.snoozeLowAlerts = app.snoozeLowAlerts;
    s.snoozeHighAlerts = app.snoozeHighAlerts;
    s.snoozeRapidChangeAlerts = app.snoozeRapidChangeAlerts;
    return s;
}

GlucoseAlertKinds GlucoseAlertEvaluator::candidateKinds(const GlucoseReading &reading,
                                                        const GlucoseAlertSettings &settings)
{
    GlucoseAlertKinds kinds;
    if (settings.alertOnLowThreshold && reading.mgdL <= settings.lowGlucoseThreshold) {
        kinds.insert(GlucoseAlertKind::lowThreshold);
    }
    if (settings.alertOnHighThreshold && reading.mgdL >= settings.highGlucoseThreshold) {
        kinds.insert(GlucoseAlertKind::highThreshold);
    }
    const std::string trend = asciiLowercased(reading.trendString);
    if (settings.alertOnRapidFall && (trend == "doubledown" || trend == "singledown")) {
        kinds.insert(GlucoseAlertKind::rapidFall);
    }
    if (settings.alertOnRapidRise && (trend == "doubleup" || trend == "singleup")) {
        kinds.insert(GlucoseAlertKind::rapidRise);
    }
    return kinds;
}

int GlucoseAlertEvaluator::minuteOfDay(Date date, const QTimeZone &zone)
{
    if (!std::isfinite(date) || std::fabs(date) > 1.0e14) {   // outside any calendar
        return 0;
    }
    // Whole milliseconds toward the past: 21:59:59.9996 is still 21:59, not 22:00.
    const auto ms = static_cast<qint64>(std::floor(date * 1000.0));
    const QDateTime local = zone.isValid() ? QDateTime::fromMSecsSinceEpoch(ms, zone)
                                           : QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
    const QTime time = local.time();
    return time.isValid() ? time.hour() * 60 + time.minute() : 0;
}

bool GlucoseAlertEvaluator::isInQuietHours(int minute, int start, int end)
{
    if (start == end) {
        return true;
    }
    if (start < end) {
        return start <= minute && minute < end;
    }
    return minute >= start || minute < end;
}

bool GlucoseAlertEvaluator::isInQuietHours(Date date, const GlucoseAlertSettings &settings, const QTimeZone &zone)
{
    return isInQuietHours(minuteOfDay(date, zone), settings.quietHoursStartMinutes, settings.quietHoursEndMinutes);
}

void GlucoseAlertEvaluator::rearm(const GlucoseAlertKinds &candidates)
{
    std::erase_if(activeOneShotAlertKinds, [&](GlucoseAlertKind kind) {
        return !oneShotKinds().contains(kind) || !candidates.contains(kind);
    });
    const auto inactive = [&](const auto &entry) { return !activeOneShotAlertKinds.contains(entry.first); };
    std::erase_if(lastAlertSentAt, inactive);
    std::erase_if(lastAlertReadingDate, inactive);
}

std::optional<GlucoseAlertKind> GlucoseAlertEvaluator::nextAlert(const GlucoseAlertKinds &candidates,
                                                                const GlucoseAlertSettings &settings,
                                                                Date readingDate) const
{
    const auto chosen = std::find_if(kDecisionOrder.begin(), kDecisionOrder.end(),
                                     [&](GlucoseAlertKind kind) { return candidates.contains(kind); });
    if (chosen == kDecisionOrder.end()) {
        return std::nullopt;
    }
    const GlucoseAlertKind kind = *chosen;
    if (!oneShotKinds().contains(kind) || !activeOneShotAlertKinds.contains(kind)) {
        return kind;
    }
    if (kind != GlucoseAlertKind::lowThreshold) {
        return std::nullopt;
    }
    if (settings.lowAlertRepeatMinutes > 0) {
        const auto last = lastAlertReadingDate.find(GlucoseAlertKind::lowThreshold);
        if (last != lastAlertReadingDate.end()
            && readingDate - last->second >= settings.lowAlertRepeatMinutes * 60.0 - kLowRepeatTolerance) {
            return GlucoseAlertKind::lowThreshold;
        }
    }
    // Low is active and not due: a falling trend still alerts; high and rapid rise wait.
    if (candidates.contains(GlucoseAlertKind::rapidFall)) {
        return GlucoseAlertKind::rapidFall;
    }
    return std::nullopt;
}

void GlucoseAlertEvaluator::recordDelivered(GlucoseAlertKind kind, Date now, Date readingDate)
{
    if (oneShotKinds().contains(kind)) {
        activeOneShotAlertKinds.insert(kind);
    }
    lastAlertSentAt[kind] = now;
    lastAlertReadingDate[kind] = readingDate;
}

void GlucoseAlertEvaluator::reset()
{
    activeOneShotAlertKinds.clear();
    lastAlertSentAt.clear();
    lastAlertReadingDate.clear();
}

} // namespace quillby
