#include "settings_window/QuietHoursTimeText.h"

#include "core/QuietHoursSetting.h"

#include <algorithm>
#include <array>

namespace quillby {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char(':') || c == QLatin1Char('.');
}

int digitValue(QStringView digits)
{
    int value = 0;
    for (QChar c : digits) {
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// A day period as compared: without its dots and spaces, so "a. m.", "a.m." and "am" are one.
QString dayPeriodKey(QStringView text)
{
    QString key;
    for (QChar c : text) {
        if (!c.isSpace() && c != QLatin1Char('.')) {
            key.append(c);
        }
    }
    return key;
}

enum class DayPeriodMatch { none, prefix, am, pm };

// Compares the typed day period with the style's texts and the English ones, ignoring case.
DayPeriodMatch matchDayPeriod(QStringView typed, const TimeOfDayStyle &style)
{
    const QString key = dayPeriodKey(typed);
    if (key.isEmpty()) {
        return DayPeriodMatch::prefix;   // only dots or spaces so far
    }
    const std::array<std::pair<QString, DayPeriodMatch>, 4> candidates = {{
        {dayPeriodKey(style.amText), DayPeriodMatch::am},
        {dayPeriodKey(style.pmText), DayPeriodMatch::pm},
        {QStringLiteral("AM"), DayPeriodMatch::am},
        {QStringLiteral("PM"), DayPeriodMatch::pm},
    }};
    bool isPrefix = false;
    for (const auto &[candidate, period] : candidates) {
        if (candidate.isEmpty()) {
            continue;
        }
        if (key.compare(candidate, Qt::CaseInsensitive) == 0) {
            return period;
        }
        if (candidate.startsWith(key, Qt::CaseInsensitive)) {
            isPrefix = true;
        }
    }
    return isPrefix ? DayPeriodMatch::prefix : DayPeriodMatch::none;
}

TimeOfDayParse intermediate()
{
    return {QValidator::Intermediate, std::nullopt, false};
}

TimeOfDayParse invalid()
{
    return {QValidator::Invalid, std::nullopt, false};
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
    if (!dayPeriodKey(locale.amText()).isEmpty()) {
        style.amText = locale.amText();
    }
    if (!dayPeriodKey(locale.pmText()).isEmpty()) {
        style.pmText = locale.pmText();
    }
    return style;
}

qsizetype hourMinuteSeparator(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    const qsizetype digitsStart = i;
    while (i < text.size() && isAsciiDigit(text[i])) {
        ++i;
    }
    return i > digitsStart && i < text.size() && isSeparator(text[i]) ? i : -1;
}

TimeOfDayParse parseTimeOfDay(QStringView text, const TimeOfDayStyle &style)
{
    const QStringView t = text.trimmed();
    const qsizetype n = t.size();
    if (n == 0) {
        return intermediate();
    }
    qsizetype i = 0;
    while (i < n && isAsciiDigit(t[i])) {
        ++i;
    }
    const QStringView digits = t.first(i);
    if (digits.isEmpty() || digits.size() > 4) {
        return invalid();
    }

    int hour = 0;
    int minute = 0;
    QStringView hourText;
    QStringView dayPeriod;
    if (i < n && isSeparator(t[i])) {
        // "7:05", "19.30"
        if (digits.size() > 2) {
            return invalid();
        }
        hourText = digits;
        hour = digitValue(digits);
        if (hour > 23) {
            return invalid();
        }
        const qsizetype minuteStart = ++i;
        while (i < n && isAsciiDigit(t[i])) {
            if (i == minuteStart && t[i] > QLatin1Char('5')) {
                return invalid();
            }
            if (i - minuteStart == 2) {
                return invalid();
            }
            ++i;
        }
        dayPeriod = t.mid(i).trimmed();
        if (i - minuteStart < 2) {
            return dayPeriod.isEmpty() ? intermediate() : invalid();
        }
        minute = digitValue(t.sliced(minuteStart, 2));
    } else {
        // Digits alone: "7", "730", "0730", "1930"; before a day period also "7 pm".
        dayPeriod = t.mid(i).trimmed();
        switch (digits.size()) {
        case 1:
        case 2:
            if (dayPeriod.isEmpty()) {
                // More digits may follow: "19" can become "1930", "25" can become "255".
                const bool canGrow = digits.size() == 1 || digits[1] <= QLatin1Char('5') || digitValue(digits) <= 23;
                return canGrow ? intermediate() : invalid();
            }
            hourText = digits;
            break;
        case 3:
            hourText = digits.first(1);
            minute = digitValue(digits.sliced(1));
            if (minute > 59 && dayPeriod.isEmpty()) {
                // "193" is on its way to "1930".
                const bool canGrow = digitValue(digits.first(2)) <= 23 && digits[2] <= QLatin1Char('5');
                return canGrow ? intermediate() : invalid();
            }
            break;
        default:
            hourText = digits.first(2);
            minute = digitValue(digits.sliced(2));
            break;
        }
        hour = digitValue(hourText);
        if (hour > 23 || minute > 59) {
            return invalid();
        }
    }

    if (dayPeriod.isEmpty()) {
        const bool writtenTwentyFourHour = hourText.size() == 2 && hourText[0] == QLatin1Char('0');
        if (style.twelveHour && hour >= 1 && hour <= 12 && !writtenTwentyFourHour) {
            return {QValidator::Intermediate, std::nullopt, true};   // morning or evening is still to be said
        }
        return {QValidator::Acceptable, hour * 60 + minute, false};
    }
    if (hour < 1 || hour > 12) {
        return invalid();
    }
    switch (matchDayPeriod(dayPeriod, style)) {
    case DayPeriodMatch::none: return invalid();
    case DayPeriodMatch::prefix: return intermediate();
    case DayPeriodMatch::am: return {QValidator::Acceptable, (hour % 12) * 60 + minute, false};
    case DayPeriodMatch::pm: return {QValidator::Acceptable, (hour % 12 + 12) * 60 + minute, false};
    }
    return invalid();
}

QString formatTimeOfDay(int minutes, const TimeOfDayStyle &style)
{
    const int clamped = QuietHoursSetting::clamped(minutes);
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
