// The Settings window driven as a keyboard or screen-reader user drives it: check boxes applied
// whatever changes them, no invisible Tab stop, focus kept on a button while it waits, Escape
// and Ctrl+W closing the window, lists of a screen's height at most, and the names, values and
// headings assistive technologies read.

#include "SettingsWindowTestSupport.h"
#include "AccessibilityBusTree.h"

#include "providers/GlucoseProviderDescription.h"
#include "onboarding/TermsAgreementView.h"

#include "settings_window/GlucoseSettingsPane.h"
#include "widgets/SettingsForm.h"

#include <QAccessible>
#include <algorithm>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>

namespace quillby::test {
namespace {

QAccessibleInterface *accessible(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

class SettingsKeyboardTest : public ::testing::Test {
protected:
    SettingsWindowHarness h;

    void open(SettingsTab tab)
    {
        ASSERT_TRUE(h.openSignedOut(tab));
        ASSERT_TRUE(QTest::qWaitForWindowActive(h.view.get()));
    }
    bool saved(const std::function<bool(const AppSettings &)> &check)
    {
        return waitUntil([&] {
            const auto &configuration = h.configurationManager->configuration();
            return configuration && check(configuration->app) && !h.model->isSaving();
        });
    }
    QCheckBox *toggle(const char *name) { return h.find<QCheckBox>(QString::fromLatin1(name)); }
};

// A check box changed by an assistive technology's action (which Qt reports as `toggled`
// only) is applied and saved like one clicked; a value the model pushes into a box is not
// written back.
TEST_F(SettingsKeyboardTest, CheckBoxesApplyWhateverChangesThem)
{
    open(SettingsTab::alerts);
    struct Case {
        const char *toggle;
        QString action;
        bool (*stored)(const AppSettings &);
    };
    const Case cases[] = {
        {"alertOnHighThresholdToggle", QAccessibleActionInterface::toggleAction(),
         [](const AppSettings &s) { return s.alertOnHighThreshold; }},
        {"alertOnRapidRiseToggle", QAccessibleActionInterface::toggleAction(),
         [](const AppSettings &s) { return s.alertOnRapidRise; }},
        {"alertsEnabledToggle", QAccessibleActionInterface::toggleAction(),
         [](const AppSettings &s) { return s.alertsEnabled; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.toggle);
        QCheckBox *box = toggle(c.toggle);
        ASSERT_NE(box, nullptr);
        const bool before = box->isChecked();
        QAccessibleActionInterface *actions = accessible(box)->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(c.action));
        actions->doAction(c.action);
        ASSERT_TRUE(waitUntil([&] { return box->isChecked() != before; }));
        EXPECT_TRUE(saved([&](const AppSettings &s) { return c.stored(s) != before; }));
    }

    // The model's own change reaches the box and is not counted as an edit.
    QCheckBox *low = toggle("alertOnLowThresholdToggle");
    const int revision = h.model->appSettingsRevision();
    h.model->setAlertOnLowThreshold(!low->isChecked());
    EXPECT_EQ(low->isChecked(), h.model->alertOnLowThreshold());
    EXPECT_EQ(h.model->appSettingsRevision(), revision);
}

TEST_F(SettingsKeyboardTest, LaunchAtLoginFollowsTheToggleAction)
{
    open(SettingsTab::general);
    // The status reads started with the model are answered first (see the General pane's test).
    ASSERT_TRUE(waitUntil([&] { return h.loginItems->statusReads >= 4; }));
    for (int turn = 0; turn < 10; ++turn) {
        QCoreApplication::processEvents();
    }
    accessible(toggle("launchAtLoginToggle"))->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.startAtLogin; }));
    EXPECT_EQ(h.loginItems->status(), LoginItemStatus::enabled);
}

