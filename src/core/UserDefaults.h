#pragma once

#include "core/Date.h"

#include <QSettings>
#include <QString>

#include <optional>

namespace quillby {

// Small flags and dates live in QSettings (organisation and application "Quillby"). Dates are
// stored as ISO-8601 UTC text with milliseconds.
namespace defaults {
std::optional<Date> readDate(const QSettings &settings, const QString &key);
void writeDate(QSettings &settings, const QString &key, Date date);
} // namespace defaults

} // namespace quillby
