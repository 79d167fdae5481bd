#pragma once

#include "services/AlivePingScheduleStoring.h"

#include <QSettings>

#include <cmath>
#include <cstdint>
#include <memory>

namespace quillby {

// "QuillbyLastAlivePingAt-" + the full installation identifier in the settings file: the date
// of the last accepted heartbeat. Main thread only.
class UserDefaultsAlivePingScheduleStore final : public AlivePingScheduleStoring {
public:
    static inline const QString kKeyPrefix = QStringLiteral("QuillbyLastAlivePingAt-");

    explicit UserDefaultsAlivePingScheduleStore(std::shared_ptr<QSettings> defaults);

    bool shouldSendAlivePing(const QString &installationID, Date now) override;
    void recordAlivePing(const QString &installationID, Date at) override;

private:
    std::shared_ptr<QSettings> defaults_;
};

// The UTC day of an instant: days since 1970-01-01.
inline std::int64_t utcDayNumber(Date date)
{
    return static_cast<std::int64_t>(std::floor(date / 86400.0));
}

} // namespace quillby
