#pragma once

#include "core/GlucoseReading.h"
#include "core/GlucoseThresholdSetting.h"
#include "menubar/StatusBarTypes.h"
#include "polling/ErrorInfo.h"
#include "polling/StatusBarPollingPresenting.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quillby {

// Trend text to words for speech ("SingleUp" -> "rising"); unknown texts give "unknown trend".
QString trendDescription(const QString &trend);

// An age in seconds as words: "1 minute", "12 minutes", "2 hours", "2h 5m".
QString relativeAgeText(double seconds);

// The colour style of a fresh reading: a falling-quickly trend or a value at or below the low
// threshold is low; otherwise a rising-quickly trend or a value at or above the high one is high.
StatusStyle decideStatusAppearance(const QString &trend, double value, double low, double high);

// The status title for a reading at `now`: "5.5 →" when fresh, "5.5 ?" when stale, "-- ?" when
// unavailable. `unit` decides the value text.
QString statusTitle(const GlucoseReading &reading, GlucoseUnits unit, Date now);

// The display text of a mg/dL value in a unit, without the unit.
QString valueText(GlucoseUnits unit, double mgdL);

// "milligrams per deciliter" or "millimoles per liter".
QString unitWords(GlucoseUnits unit);

// What the status item is busy with, as spoken words: "Loading glucose", "Refreshing glucose",
// "Signing in".
QString activityWords(StatusBarActivity activity);

// The reading sentence shared by the spoken status and the graph's description: the current
// value with its position against the thresholds and the trend, or the stale or unavailable
// sentence, or "No glucose readings available." without a reading.
QString readingSentence(const std::optional<GlucoseReading> &reading, GlucoseUnits unit, double lowThreshold,
                        double highThreshold, Date now);

// Everything the spoken status text of the status item depends on.
struct StatusSpeechInput {
    QString title;
    GlucoseReadings glucoseHistory;   // the last one is the newest
    std::optional<StatusBarActivity> activity;
    std::optional<ErrorInfo> currentError;
    bool isUpdateAvailable = false;
    GlucoseUnits unit = GlucoseUnits::mmolL;
    double lowThreshold = GlucoseThresholds::low.defaultValue;
    double highThreshold = GlucoseThresholds::high.defaultValue;
};

// The spoken status text of the status item (its tooltip and accessible description).
QString statusAccessibilityText(const StatusSpeechInput &input, Date now);

// The staleness warning for a reading of the given age.
ErrorInfo staleReadingWarning(double age);

} // namespace quillby
