#pragma once

#include <QLoggingCategory>
#include <QString>

namespace quillby {

// Speaks a short text to the user of assistive technology (a screen reader). Qt has no
// announcement event, so the desktop's accessibility layer is reached through this seam;
// windows and views hold it as an interface and tests pass a recording fake.
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

// Writes each announcement to the debug log; useful while no accessibility backend speaks
// announcements. The text is user-facing status, never a secret.
class LoggingAnnouncer final : public Announcer {
public:
    void announce(const QString &text) override
    {
        if (!text.isEmpty()) {
            qCDebug(category()) << "announce:" << text;
        }
    }

private:
    static const QLoggingCategory &category()
    {
        static const QLoggingCategory instance("quillby.announcer", QtWarningMsg);
        return instance;
    }
};

} // namespace quillby
