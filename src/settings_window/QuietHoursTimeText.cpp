#include "settings_window/QuietHoursTimeText.h"

#include <algorithm>
#include <array>

namespace quillby {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

enum class DayPeriodMatch { none, prefix, am, pm };

// Compares the typed day period with the style's texts and the English ones, ignoring case.
DayPeriodMatch matchDayPeriod(QStringView typed, const TimeOfDayStyle &style)
{
    const std::array<std::pair<QString, DayPeriodMatch>, 4> candidates = {{
        {style.amText, DayPeriodMatch::am},
        {style.pmText, DayPeriodMatch::pm},
        {QStringLiteral("AM"), DayPeriodMatch::am},
        {QStringLiteral("PM"), DayPeriodMatch::pm},
    }};
    bool isPrefix = false;
    for (const auto &[candidate, period] : candidates) {
        if (candidate.isEmpty()) {
            continue;
        }
        if (typed.compare(candidate, Qt::CaseInsensitive) == 0) {
            return period;
        }
        if (QStringView(candidate).startsWith(typed, Qt::CaseInsensitive)) {
            isPrefix = true;
        }
    }
    return isPrefix ? DayPeriodMatch::prefix : DayPeriodMatch::none;
}

TimeOfDayParse intermediate()
{
    return {QValidator::Intermediate, std::nullopt};
}

TimeOfDayParse invalid()
{
    return {QValidator::Invalid, std::nullopt};
}

} // namespace

TimeOfDayStyle TimeOfDayStyle::of(const QLocale &locale)
{
    // The short time format names the day period with "a"/"A" ("h:mm AP"); quoted literal
    // text does not count.
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    bool quoted = false;
    bool twelveHour = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && (c == QLatin1Char('a') || c == QLatin1Char('A'))) {
            twelveHour = true;
        }
    }
    TimeOfDayStyle style;
    style.twelveHour = twelveHour;
    if (!locale.amText().isEmpty()) {
        style.amText = locale.amText();
    }
    if (!locale.pmText().isEmpty()) {
        style.pmText = locale.pmText();
    }
    return style;
}

TimeOfDayParse parseTimeOfDay(QStringView text, const TimeOfDayStyle &style)
{
    const QStringView t = text.trimmed();
    const qsizetype n = t.size();
    qsizetype i = 0;

    int hour = 0;
    int hourDigits = 0;
    while (i < n && isAsciiDigit(t[i])) {
        hour = hour * 10 + (t[i].unicode() - '0');
        ++hourDigits;
        ++i;
        if (hourDigits > 2 || hour > 23) {
            return invalid();
        }
    }
    if (hourDigits == 0) {
        return n == 0 ? intermediate() : invalid();
    }
    if (i == n) {
        return intermediate();   // "7", "19": the minutes are still to come
    }
    if (t[i] != QLatin1Char(':') && t[i] != QLatin1Char('.')) {
        return invalid();
    }
    ++i;

    int minute = 0;
    int minuteDigits = 0;
    while (i < n && isAsciiDigit(t[i])) {
        const int digit = t[i].unicode() - '0';
        if (minuteDigits == 0 && digit > 5) {
            return invalid();
        }
        minute = minute * 10 + digit;
        ++minuteDigits;
        ++i;
        if (minuteDigits > 2) {
            return invalid();
        }
    }
    const QStringView dayPeriod = t.mid(i).trimmed();
    if (minuteDigits < 2) {
        return dayPeriod.isEmpty() ? intermediate() : invalid();
    }

    if (dayPeriod.isEmpty()) {
        if (style.twelveHour && hour >= 1 && hour <= 12) {
            return intermediate();   // morning or evening is still to be said
        }
        return {QValidator::Acceptable, hour * 60 + minute};
    }
    if (hour < 1 || hour > 12) {
        return invalid();
    }
    switch (matchDayPeriod(dayPeriod, style)) {
    case DayPeriodMatch::none: return invalid();
    case DayPeriodMatch::prefix: return intermediate();
    case DayPeriodMatch::am: return {QValidator::Acceptable, (hour % 12) * 60 + minute};
    case DayPeriodMatch::pm: return {QValidator::Acceptable, (hour % 12 + 12) * 60 + minute};
    }
    return invalid();
}

QString formatTimeOfDay(int minutes, const TimeOfDayStyle &style)
{
    const int clamped = std::clamp(minutes, 0, 1439);
    const int hour = clamped / 60;
    const int minute = clamped % 60;
    if (!style.twelveHour) {
        return QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
    }
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    return QStringLiteral("%1:%2 %3")
        .arg(hour12)
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(hour < 12 ? style.amText : style.pmText);
}

} // namespace quillby
