#include "menubar/StatusText.h"

#include "core/AsciiText.h"

#include <algorithm>
#include <cmath>

namespace quillby {

QString trendDescription(const QString &trend)
{
    const QString lowered = asciiLowercased(trend);
    if (lowered == QLatin1String("doubleup")) {
        return QStringLiteral("rising quickly");
    }
    if (lowered == QLatin1String("singleup")) {
        return QStringLiteral("rising");
    }
    if (lowered == QLatin1String("fortyfiveup")) {
        return QStringLiteral("rising slightly");
    }
    if (lowered == QLatin1String("flat")) {
        return QStringLiteral("steady");
    }
    if (lowered == QLatin1String("fortyfivedown")) {
        return QStringLiteral("falling slightly");
    }
    if (lowered == QLatin1String("singledown")) {
        return QStringLiteral("falling");
    }
    if (lowered == QLatin1String("doubledown")) {
        return QStringLiteral("falling quickly");
    }
    return QStringLiteral("unknown trend");
}

QString relativeAgeText(double seconds)
{
    // Whole minutes, truncated toward zero, at least one. Ages far beyond any real reading
    // are capped so the conversion stays defined.
    const double minutesExact = std::isfinite(seconds) ? std::trunc(seconds / 60.0) : 1.0;
    const long long minutes = std::max(1LL, static_cast<long long>(std::min(minutesExact, 1.0e15)));
    if (minutes == 1) {
        return QStringLiteral("1 minute");
    }
    if (minutes < 60) {
        return QStringLiteral("%1 minutes").arg(minutes);
    }
    const long long hours = minutes / 60;
    const long long rest = minutes % 60;
    if (rest == 0) {
        return hours == 1 ? QStringLiteral("1 hour") : QStringLiteral("%1 hours").arg(hours);
    }
    return QStringLiteral("%1h %2m").arg(hours).arg(rest);
}

StatusStyle decideStatusAppearance(const QString &trend, double value, double low, double high)
{
    const QString lowered = asciiLowercased(trend);
    if (lowered == QLatin1String("doubledown") || value <= low) {
        return StatusStyle::low;
    }
    if (lowered == QLatin1String("doubleup") || value >= high) {
        return StatusStyle::high;
    }
    return StatusStyle::normal;
}

QString valueText(GlucoseUnits unit, double mgdL)
{
    return QString::fromStdString(units::format(unit, mgdL));
}

QString statusTitle(const GlucoseReading &reading, GlucoseUnits unit, Date now)
{
    const QString value = valueText(unit, reading.mgdL);
    switch (freshnessForAge(readingAge(reading.date, now))) {
    case Freshness::fresh:
        return value + QLatin1Char(' ') + QString::fromStdString(reading.trendArrow);
    case Freshness::stale:
        return value + QStringLiteral(" ?");
    case Freshness::unavailable:
        break;
    }
    return QStringLiteral("-- ?");
}

QString unitWords(GlucoseUnits unit)
{
    return unit == GlucoseUnits::mgdL ? QStringLiteral("milligrams per deciliter")
                                      : QStringLiteral("millimoles per liter");
}

QString activityWords(StatusBarActivity activity)
{
    switch (activity) {
    case StatusBarActivity::loading:
        return QStringLiteral("Loading glucose");
    case StatusBarActivity::refreshing:
        return QStringLiteral("Refreshing glucose");
    case StatusBarActivity::authenticating:
        return QStringLiteral("Signing in");
    }
    return {};
}

QString readingSentence(const std::optional<GlucoseReading> &reading, GlucoseUnits unit, double lowThreshold,
                        double highThreshold, Date now)
{
    if (!reading) {
        return QStringLiteral("No glucose readings available.");
    }
    const QString value = valueText(unit, reading->mgdL) + QLatin1Char(' ') + unitWords(unit);
    switch (freshnessForAge(readingAge(reading->date, now))) {
    case Freshness::fresh: {
        QString position = QStringLiteral("in range");
        if (reading->mgdL <= lowThreshold) {
            position = QStringLiteral("at or below the low threshold");
        } else if (reading->mgdL >= highThreshold) {
            position = QStringLiteral("at or above the high threshold");
        }
        return QStringLiteral("Current glucose: ") + value + QStringLiteral(", ") + position + QStringLiteral(", ")
            + trendDescription(QString::fromStdString(reading->trendString)) + QLatin1Char('.');
    }
    case Freshness::stale:
        return QStringLiteral("Stale glucose reading. Last known glucose: ") + value
            + QStringLiteral(". Trend unavailable.");
    case Freshness::unavailable:
        break;
    }
    return QStringLiteral("Current glucose unavailable. Last known glucose: ") + value
        + QStringLiteral(". Trend unavailable.");
}

QString statusAccessibilityText(const StatusSpeechInput &input, Date now)
{
    std::optional<GlucoseReading> newest;
    if (!input.glucoseHistory.empty()) {
        newest = input.glucoseHistory.back();
    }
    QString text = readingSentence(newest, input.unit, input.lowThreshold, input.highThreshold, now);

    if (input.glucoseHistory.empty()) {
        QString prefix;
        if (!input.currentError && input.activity) {
            prefix = activityWords(*input.activity);
        } else if (!input.title.isEmpty() && input.title != QLatin1String("--")
                   && input.title != QLatin1String("-- ?")) {
            prefix = input.title;
        }
        if (!prefix.isEmpty()) {
            text = prefix + QStringLiteral(". ") + text;
        }
    }
    if (input.currentError) {
        text += QLatin1Char(' ') + QString::fromStdString(input.currentError->title) + QLatin1Char('.');
    } else if (!input.glucoseHistory.empty() && input.activity) {
        text += QLatin1Char(' ') + activityWords(*input.activity) + QLatin1Char('.');
    }
    if (input.isUpdateAvailable) {
        text += QStringLiteral(" Update available.");
    }
    return text;
}

ErrorInfo staleReadingWarning(double age)
{
    const QString words = relativeAgeText(age);
    return ErrorInfo{"Stale glucose reading",
                     ("Last glucose reading was " + words + " ago.").toStdString(),
                     "Check your sensor connection and sensor app if readings do not resume."};
}

} // namespace quillby
