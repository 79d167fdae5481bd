#include "services/UserDefaultsAlivePingScheduleStore.h"

#include "core/UserDefaults.h"

namespace quillby {

UserDefaultsAlivePingScheduleStore::UserDefaultsAlivePingScheduleStore(std::shared_ptr<QSettings> defaults)
    : defaults_(std::move(defaults))
{
}

bool UserDefaultsAlivePingScheduleStore::shouldSendAlivePing(const QString &installationID, Date now)
{
    const auto last = defaults::readDate(*defaults_, kKeyPrefix + installationID);
    return !last || utcDayNumber(*last) != utcDayNumber(now);
}

void UserDefaultsAlivePingScheduleStore::recordAlivePing(const QString &installationID, Date at)
{
    defaults::writeDate(*defaults_, kKeyPrefix + installationID, at);
    defaults_->sync();
}

} // namespace quillby
