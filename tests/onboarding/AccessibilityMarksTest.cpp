// What assistive technologies find in our windows: headings with the heading role, decorative
// images and the animated background left out of the tree, rows read as one element, combo
// boxes named by their label; and where the keyboard focus starts in the terms views.

#include "widgets/AccessibilityMarks.h"
#include "widgets/AmbientBackgroundView.h"
#include "widgets/OnboardingStyle.h"
#include "onboarding/TermsAgreementView.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace quillby::test {
namespace {

QAccessibleInterface *accessible(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

// Every interface reachable from `root` through the children lists, as a client walks them.
void walk(QAccessibleInterface *root, const std::function<void(QAccessibleInterface *)> &visit)
{
    if (!root) {
        return;
    }
    visit(root);
    for (int i = 0; i < root->childCount(); ++i) {
        walk(root->child(i), visit);
    }
}

// The objects of `root`'s accessibility tree.
QList<QObject *> treeObjects(QWidget *root)
{
    QList<QObject *> objects;
    walk(accessible(root), [&](QAccessibleInterface *node) { objects.append(node->object()); });
    return objects;
}

TEST(AccessibilityMarks, HeadingsHaveTheHeadingRoleAndTheirText)
{
    installAccessibilityInterfaces();
    QWidget window;
    QLabel *title = makeLargeTitle(QStringLiteral("Quillby"), &window);
    QAccessibleInterface *heading = accessible(title);
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->role(), QAccessible::Heading);
    EXPECT_EQ(heading->text(QAccessible::Name), QStringLiteral("Quillby"));
    // A heading whose text changes later is read with the new text.
    QLabel *later = makeLargeTitle(QString(), &window);
    later->setText(QStringLiteral("Sign in to Dexcom"));
    EXPECT_EQ(accessible(later)->text(QAccessible::Name), QStringLiteral("Sign in to Dexcom"));

    TermsAgreementSheet sheet(true, {}, {}, QUrl());
    auto *sheetHeading = sheet.findChild<QLabel *>(QStringLiteral("termsHeading"));
    ASSERT_NE(sheetHeading, nullptr);
    EXPECT_EQ(accessible(sheetHeading)->role(), QAccessible::Heading);
    EXPECT_EQ(accessible(sheetHeading)->text(QAccessible::Name), QStringLiteral("Updated terms of use"));
}

// The decorative symbols and the ambient background are in no children list; the texts beside
// them are; each key point of the terms is one text element read as title and text.
TEST(AccessibilityMarks, DecorationsAreLeftOutOfTheTree)
{
    TermsAgreementWindowView view(false, {}, {}, QUrl());
    view.show();
    const QList<QObject *> objects = treeObjects(&view);
    ASSERT_NE(view.findChild<AmbientBackgroundView *>(), nullptr);
    EXPECT_FALSE(objects.contains(view.findChild<AmbientBackgroundView *>()));
    for (QLabel *label : view.findChildren<QLabel *>()) {
        if (!label->pixmap().isNull()) {
            EXPECT_FALSE(objects.contains(label)) << "a symbol image is in the tree";
        }
    }
    auto *subheading = view.findChild<QLabel *>(QStringLiteral("termsSubheading"));
    EXPECT_TRUE(objects.contains(subheading));

    const QList<TermsPointView *> points = view.findChildren<TermsPointView *>();
    ASSERT_EQ(points.size(), 3);
    for (TermsPointView *point : points) {
        ASSERT_TRUE(objects.contains(point));
        QAccessibleInterface *row = accessible(point);
        EXPECT_EQ(row->role(), QAccessible::StaticText);
        EXPECT_EQ(row->childCount(), 0);
    }
    EXPECT_EQ(accessible(points.front())->text(QAccessible::Name), QStringLiteral("Not a medical device"));

    // A hidden image in any plain row, not only those of the terms.
    QWidget row;
    auto *layout = new QHBoxLayout(&row);
    QLabel *image = makeSymbolImage(QStringLiteral("stethoscope"), 16, &row);
    layout->addWidget(image);
    layout->addWidget(makeTextLabel(QStringLiteral("Text"), &row));
    QAccessibleInterface *rowInterface = accessible(&row);
    ASSERT_EQ(rowInterface->childCount(), 1);
    EXPECT_EQ(rowInterface->child(0)->text(QAccessible::Name), QStringLiteral("Text"));
    EXPECT_EQ(rowInterface->indexOfChild(accessible(image)), -1);
}

// A combo box is named by its label and keeps the shown text as its value.
TEST(AccessibilityMarks, ComboBoxesAreNamedByTheirLabel)
{
    installAccessibilityInterfaces();
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *named = new QComboBox(&window);
    named->addItems({QStringLiteral("4.0 mmol/L"), QStringLiteral("4.1 mmol/L")});
    named->setAccessibleName(QStringLiteral("Low glucose threshold"));
    auto *title = new QLabel(QStringLiteral("Sensor"), &window);
    auto *labelled = new QComboBox(&window);
    labelled->addItems({QStringLiteral("Dexcom"), QStringLiteral("FreeStyle Libre")});
    title->setBuddy(labelled);
    auto *unnamed = new QComboBox(&window);
    unnamed->addItem(QStringLiteral("Never"));
    for (QWidget *widget : {static_cast<QWidget *>(named), static_cast<QWidget *>(title),
                            static_cast<QWidget *>(labelled), static_cast<QWidget *>(unnamed)}) {
        layout->addWidget(widget);
    }

    struct Case {
        QComboBox *combo;
        const char *name;
        const char *value;
    };
    for (const Case &c : {Case{named, "Low glucose threshold", "4.0 mmol/L"}, Case{labelled, "Sensor", "Dexcom"},
                          Case{unnamed, "Never", "Never"}}) {
        SCOPED_TRACE(c.name);
        QAccessibleInterface *combo = accessible(c.combo);
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->role(), QAccessible::ComboBox);
        EXPECT_EQ(combo->text(QAccessible::Name), QString::fromUtf8(c.name));
        EXPECT_EQ(combo->text(QAccessible::Value), QString::fromUtf8(c.value));
        ASSERT_EQ(combo->childCount(), 1);   // the list it opens
        EXPECT_EQ(combo->child(0)->object(), static_cast<QObject *>(c.combo->view()));
    }
    named->setCurrentIndex(1);
    EXPECT_EQ(accessible(named)->text(QAccessible::Value), QStringLiteral("4.1 mmol/L"));
    EXPECT_EQ(accessible(named)->text(QAccessible::Name), QStringLiteral("Low glucose threshold"));
    // Its text is the value too: Orca reads a combo box's value from its text.
    QAccessibleTextInterface *text = accessible(named)->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(0, text->characterCount()), QStringLiteral("4.1 mmol/L"));
}

