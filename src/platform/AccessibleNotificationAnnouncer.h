#pragma once

#include "platform/Announcer.h"

#include <QObject>
#include <QString>

#include <deque>

namespace quillby {

// Speaks announcements through the desktop's accessibility bus (AT-SPI). Each announcement is a
// new object of the notification role, named with the text, that appears ("showing") inside an
// object of the status-bar role; screen readers such as Orca speak a notification inside a
// status bar by its name alone, without a role word in front. Nothing is drawn.
//
// Every announcement keeps its own object, so a screen reader that asks for the name after a
// later announcement still reads the text that was announced; the last few are kept alive.
class AccessibleNotificationAnnouncer final : public QObject, public Announcer {
    Q_OBJECT
public:
    explicit AccessibleNotificationAnnouncer(QObject *parent = nullptr);
    ~AccessibleNotificationAnnouncer() override;

    void announce(const QString &text) override;

    // The accessible object that announcements appear in (tests look at the tree through it).
    QObject *region() { return &region_; }
    // The announcements whose objects are still alive, oldest first.
    QStringList liveAnnouncements() const;

    static constexpr std::size_t kKeptAnnouncements = 16;

private:
    QObject region_;
    std::deque<QObject *> messages_;   // children of region_, oldest first
};

} // namespace quillby
