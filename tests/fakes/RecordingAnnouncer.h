#pragma once

#include "platform/Announcer.h"

#include <QString>
#include <QStringList>

namespace quillby::test {

// Keeps every announcement in order, so tests can check what would have been spoken.
class RecordingAnnouncer final : public Announcer {
public:
    void announce(const QString &text) override
    {
        if (!text.isEmpty()) {
            announcements.append(text);
        }
    }
    QStringList announcements;
};

} // namespace quillby::test
