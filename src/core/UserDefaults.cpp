#include "core/UserDefaults.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

namespace quillby::defaults {

std::optional<Date> readDate(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    const QDateTime parsed = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!parsed.isValid()) {
        return std::nullopt;
    }
    return static_cast<double>(parsed.toMSecsSinceEpoch()) / 1000.0;
}

void writeDate(QSettings &settings, const QString &key, Date date)
{
    if (!std::isfinite(date)) {
        settings.remove(key);
        return;
    }
    const auto ms = static_cast<qint64>(std::llround(date * 1000.0));
    settings.setValue(key, QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(Qt::ISODateWithMs));
}

} // namespace quillby::defaults
