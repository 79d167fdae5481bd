#include "menubar/StatusDateFormatter.h"

#include "core/DateText.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cmath>

namespace quillby {

namespace {

QDateTime toDateTime(Date date, const QTimeZone &zone)
{
    const double milliseconds = std::isfinite(date) ? std::round(date * 1000.0) : 0.0;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds), zone);
}

// The locale's long time format without its time-zone part: hours, minutes and seconds.
QString preciseTimeFormat(const QLocale &locale)
{
    static const QRegularExpression zonePart(QStringLiteral("\\s*\\(?t+\\)?"));
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(zonePart);
    return format.trimmed();
}

// The locale's short time format, hours and minutes only. Short formats carry no seconds,
// except the C locale's ("HH:mm:ss"), which a session without a configured locale uses: the
// seconds field goes together with the separator before it.
QString shortTimeFormat(const QLocale &locale)
{
    static const QRegularExpression secondsPart(QStringLiteral("[:.]?s{1,2}(?:[.,]z{1,3})?"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(secondsPart);
    return format.trimmed();
}

} // namespace

StatusDateFormatter::StatusDateFormatter() : locale_(QLocale::system()) {}

StatusDateFormatter::StatusDateFormatter(QLocale locale, QTimeZone zone)
    : locale_(std::move(locale)), zone_(zone.isValid() ? std::move(zone) : QTimeZone::utc())
{
}

QTimeZone StatusDateFormatter::timeZone() const
{
    if (zone_) {
        return *zone_;
    }
    const QTimeZone system = QTimeZone::systemTimeZone();
    return system.isValid() ? system : QTimeZone::utc();
}

QString StatusDateFormatter::preciseTime(Date date) const
{
    return locale_.toString(toDateTime(date, timeZone()).time(), preciseTimeFormat(locale_));
}

QString StatusDateFormatter::shortTime(Date date) const
{
    return locale_.toString(toDateTime(date, timeZone()).time(), shortTimeFormat(locale_));
}

QString StatusDateFormatter::dateAndTime(Date date) const
{
    return mediumDateShortTime(toDateTime(date, timeZone()), locale_);
}

} // namespace quillby
