// The announcer as a screen reader finds it through Qt's accessibility layer: where each
// announcement appears and that an announcement keeps its own text. That the bus carries
// them to a listener and to Orca is checked by tests/a11y/announcement_bus_check.py.

#include "platform/AccessibleNotificationAnnouncer.h"

#include <QAccessible>
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace quillby {
namespace {

QAccessibleInterface *regionOf(AccessibleNotificationAnnouncer &announcer)
{
    return QAccessible::queryAccessibleInterface(announcer.region());
}

TEST(AccessibleNotificationAnnouncerTest, EachAnnouncementIsANotificationInAStatusBar)
{
    AccessibleNotificationAnnouncer announcer;
    QAccessibleInterface *region = regionOf(announcer);
    ASSERT_NE(region, nullptr);
    // Screen readers leave out the role word for a notification inside a status bar.
    EXPECT_EQ(region->role(), QAccessible::StatusBar);
    EXPECT_EQ(region->parent(), QAccessible::queryAccessibleInterface(QCoreApplication::instance()));

    announcer.announce(QStringLiteral("Signing in to Dexcom"));
    QAccessibleInterface *first = region->child(0);
    announcer.announce(QString());
    announcer.announce(QStringLiteral("Test alert sent."));
    announcer.announce(QStringLiteral("Test alert sent."));

    const QStringList expected{QStringLiteral("Signing in to Dexcom"), QStringLiteral("Test alert sent."),
                               QStringLiteral("Test alert sent.")};
    ASSERT_EQ(region->childCount(), expected.size()) << "an empty text announces nothing";
    EXPECT_EQ(announcer.liveAnnouncements(), expected);
    for (int i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        QAccessibleInterface *message = region->child(i);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->role(), QAccessible::Notification);
        EXPECT_EQ(message->text(QAccessible::Name), expected[i]);
        EXPECT_TRUE(message->text(QAccessible::Description).isEmpty()) << "the text is spoken once";
        EXPECT_EQ(message->parent(), region);
        EXPECT_EQ(region->indexOfChild(message), i);
        EXPECT_FALSE(message->state().invisible);
        EXPECT_TRUE(message->rect().isEmpty()) << "nothing is drawn";
    }
    // A reader that asks late still hears what was announced, not the latest text.
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("Signing in to Dexcom"));
    EXPECT_NE(region->child(1), region->child(2)) << "a repeated text is a new announcement";
}

TEST(AccessibleNotificationAnnouncerTest, KeepsOnlyTheLatestAnnouncementsAlive)
{
    AccessibleNotificationAnnouncer announcer;
    const int kept = static_cast<int>(AccessibleNotificationAnnouncer::kKeptAnnouncements);
    for (int i = 0; i < kept + 3; ++i) {
        announcer.announce(QStringLiteral("Status %1").arg(i));
    }
    const QStringList live = announcer.liveAnnouncements();
    ASSERT_EQ(live.size(), kept);
    EXPECT_EQ(live.first(), QStringLiteral("Status 3"));
    EXPECT_EQ(live.last(), QStringLiteral("Status %1").arg(kept + 2));
    QAccessibleInterface *region = regionOf(announcer);
    ASSERT_EQ(region->childCount(), kept);
    EXPECT_EQ(region->child(0)->text(QAccessible::Name), QStringLiteral("Status 3"));
}

} // namespace
} // namespace quillby
