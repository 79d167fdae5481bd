#include "platform/AccessibleNotificationAnnouncer.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QCoreApplication>
#include <QStringList>

namespace quillby {

namespace {

// One announcement: its text never changes.
class AnnouncementObject final : public QObject {
public:
    AnnouncementObject(QString text, QObject *parent) : QObject(parent), text_(std::move(text)) {}
    const QString &text() const { return text_; }

private:
    QString text_;
};

QAccessibleInterface *applicationInterface()
{
    return QCoreApplication::instance() ? QAccessible::queryAccessibleInterface(QCoreApplication::instance())
                                        : nullptr;
}

// The status bar that announcements appear in. It hangs below the application and is not one
// of its windows, so it is never drawn and never takes focus.
class RegionInterface final : public QAccessibleObject {
public:
    explicit RegionInterface(QObject *region) : QAccessibleObject(region) {}

    QAccessibleInterface *parent() const override { return applicationInterface(); }
    int childCount() const override { return isValid() ? static_cast<int>(object()->children().size()) : 0; }
    QAccessibleInterface *child(int index) const override
    {
        if (!isValid() || index < 0 || index >= childCount()) {
            return nullptr;
        }
        return QAccessible::queryAccessibleInterface(object()->children().at(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && isValid() ? static_cast<int>(object()->children().indexOf(child->object())) : -1;
    }
    QString text(QAccessible::Text) const override { return {}; }
    QAccessible::Role role() const override { return QAccessible::StatusBar; }
    QAccessible::State state() const override { return {}; }
};

// One announcement, named with its text.
class MessageInterface final : public QAccessibleObject {
public:
    explicit MessageInterface(AnnouncementObject *message) : QAccessibleObject(message) {}

    QAccessibleInterface *parent() const override
    {
        return isValid() && object()->parent() ? QAccessible::queryAccessibleInterface(object()->parent()) : nullptr;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Name || !isValid()) {
            return {};
        }
        return static_cast<const AnnouncementObject *>(object())->text();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return {}; }
};

} // namespace

AccessibleNotificationAnnouncer::AccessibleNotificationAnnouncer(QObject *parent) : QObject(parent)
{
    region_.setObjectName(QStringLiteral("announcements"));
    QAccessible::registerAccessibleInterface(new RegionInterface(&region_));
}

AccessibleNotificationAnnouncer::~AccessibleNotificationAnnouncer() = default;

void AccessibleNotificationAnnouncer::announce(const QString &text)
{
    if (text.isEmpty()) {
        return;
    }
    auto *message = new AnnouncementObject(text, &region_);
    QAccessible::registerAccessibleInterface(new MessageInterface(message));
    messages_.push_back(message);
    while (messages_.size() > kKeptAnnouncements) {
        delete messages_.front();
        messages_.pop_front();
    }
    // Without a screen reader on the bus this reaches nothing and costs nothing.
    QAccessibleEvent shown(message, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

QStringList AccessibleNotificationAnnouncer::liveAnnouncements() const
{
    QStringList texts;
    for (const QObject *message : messages_) {
        texts.append(static_cast<const AnnouncementObject *>(message)->text());
    }
    return texts;
}

} // namespace quillby