// Cards and stacks are structure: a bordered frame is a grouping named by its heading, not the
// "frame" screen readers take for a window; an unnamed stack is no "layered pane"; a hidden
// control, or one in a collapsed part, is not in the tree.
TEST(AccessibilityMarks, CardsAreGroupingsAndHiddenControlsLeaveTheTree)
{
    installAccessibilityInterfaces();
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *card = new QFrame(&window);
    card->setFrameShape(QFrame::StyledPanel);
    card->setAccessibleName(QStringLiteral("Startup"));
    auto *cardLayout = new QVBoxLayout(card);
    auto *shown = new QPushButton(QStringLiteral("Launch"), card);
    auto *hidden = new QPushButton(QStringLiteral("Enable Insights"), card);
    cardLayout->addWidget(shown);
    cardLayout->addWidget(hidden);
    auto *stack = new QStackedWidget(&window);
    auto *page = new QPushButton(QStringLiteral("Page"), stack);
    auto *otherPage = new QPushButton(QStringLiteral("Other page"), stack);
    stack->addWidget(page);
    stack->addWidget(otherPage);
    layout->addWidget(card);
    layout->addWidget(stack);
    hidden->hide();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_EQ(accessible(&window)->role(), QAccessible::Window);
    EXPECT_EQ(accessible(card)->role(), QAccessible::Grouping);
    EXPECT_EQ(accessible(card)->text(QAccessible::Name), QStringLiteral("Startup"));
    EXPECT_NE(accessible(stack)->role(), QAccessible::LayeredPane);
    const QList<QObject *> objects = treeObjects(&window);
    EXPECT_TRUE(objects.contains(shown));
    EXPECT_FALSE(objects.contains(hidden));
    EXPECT_TRUE(objects.contains(page));
    EXPECT_FALSE(objects.contains(otherPage)) << "a page not shown";
    hidden->show();
    EXPECT_TRUE(treeObjects(&window).contains(hidden));
}

// The row of a combo box's list holding its current item is the selected one while the list is
// closed, which is where a screen reader reads the value of a box named by its label. (That the
// change is announced on the bus is checked by the keyboard walk.)
TEST(AccessibilityMarks, ComboBoxValueIsReadableFromItsClosedList)
{
    installAccessibilityInterfaces();
    QWidget window;
    auto *combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("mg/dL"), QStringLiteral("mmol/L")});
    combo->setAccessibleName(QStringLiteral("Measurement unit"));
    QAccessibleInterface *box = accessible(combo);
    ASSERT_NE(box, nullptr);
    const auto selectedRows = [box] {
        QStringList rows;
        QAccessibleInterface *list = box->child(0);
        for (int i = 0; list && i < list->childCount(); ++i) {
            QAccessibleInterface *row = list->child(i);
            if (row && row->state().selected) {
                rows.append(row->text(QAccessible::Name));
            }
        }
        return rows;
    };
    EXPECT_EQ(selectedRows(), QStringList{QStringLiteral("mg/dL")});

    combo->setCurrentIndex(1);
    EXPECT_EQ(selectedRows(), QStringList{QStringLiteral("mmol/L")});
    EXPECT_EQ(box->text(QAccessible::Name), QStringLiteral("Measurement unit"));
    EXPECT_FALSE(combo->view()->isVisible());
}

// The focus ring of the prominent button does not take room from its label.
TEST(AccessibilityMarks, FocusedProminentButtonKeepsRoomForItsLabel)
{
    QPushButton button(QStringLiteral("Continue"));
    makeProminent(&button);
    button.ensurePolished();
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    option.rect = QRect(QPoint(0, 0), button.sizeHint());
    const QRect unfocused = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    option.state |= QStyle::State_HasFocus;
    const QRect focused = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    EXPECT_GE(focused.width(), button.fontMetrics().horizontalAdvance(button.text()));
    EXPECT_EQ(focused.size(), unfocused.size());
}

} // namespace
} // namespace quillby::test
