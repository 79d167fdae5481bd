#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>
#include <QValidator>

#include <optional>

namespace quillby {

// How the quiet-hours field writes a time of day: the 24-hour form ("07:30") or the 12-hour
// form with the locale's day-period texts ("7:30 PM", "7:30 p.m."), as the user's time format
// chooses.
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
//    `needsDayPeriod` is set when only the day period is missing ("7:30" on a 12-hour clock).
//  Invalid: no further typing at the end can make it a valid time of day ("24:00", "7:60", "x").
struct TimeOfDayParse {
    QValidator::State state = QValidator::Invalid;
    std::optional<int> minutes;
    bool needsDayPeriod = false;
};

// Reads a time of day:
//  - hours and minutes separated by ":" or "." ("7:05", "07.05", "19:30"); minutes take two digits;
//  - or digits alone: "700" and "0700" are 07:00, "1930" is 19:30;
//  - or, before a day period, the hour alone ("7 pm");
// each with an optional day period after it ("7:05 pm"): the locale's texts or AM/PM, in any
// case, with or without their dots and spaces ("a. m.", "am", "π.μ.", "πμ"). With a day period
// the hour runs 1...12 (12 AM is midnight); without one 0...23. The 12-hour style asks for the
// day period when the hour could be either (1...12), unless the hour is written with a leading
// zero ("07:00"), the 24-hour way. Surrounding white space is ignored.
TimeOfDayParse parseTimeOfDay(QStringView text, const TimeOfDayStyle &style);

// Where the separator between hour and minutes is in `text` (-1 when there is none yet): the
// first ":" or "." right after the leading digits, never a dot of the day period.
qsizetype hourMinuteSeparator(QStringView text);

// The field's text for `minutes` after midnight, clamped to 0...1439.
QString formatTimeOfDay(int minutes, const TimeOfDayStyle &style);

} // namespace quillby
