#include "insights_window/InsightsFormat.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace quillby {

std::optional<int> clampedInt(double value, int low, int high)
{
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double clamped = std::clamp(value, static_cast<double>(low), static_cast<double>(high));
    return static_cast<int>(clamped);
}

int clampedInt(double value, int low, int high, int fallback)
{
    return clampedInt(value, low, high).value_or(fallback);
}

QString InsightsFormat::unitText(GlucoseUnits unit)
{
    return unit == GlucoseUnits::mgdL ? QStringLiteral("mg/dL") : QStringLiteral("mmol/L");
}

QString InsightsFormat::glucose(double mgdl, GlucoseUnits unit)
{
    if (!std::isfinite(mgdl)) {
        return QStringLiteral("—");
    }
    return unit == GlucoseUnits::mgdL ? decimal(mgdl, 0) : decimal(mgdl / 18.0, 1);
}

QString InsightsFormat::decimal(double value, int fractionDigits)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', fractionDigits);
    // "-0" of a tiny negative value reads as 0.
    if (text.startsWith(locale.negativeSign()) && locale.toDouble(text) == 0.0) {
        text.remove(0, locale.negativeSign().size());
    }
    return text;
}

QString InsightsFormat::shortDecimal(double value, int maxFractionDigits)
{
    QString text = decimal(value, maxFractionDigits);
    const QString point = QLocale().decimalPoint();
    if (maxFractionDigits > 0 && text.contains(point)) {
        while (text.endsWith(QLatin1Char('0'))) {
            text.chop(1);
        }
        if (text.endsWith(point)) {
            text.chop(point.size());
        }
    }
    return text;
}

QString InsightsFormat::percent(double fraction, int maxFractionDigits)
{
    const double value = std::isfinite(fraction) ? fraction * 100.0 : 0.0;
    return shortDecimal(value, maxFractionDigits) + QLocale().percent();
}

QString InsightsFormat::integer(int value)
{
    return QLocale().toString(value);
}

QString InsightsFormat::dayCount(int days)
{
    return days == 1 ? QStringLiteral("1 day") : integer(days) + QStringLiteral(" days");
}

QString InsightsFormat::timeLabel(int minute, bool includeMinutes)
{
    const int wrapped = ((minute % 1440) + 1440) % 1440;
    const QTime time(wrapped / 60, wrapped % 60);
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    if (!includeMinutes) {
        // Drop the minutes and the separator before them ("h:mm AP" -> "h AP", "HH:mm" -> "HH").
        static const QRegularExpression minutes(QStringLiteral("[^hHaApP\\s]*m+"));
        format.remove(minutes);
        format = format.trimmed();
    }
    static const QRegularExpression seconds(QStringLiteral("[^hHmaApP\\s]*s+"));
    format.remove(seconds);
    return QLocale().toString(time, format.trimmed());
}

} // namespace quillby