// Tab visits the sidebar and the pane's controls, never the pane's scroll area, which shows
// no focus.
TEST_F(SettingsKeyboardTest, PanesHaveNoInvisibleTabStop)
{
    open(SettingsTab::general);
    for (SettingsTab tab : kAllSettingsTabs) {
        SCOPED_TRACE(settingsTabRawValue(tab).toStdString());
        h.navigation->setSelection(tab);
        ASSERT_TRUE(waitUntil([&] { return !h.history->isBusy(); }));   // the pane's refresh on showing
        h.find<QListWidget>(QStringLiteral("settingsSidebar"))->setFocus();
        int controls = 0;
        for (int press = 0; press < 40; ++press) {
            QWidget *focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            EXPECT_EQ(qobject_cast<SettingsForm *>(focus), nullptr);
            controls += h.view->findChild<QStackedWidget *>(QStringLiteral("settingsDetail"))->isAncestorOf(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        EXPECT_GT(controls, 0);
    }
}

TEST_F(SettingsKeyboardTest, EscapeAndControlWCloseTheWindow)
{
    open(SettingsTab::glucose);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : h.view.get(), Qt::Key_Escape);
    EXPECT_FALSE(h.view->isVisible());

    h.view->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.view.get()));
    h.find<QComboBox>(QStringLiteral("highThresholdPicker"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(h.view->isVisible());
}

// Escape in an open list closes the list alone; the window stays, with the focus on the box.
TEST_F(SettingsKeyboardTest, EscapeInAnOpenListClosesOnlyTheList)
{
    open(SettingsTab::glucose);
    for (const char *name : {"highThresholdPicker", "measurementUnitPicker"}) {
        SCOPED_TRACE(name);
        auto *picker = h.find<QComboBox>(QString::fromLatin1(name));
        picker->setFocus();
        picker->showPopup();
        QWidget *list = picker->view()->window();
        ASSERT_TRUE(waitUntil([&] { return list->isVisible(); }));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : picker->view(), Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return !list->isVisible(); }));
        QTest::qWait(50);
        EXPECT_TRUE(h.view->isVisible());
        EXPECT_EQ(h.view->focusWidget(), picker);
    }
}

// After "Send test alert" the focus waits with the button and is back on it when it is done,
// instead of jumping to the sidebar.
TEST_F(SettingsKeyboardTest, FocusStaysWithTheTestAlertButton)
{
    open(SettingsTab::alerts);
    auto *test = h.find<QPushButton>(QStringLiteral("sendTestAlertButton"));
    ASSERT_TRUE(waitUntil([&] { return test->isVisible(); }));
    test->setFocus();
    QTest::keyClick(test, Qt::Key_Space);
    EXPECT_FALSE(test->isEnabled());
    auto *sidebar = h.find<QListWidget>(QStringLiteral("settingsSidebar"));
    EXPECT_NE(h.view->focusWidget(), sidebar);
    ASSERT_TRUE(waitUntil([&] { return test->isEnabled(); }));
    EXPECT_EQ(h.view->focusWidget(), test);
    ASSERT_EQ(h.alerts->sent.size(), 1u);
}

// The high threshold in mg/dL has 253 rows: its list shows a dozen and scrolls.
TEST_F(SettingsKeyboardTest, ThresholdListsFitTheScreen)
{
    open(SettingsTab::glucose);
    for (const char *name : {"highThresholdPicker", "lowThresholdPicker"}) {
        SCOPED_TRACE(name);
        auto *picker = h.find<QComboBox>(QString::fromLatin1(name));
        ASSERT_GT(picker->count(), 20);
        picker->showPopup();
        QWidget *list = picker->view()->window();
        ASSERT_TRUE(waitUntil([&] { return list->isVisible(); }));
        const int row = picker->view()->sizeHintForRow(0);
        EXPECT_LE(list->height(), row * (picker->maxVisibleItems() + 2));
        EXPECT_LT(list->height(), picker->screen()->availableGeometry().height() / 2);
        // A scroll bar shows that there are more rows than the list shows.
        QScrollBar *bar = picker->view()->verticalScrollBar();
        EXPECT_TRUE(bar->isVisible());
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_GT(bar->width(), 0);
        picker->hidePopup();
    }
}

