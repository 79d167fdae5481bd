// The Settings window shell: sidebar and panes, the status line under every pane, the terms
// sheet, and the names a tab goes by.

#include "SettingsWindowTestSupport.h"

#include "onboarding/TermsAgreementView.h"
#include "widgets/SettingsSymbols.h"

#include <QWindow>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

namespace quillby::test {
namespace {

QWidget *shownPane(SettingsWindowHarness &h)
{
    return h.find<QStackedWidget>(QStringLiteral("settingsDetail"))->currentWidget();
}

TEST(SettingsTabTest, NamesTitlesAndSymbolsOfTheSixTabs)
{
    const struct {
        SettingsTab tab;
        const char *raw;
        const char *title;
        const char *symbol;
    } cases[] = {
        {SettingsTab::general, "general", "General", "gearshape"},
        {SettingsTab::glucose, "glucose", "Glucose", "drop"},
        {SettingsTab::insights, "insights", "Insights", "chart.bar.xaxis"},
        {SettingsTab::alerts, "alerts", "Alerts", "bell.badge"},
        {SettingsTab::account, "account", "Account", "person.crop.circle"},
        {SettingsTab::about, "about", "About & support", "bubble.left.and.bubble.right"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(settingsTabRawValue(c.tab), QString::fromUtf8(c.raw));
        EXPECT_EQ(settingsTabTitle(c.tab), QString::fromUtf8(c.title));
        EXPECT_EQ(settingsTabSystemImage(c.tab), QString::fromUtf8(c.symbol));
        EXPECT_EQ(settingsTabFromRawValue(QString::fromUtf8(c.raw)), c.tab);
        // A desktop without an icon theme still gets the symbol from the bundled fallback.
        EXPECT_FALSE(QIcon(settingsSymbolFallbackPath(settingsTabSystemImage(c.tab))).pixmap(18, 18).isNull())
            << c.symbol;
    }
    EXPECT_EQ(settingsTabFromRawValue(QStringLiteral("General")), std::nullopt);
    EXPECT_EQ(settingsTabFromRawValue(QString()), std::nullopt);
    for (const char *symbol : {"exclamationmark.triangle", "book", "paperplane.fill", "safari", "info.circle"}) {
        EXPECT_FALSE(settingsSymbol(QString::fromUtf8(symbol)).isNull()) << symbol;
    }
}

TEST(SettingsViewTest, SidebarAndNavigationChooseThePaneBothWays)
{
    SettingsWindowHarness h;
    h.build(std::nullopt);

    // No tab asked for: the Account pane, with no highlighted row.
    auto *list = h.find<QListWidget>(QStringLiteral("settingsSidebar"));
    EXPECT_EQ(list->accessibleName(), QStringLiteral("Settings navigation"));
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(shownPane(h), h.find(QStringLiteral("accountSettingsPane")));
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("settingsPaneTitle"))->text(), QStringLiteral("Account"));

    const struct {
        SettingsTab tab;
        const char *pane;
        const char *rowName;
    } tabs[] = {
        {SettingsTab::general, "generalSettingsPane", "General settings"},
        {SettingsTab::glucose, "glucoseSettingsPane", "Glucose settings"},
        {SettingsTab::insights, "insightsSettingsPane", "Insights settings"},
        {SettingsTab::alerts, "alertsSettingsPane", "Alerts settings"},
        {SettingsTab::account, "accountSettingsPane", "Account settings"},
        {SettingsTab::about, "aboutSettingsPane", "About & support settings"},
    };
    for (const auto &t : tabs) {
        SCOPED_TRACE(t.pane);
        QWidget *row = h.find(settingsTabRawValue(t.tab) + QStringLiteral("TabButton"));
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->accessibleName(), QString::fromUtf8(t.rowName));
        h.clickTab(t.tab);
        EXPECT_EQ(h.navigation->selection(), t.tab);
        EXPECT_EQ(shownPane(h), h.find(QString::fromUtf8(t.pane)));
        EXPECT_EQ(h.find<QLabel>(QStringLiteral("settingsPaneTitle"))->text(), settingsTabTitle(t.tab));
    }

    // The launcher switches an open window's tab through the navigation.
    h.navigation->setSelection(SettingsTab::glucose);
    EXPECT_EQ(shownPane(h), h.find(QStringLiteral("glucoseSettingsPane")));
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().first()->text(), QStringLiteral("Glucose"));

    // Deselecting the row shows the Account pane, titled "Account", with no highlight.
    h.clickTab(SettingsTab::glucose, Qt::ControlModifier);
    EXPECT_EQ(h.navigation->selection(), std::nullopt);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(shownPane(h), h.find(QStringLiteral("accountSettingsPane")));
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("settingsPaneTitle"))->text(), QStringLiteral("Account"));

    // Never smaller than 600 × 420.
    h.view->resize(300, 200);
    EXPECT_GE(h.view->width(), 600);
    EXPECT_GE(h.view->height(), 420);
}

