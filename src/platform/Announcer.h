#pragma once

#include <QString>

namespace quillby {

// Speaks a short text to the user of assistive technology (a screen reader). Qt has no
// announcement event, so the desktop's accessibility layer is reached through this seam
// (AccessibleNotificationAnnouncer in a real run); windows and views hold it as an interface
// and tests pass a recording fake.
class Announcer {
public:
    virtual ~Announcer() = default;
    // Main thread only. An empty text announces nothing.
    virtual void announce(const QString &text) = 0;
};

// Announces nothing.
class NullAnnouncer final : public Announcer {
public:
    void announce(const QString &) override {}
};

} // namespace quillby
