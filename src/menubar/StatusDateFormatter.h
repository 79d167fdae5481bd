#pragma once

#include "core/Date.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace quillby {

// Date and time texts of the status item, its menu and its graph, in a locale and time zone
// (the system's by default; tests pass fixed ones).
class StatusDateFormatter {
public:
    StatusDateFormatter();
    StatusDateFormatter(QLocale locale, QTimeZone zone);

    // Hours, minutes and seconds ("2:05:09 PM").
    QString preciseTime(Date date) const;
    // Hours and minutes ("2:05 PM").
    QString shortTime(Date date) const;
    // Date and time of day ("3/12/26 2:05 PM").
    QString dateAndTime(Date date) const;

    const QLocale &locale() const { return locale_; }
    const QTimeZone &timeZone() const { return zone_; }

private:
    QLocale locale_;
    QTimeZone zone_;
};

} // namespace quillby
