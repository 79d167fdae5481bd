#pragma once

#include "core/Date.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace quillby {

// Date and time texts of the status item, its menu and its graph, in a locale and time zone.
// Made without a zone it follows the computer's current time zone, read again for every text,
// so a change of zone (travel, a settings change) shows at the next rebuild. Tests pass fixed ones.
class StatusDateFormatter {
public:
    StatusDateFormatter();
    StatusDateFormatter(QLocale locale, QTimeZone zone);

    // Hours, minutes and seconds ("2:05:09 PM").
    QString preciseTime(Date date) const;
    // Hours and minutes in the locale's short style, never seconds ("2:05 PM", "14:05").
    QString shortTime(Date date) const;
    // Date and time of day in the program's one form for them ("Mar 12, 2026 2:05 PM").
    QString dateAndTime(Date date) const;

    const QLocale &locale() const { return locale_; }
    // The zone the next text is made in.
    QTimeZone timeZone() const;

private:
    QLocale locale_;
    std::optional<QTimeZone> zone_;   // none: the system's current zone
};

} // namespace quillby
