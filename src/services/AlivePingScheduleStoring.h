#pragma once

#include "core/Date.h"

#include <QString>

namespace quillby {

// Remembers, per installation, the last heartbeat the server accepted.
class AlivePingScheduleStoring {
public:
    virtual ~AlivePingScheduleStoring() = default;
    // False when a heartbeat of this installation was accepted on the UTC day of `now`.
    virtual bool shouldSendAlivePing(const QString &installationID, Date now) = 0;
    virtual void recordAlivePing(const QString &installationID, Date at) = 0;
};

} // namespace quillby
