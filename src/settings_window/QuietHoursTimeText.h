#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>
#include <QValidator>

#include <optional>

namespace quillby {

// How the quiet-hours field writes a time of day: the 24-hour form ("07:30") or the 12-hour
// form with the locale's day-period texts ("7:30 PM"), as the user's time format chooses.
struct TimeOfDayStyle {
    bool twelveHour = false;
    QString amText = QStringLiteral("AM");
    QString pmText = QStringLiteral("PM");

    static TimeOfDayStyle twentyFourHour() { return {}; }
    static TimeOfDayStyle twelveHourClock() { return {true, QStringLiteral("AM"), QStringLiteral("PM")}; }
    // The form of `locale`'s short time format.
    static TimeOfDayStyle of(const QLocale &locale);
};

// What a text typed into the field means.
//  Acceptable: a whole, valid time of day; `minutes` holds it (0...1439).
//  Intermediate: not a time yet, but typing more could make it one ("7", "19:", "7:30 P").
//  Invalid: no further typing can make it a valid time of day ("24:00", "7:60", "x").
struct TimeOfDayParse {
    QValidator::State state = QValidator::Invalid;
    std::optional<int> minutes;
};

// Reads hours and minutes separated by ":" or "." ("7:05", "07.05", "19:30"), with an
// optional day-period text after them ("7:05 pm"; the locale's texts or AM/PM, any case).
// Minutes always take two digits. With a day period the hour runs 1...12 (12 AM is midnight);
// without one 0...23, except that the 12-hour style asks for the day period when the hour
// could be either (1...12). Surrounding white space is ignored.
TimeOfDayParse parseTimeOfDay(QStringView text, const TimeOfDayStyle &style);

// The field's text for `minutes` after midnight, clamped to 0...1439.
QString formatTimeOfDay(int minutes, const TimeOfDayStyle &style);

} // namespace quillby
