#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace quillby {

// The one form in which the program writes a date with its time of day, in the tray, its menu,
// its graph and Settings alike: the locale's medium date ("Dec 11, 2026", "11. Dez. 2026") and
// its short time ("2:03 AM", "02:03").
QString mediumDateShortTime(const QDateTime &dateTime, const QLocale &locale);

// The locale's medium date format: its long one without the weekday, with the month abbreviated.
QString mediumDateFormat(const QLocale &locale);

} // namespace quillby
