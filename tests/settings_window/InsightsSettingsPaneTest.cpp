// The Insights pane over a real history coordinator and store in a temporary folder: turning
// saving on through the consent sheet and off at once, the retention confirmation, deleting
// everything, and the error section.

#include "SettingsWindowTestSupport.h"
#include "insights/InsightsCollectionProgress.h"

#include "history/GlucoseHistoryStore.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "settings_window/InsightsSettingsPane.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>

namespace quillby::test {
namespace {

class InsightsSettingsPaneTest : public ::testing::Test {
protected:
    SettingsWindowHarness h;
    std::filesystem::path root = std::filesystem::path(h.directory.path().toStdString()) / "History";
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();

    void open(bool signedIn)
    {
        h.acceptTerms();
        if (signedIn) {
            AppConfiguration configuration;
            configuration.account = SettingsWindowHarness::dexcomAccount();
            configuration.app = AppSettings::defaults();
            h.storeConfiguration(configuration);
        }
        auto keys = keyring;
        h.buildServices(std::make_shared<GlucoseHistoryStore>(
            root,
            std::make_shared<FakeKeychainItemStore>(QStringLiteral("Quillby.history"),
                                                    QStringLiteral("encryption-key-v1"), keyring),
            [keys](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<FakeKeychainItemStore>(
                    QStringLiteral("Quillby.history"), QString::fromStdString("encryption-key-v2-" + digest), keys);
            },
            &insightsMinimumDatasetReached));
        h.build(SettingsTab::insights);
        ASSERT_TRUE(h.waitForLoad());
        if (signedIn) {
            ASSERT_TRUE(waitUntil([&] { return h.history->snapshot().has_value() && !h.history->isBusy(); }));
        }
    }

    QCheckBox *saving() { return h.find<QCheckBox>(QStringLiteral("saveGlucoseHistoryToggle")); }
    QComboBox *retention() { return h.find<QComboBox>(QStringLiteral("historyRetentionPicker")); }
    QPushButton *deleteAll() { return h.find<QPushButton>(QStringLiteral("deleteSavedHistoryButton")); }
    QLabel *count() { return h.find<QLabel>(QStringLiteral("savedReadingsValue")); }
    bool idle() { return !h.history->isBusy() && h.history->snapshot().has_value(); }

    void saveReadings(int n)
    {
        const auto scope = HistoryCoordinator::accountScope(SettingsWindowHarness::dexcomAccount());
        const auto token = h.history->collectionToken(scope);
        ASSERT_TRUE(token);
        GlucoseReadings readings;
        const Date now = SystemClock().now();
        for (int i = 0; i < n; ++i) {
            readings.emplace_back(100 + i % 100, "Flat", now - 60.0 * (n - i));
        }
        h.history->enqueue(readings, now, *token);
        ASSERT_TRUE(waitUntil([&] { return !h.history->isDraining() && h.history->snapshot() &&
                                            h.history->snapshot()->readings.size() == static_cast<std::size_t>(n); }));
    }
};

TEST_F(InsightsSettingsPaneTest, SignedOutLocksSavingButNotDeletion)
{
    open(false);
    EXPECT_FALSE(saving()->isEnabled());
    EXPECT_FALSE(saving()->isChecked());
    EXPECT_FALSE(retention()->isEnabled());
    EXPECT_EQ(retention()->currentText(), QStringLiteral("90 days"));
    EXPECT_FALSE(count()->isVisible());
    EXPECT_TRUE(deleteAll()->isEnabled());
    bool notice = false;
    for (QLabel *label : h.view->findChildren<QLabel *>()) {
        notice |= label->isVisible() &&
                  label->text() == QStringLiteral("Sign in to your glucose account to enable history saving.");
    }
    EXPECT_TRUE(notice);
    EXPECT_EQ(saving()->text(), QStringLiteral("Save glucose history on this computer"));
}

// The consent sheet opens with the keyboard on "Enable saving", not on the link in its text.
TEST_F(InsightsSettingsPaneTest, ConsentSheetStartsWithTheFocusOnEnable)
{
    open(true);
    saving()->click();
    auto *pane = h.find<InsightsSettingsPane>(QStringLiteral("insightsSettingsPane"));
    ASSERT_NE(pane->consentSheet(), nullptr);
    auto *enable = pane->consentSheet()->findChild<QPushButton *>(QStringLiteral("historyEnableSavingButton"));
    ASSERT_TRUE(waitUntil([&] { return pane->consentSheet()->focusWidget() == enable; }));
}

TEST_F(InsightsSettingsPaneTest, ConsentTurnsSavingOnAndTheToggleTurnsItOff)
{
    open(true);
    EXPECT_TRUE(saving()->isEnabled());
    EXPECT_FALSE(saving()->isChecked());
    EXPECT_TRUE(count()->isVisible());
    EXPECT_EQ(count()->text(), QStringLiteral("0"));

    // Switching on only opens the sheet; cancelling it leaves saving off.
    saving()->click();
    auto *pane = h.find<InsightsSettingsPane>(QStringLiteral("insightsSettingsPane"));
    ASSERT_NE(pane->consentSheet(), nullptr);
    EXPECT_EQ(pane->consentSheet()->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(saving()->isChecked());
    EXPECT_NE(qobject_cast<HistoryEnableDisclosureView *>(pane->consentSheet()), nullptr);
    pane->consentSheet()->findChild<QPushButton *>(QStringLiteral("historyEnableCancelButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return pane->consentSheet() == nullptr; }));
    EXPECT_FALSE(h.history->snapshot()->configuration.isEnabled);

    saving()->click();
    ASSERT_NE(pane->consentSheet(), nullptr);
    pane->consentSheet()->findChild<QPushButton *>(QStringLiteral("historyEnableSavingButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->configuration.isEnabled; }));
    EXPECT_TRUE(saving()->isChecked());

    saveReadings(1234);
    EXPECT_EQ(count()->text(), QLocale().toString(1234));

    // Off applies at once, with no question, and keeps the readings.
    saving()->click();
    ASSERT_TRUE(waitUntil([&] { return idle() && !h.history->snapshot()->configuration.isEnabled; }));
    EXPECT_FALSE(saving()->isChecked());
    EXPECT_EQ(h.history->snapshot()->readings.size(), 1234u);
    EXPECT_TRUE(count()->isVisible());
    EXPECT_EQ(pane->consentSheet(), nullptr);
}

// Driven from the keyboard or by an assistive technology's toggle action: once saving is on
// the focus is back on the toggle, not on the sidebar it fell to while the toggle waited
// disabled.
TEST_F(InsightsSettingsPaneTest, EnablingFromTheKeyboardKeepsTheFocusOnTheToggle)
{
    open(true);
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.view.get()));
    auto *pane = h.find<InsightsSettingsPane>(QStringLiteral("insightsSettingsPane"));
    saving()->setFocus();
    QAccessible::queryAccessibleInterface(saving())->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    ASSERT_NE(pane->consentSheet(), nullptr);
    EXPECT_FALSE(saving()->isChecked());
    QDialog *sheet = pane->consentSheet();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    auto *enable = sheet->findChild<QPushButton *>(QStringLiteral("historyEnableSavingButton"));
    QTest::keyClick(enable, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->configuration.isEnabled; }));
    EXPECT_TRUE(saving()->isChecked());
    EXPECT_EQ(h.view->focusWidget(), saving());
}

TEST_F(InsightsSettingsPaneTest, ShorterRetentionIsConfirmedLongerIsNot)
{
    open(true);
    auto *pane = h.find<InsightsSettingsPane>(QStringLiteral("insightsSettingsPane"));
    EXPECT_EQ(retention()->currentText(), QStringLiteral("90 days"));

    ASSERT_TRUE(SettingsWindowHarness::choose(retention(), QStringLiteral("30 days")));
    QMessageBox *confirm = pane->retentionConfirmation();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->text(), QStringLiteral("Keep only the latest 30 days?"));
    EXPECT_EQ(confirm->windowModality(), Qt::WindowModal);
    EXPECT_EQ(retention()->currentText(), QStringLiteral("90 days")) << "nothing changes before the answer";
    QPushButton *cancel = nullptr;
    for (QPushButton *button : confirm->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("Cancel")) {
            cancel = button;
        }
    }
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    ASSERT_TRUE(waitUntil([&] { return pane->retentionConfirmation() == nullptr; }));
    EXPECT_EQ(retention()->currentText(), QStringLiteral("90 days"));
    EXPECT_EQ(h.history->snapshot()->configuration.retentionDays, 90);