TEST(SettingsViewTest, StatusLineShowsUnderEveryPaneAsPlainText)
{
    SettingsWindowHarness h;
    h.build(SettingsTab::general);
    auto *row = h.find(QStringLiteral("settingsStatusRow"));
    auto *text = h.find<QLabel>(QStringLiteral("settingsStatusMessage"));
    EXPECT_FALSE(row->isVisible());

    // A server's text is shown as it came, never as markup.
    h.model->setStatusCategory(StatusMessageCategory::saveError("<b>disk</b> full"));
    for (SettingsTab tab : kAllSettingsTabs) {
        h.navigation->setSelection(tab);
        EXPECT_TRUE(row->isVisible()) << settingsTabRawValue(tab).toStdString();
        EXPECT_EQ(text->text(), QStringLiteral("Failed to save settings: <b>disk</b> full"));
        EXPECT_EQ(text->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(h.announcer.announcements, QStringList{QStringLiteral("Failed to save settings: <b>disk</b> full")});

    // The saved-history line belongs to the Account pane.
    h.navigation->setSelection(SettingsTab::account);
    h.history->setErrorMessage(std::string("History is locked."));
    auto *historyLine = h.find<QLabel>(QStringLiteral("settingsSavedHistoryMessage"));
    EXPECT_TRUE(historyLine->isVisible());
    EXPECT_EQ(historyLine->text(), QStringLiteral("Saved history: History is locked."));
    h.navigation->setSelection(SettingsTab::alerts);
    EXPECT_FALSE(historyLine->isVisible());

    h.model->setStatusCategory(StatusMessageCategory::none());
    EXPECT_FALSE(row->isVisible());
    EXPECT_EQ(h.announcer.announcements.size(), 1);
}

TEST(SettingsViewTest, TermsSheetCancelKeepsTheFormAndAgreeSignsIn)
{
    SettingsWindowHarness h;
    h.dexcom.setReadings({FakeDexcomServer::record(120, "Flat", 1'800'000'000)});
    h.build();
    ASSERT_TRUE(h.waitForLoad());
    SettingsWindowHarness::typeInto(h.find<QLineEdit>(QStringLiteral("settingsUsernameField")), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(h.find<QLineEdit>(QStringLiteral("settingsPasswordField")), QStringLiteral("secret"));
    auto *signIn = h.find<QPushButton>(QStringLiteral("settingsSignInButton"));
    ASSERT_TRUE(signIn->isEnabled());

    // No terms ever accepted: the first-time sheet, window-modal on the Settings window.
    signIn->click();
    ASSERT_TRUE(waitUntil([&] { return h.view->termsSheet() && h.view->termsSheet()->isVisible(); }));
    TermsAgreementSheet *sheet = h.view->termsSheet();
    EXPECT_FALSE(sheet->termsHaveChanged());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), h.view.get());
    ASSERT_NE(sheet->windowHandle(), nullptr);
    EXPECT_EQ(sheet->windowHandle()->transientParent(), h.view->windowHandle());
    EXPECT_FALSE(signIn->isEnabled());

    sheet->findChild<QPushButton *>(QStringLiteral("termsCancelButton"))->click();
    EXPECT_FALSE(h.model->isShowingTerms());
    EXPECT_EQ(h.view->termsSheet(), nullptr);
    EXPECT_EQ(h.find<QLineEdit>(QStringLiteral("settingsUsernameField"))->text(), QStringLiteral("ada"));
    EXPECT_EQ(h.find<QLineEdit>(QStringLiteral("settingsPasswordField"))->text(), QStringLiteral("secret"));
    EXPECT_TRUE(h.dexcom.requests().empty()) << "Cancel starts no sign-in";
    EXPECT_TRUE(signIn->isEnabled());

    // Escape on the sheet cancels too.
    signIn->click();
    ASSERT_TRUE(waitUntil([&] { return h.view->termsSheet() != nullptr; }));
    QTest::keyClick(h.view->termsSheet(), Qt::Key_Escape);
    EXPECT_FALSE(h.model->isShowingTerms());

    // Agree records the acceptance, hides the sheet and signs in.
    signIn->click();
    ASSERT_TRUE(waitUntil([&] { return h.view->termsSheet() != nullptr; }));
    h.view->termsSheet()->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"))->click();
    EXPECT_TRUE(h.configurationManager->hasAcceptedCurrentTerms());
    EXPECT_EQ(h.view->termsSheet(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return h.model->isConfigurationValid(); }));
    EXPECT_EQ(h.configurationManager->configuration()->account.username, "ada");
}

TEST(SettingsViewTest, TermsSheetSaysWhenTheTermsHaveChanged)
{
    SettingsWindowHarness h;
    h.defaults->setValue(ConfigurationManager::kAcceptedTermsVersionKey, QStringLiteral("2025-01-01"));
    h.build();
    ASSERT_TRUE(h.waitForLoad());
    SettingsWindowHarness::typeInto(h.find<QLineEdit>(QStringLiteral("settingsUsernameField")), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(h.find<QLineEdit>(QStringLiteral("settingsPasswordField")), QStringLiteral("pw"));
    h.find<QPushButton>(QStringLiteral("settingsSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return h.view->termsSheet() != nullptr; }));
    EXPECT_TRUE(h.view->termsSheet()->termsHaveChanged());
    EXPECT_EQ(h.view->termsSheet()->windowTitle(), QStringLiteral("Updated terms of use"));
}

} // namespace
} // namespace quillby::test
