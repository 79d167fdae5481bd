#include "core/DateText.h"

#include <QRegularExpression>

namespace quillby {

QString mediumDateFormat(const QLocale &locale)
{
    // "dddd, MMMM d, yyyy" becomes "MMM d, yyyy"; "yyyy年M月d日dddd" becomes "yyyy年M月d日".
    static const QRegularExpression leadingWeekday(QStringLiteral("^\\s*dddd[,\\s]*"));
    static const QRegularExpression weekday(QStringLiteral("[,\\s]*dddd"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(leadingWeekday);
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString mediumDateShortTime(const QDateTime &dateTime, const QLocale &locale)
{
    return locale.toString(dateTime.date(), mediumDateFormat(locale)) + QLatin1Char(' ') +
           locale.toString(dateTime.time(), QLocale::ShortFormat);
}

} // namespace quillby