    ASSERT_TRUE(SettingsWindowHarness::choose(retention(), QStringLiteral("30 days")));
    ASSERT_NE(pane->retentionConfirmation(), nullptr);
    pane->retentionConfirmation()->findChild<QPushButton *>(QStringLiteral("keepThirtyDaysButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->configuration.retentionDays == 30; }));
    EXPECT_EQ(retention()->currentText(), QStringLiteral("30 days"));

    ASSERT_TRUE(SettingsWindowHarness::choose(retention(), QStringLiteral("90 days")));
    EXPECT_EQ(pane->retentionConfirmation(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->configuration.retentionDays == 90; }));
}

TEST_F(InsightsSettingsPaneTest, DeleteAllIsConfirmedAndErrorsOfferARetry)
{
    open(true);
    auto *pane = h.find<InsightsSettingsPane>(QStringLiteral("insightsSettingsPane"));
    saving()->click();
    pane->consentSheet()->findChild<QPushButton *>(QStringLiteral("historyEnableSavingButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->configuration.isEnabled; }));
    saveReadings(12);

    deleteAll()->click();
    QMessageBox *confirm = pane->deleteConfirmation();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->text(), QStringLiteral("Delete all saved history?"));
    EXPECT_EQ(confirm->informativeText(), InsightsSettingsPane::deleteConfirmationMessage());
    confirm->findChild<QPushButton *>(QStringLiteral("confirmDeleteSavedHistoryButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return idle() && h.history->snapshot()->readings.empty(); }));
    EXPECT_FALSE(h.history->snapshot()->configuration.isEnabled);
    EXPECT_EQ(count()->text(), QStringLiteral("0"));
    EXPECT_EQ(h.history->errorMessage(), std::nullopt);

    // A failed operation shows its text verbatim; "Try again" reloads and clears it.
    auto *errorText = h.find<QLabel>(QStringLiteral("historyErrorText"));
    EXPECT_FALSE(errorText->isVisible());
    h.history->setErrorMessage(std::string("<i>Disk</i> unavailable"));
    EXPECT_TRUE(errorText->isVisible());
    EXPECT_EQ(errorText->text(), QStringLiteral("<i>Disk</i> unavailable"));
    EXPECT_EQ(errorText->textFormat(), Qt::PlainText);
    h.find<QPushButton>(QStringLiteral("historyTryAgainButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return !errorText->isVisible(); }));
}

} // namespace
} // namespace quillby::test