// Names and values as a screen reader reads them: combo boxes by their label with their choice
// as value, value rows by their value with their title as description, section headers and the
// pane title as headings.
TEST_F(SettingsKeyboardTest, ControlsAreNamedByTheirLabelsAndValuesByTheirValues)
{
    open(SettingsTab::glucose);
    struct Case {
        const char *picker;
        const char *name;
        const char *value;
    };
    for (const Case &c : {Case{"measurementUnitPicker", "Measurement unit", "mg/dL"},
                          Case{"lowThresholdPicker", "Low glucose threshold", nullptr},
                          Case{"graphTimeWindowPicker", "Graph time window", "6 hours"},
                          Case{"lowAlertRepeatPicker", "Repeat low alerts", nullptr},
                          Case{"glucoseProviderPicker", "Sensor", "Dexcom"}}) {
        SCOPED_TRACE(c.picker);
        auto *picker = h.find<QComboBox>(QString::fromLatin1(c.picker));
        ASSERT_NE(picker, nullptr);
        QAccessibleInterface *combo = accessible(picker);
        EXPECT_EQ(combo->role(), QAccessible::ComboBox);
        EXPECT_EQ(combo->text(QAccessible::Name), QString::fromUtf8(c.name));
        EXPECT_FALSE(picker->currentText().isEmpty());
        EXPECT_EQ(combo->text(QAccessible::Value), c.value ? QString::fromUtf8(c.value) : picker->currentText());
    }

    auto *lastChecked = h.find<QLabel>(QStringLiteral("lastUpdateCheckValue"));
    EXPECT_EQ(accessible(lastChecked)->text(QAccessible::Name), QStringLiteral("Never"));
    EXPECT_EQ(accessible(lastChecked)->text(QAccessible::Description), QStringLiteral("Last checked"));

    int headings = 0;
    for (QLabel *label : h.find(QStringLiteral("glucoseSettingsPane"))->findChildren<QLabel *>()) {
        if (label->text() == QStringLiteral("Thresholds") || label->text() == QStringLiteral("Graph")) {
            EXPECT_EQ(accessible(label)->role(), QAccessible::Heading);
            ++headings;
        }
    }
    EXPECT_EQ(headings, 2);
    EXPECT_EQ(accessible(h.find(QStringLiteral("settingsPaneTitle")))->role(), QAccessible::Heading);

    // The provider note is read as its text; its symbol is not in the tree.
    QWidget *note = h.find(QStringLiteral("directToWatchGraphHistoryNotice"));
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(accessible(note)->childCount(), 0);
    EXPECT_EQ(accessible(note)->text(QAccessible::Name),
              QString::fromStdString(describeProvider(GlucoseProvider::dexcom).graphHistoryNote));
}

} // namespace
} // namespace quillby::test

namespace quillby::test {
namespace {

class AccessibilityBus : public SettingsKeyboardTest {};

QString describe(const std::vector<BusNode> &tree)
{
    QString text;
    for (const BusNode &node : tree) {
        text += QString(node.depth * 2, QLatin1Char(' ')) + node.role + QStringLiteral(" '") + node.name +
                QStringLiteral("'\n");
    }
    return text;
}

// What a screen reader reads over the accessibility bus from the Settings window and the terms
// window: headings as headings, combo boxes by their label, key points as one text each, and no
// decorative image or background anywhere.
TEST_F(AccessibilityBus, ClientReadsHeadingsNamesAndNoDecorations)
{
    if (!accessibilityBusAvailable()) {
        GTEST_SKIP() << "needs an X display and QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1";
    }
    open(SettingsTab::glucose);
    TermsAgreementWindowView terms(false, {}, {}, QUrl());
    terms.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&terms));

    const auto tree = accessibilityBusTree();
    ASSERT_TRUE(tree);
    const auto has = [&](const char *role, const QString &name) {
        return std::any_of(tree->begin(), tree->end(), [&](const BusNode &node) {
            return node.role == QLatin1String(role) && node.name == name;
        });
    };
    const std::string shown = describe(*tree).toStdString();
    EXPECT_TRUE(has("heading", QStringLiteral("Thresholds"))) << shown;
    EXPECT_TRUE(has("heading", QStringLiteral("Terms of use"))) << shown;
    EXPECT_TRUE(has("combo box", QStringLiteral("High glucose threshold"))) << shown;
    EXPECT_TRUE(has("combo box", QStringLiteral("Measurement unit"))) << shown;
    EXPECT_FALSE(has("combo box", QStringLiteral("mg/dL"))) << shown;
    // The General pane is not on show: its "Last checked" value is not read from behind the Glucose pane.
    EXPECT_FALSE(has("label", QStringLiteral("Never")) || has("static", QStringLiteral("Never"))) << shown;
    for (std::size_t i = 0; i < tree->size(); ++i) {
        const BusNode &node = (*tree)[i];
        EXPECT_NE(node.role, QStringLiteral("image")) << "a decorative image: " << shown;
        if (node.name == QStringLiteral("Not a medical device")) {
            ASSERT_LT(i + 1, tree->size());
            EXPECT_LE((*tree)[i + 1].depth, node.depth) << "a key point is one element: " << shown;
        }
    }
    EXPECT_EQ(std::count_if(tree->begin(), tree->end(),
                            [](const BusNode &node) { return node.name == QStringLiteral("Not a medical device"); }),
              1)
        << shown;
}

} // namespace
} // namespace quillby::test
