// The General, Glucose, Alerts and About & support panes, each bound both ways to a real
// settings model that saves into the configuration.

#include "SettingsWindowTestSupport.h"

#include "providers/GlucoseProviderDescription.h"
#include "settings_window/AppSettingsPane.h"
#include "settings_window/GlucoseSettingsPane.h"
#include "settings_window/QuietHoursTimeInputField.h"
#include "polling/GlucoseAlertNotificationDelivering.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace quillby::test {
namespace {

class AppSettingsPanesTest : public ::testing::Test {
protected:
    SettingsWindowHarness h;

    void open(SettingsTab tab)
    {
        ASSERT_TRUE(h.openSignedOut(tab));
    }
    // Waits until the stored configuration satisfies `check`.
    bool saved(const std::function<bool(const AppSettings &)> &check)
    {
        return waitUntil([&] {
            const auto &configuration = h.configurationManager->configuration();
            return configuration && check(configuration->app) && !h.model->isSaving();
        });
    }
    QCheckBox *toggle(const char *name) { return h.find<QCheckBox>(QString::fromLatin1(name)); }
    QComboBox *combo(const char *name) { return h.find<QComboBox>(QString::fromLatin1(name)); }
};

TEST_F(AppSettingsPanesTest, GeneralLaunchAtLoginAndUpdates)
{
    open(SettingsTab::general);
    QCheckBox *launch = toggle("launchAtLoginToggle");
    EXPECT_FALSE(launch->isChecked());
    EXPECT_EQ(launch->accessibleDescription(),
              QStringLiteral("Automatically start Quillby when you log in to your computer"));

    // The status reads the model starts when it is made and when it applies the stored
    // configuration are answered first: a read that crosses the change would put the old state
    // back into the toggle (a race of the settings model, reported separately).
    ASSERT_TRUE(waitUntil([&] { return h.loginItems->statusReads >= 4; }));
    for (int turn = 0; turn < 10; ++turn) {
        QCoreApplication::processEvents();
    }
    launch->click();
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.startAtLogin; }))
        << "model " << h.model->startAtLogin() << " status '" << h.model->statusMessage() << "' registered "
        << h.loginItems->registered << " revision " << h.model->appSettingsRevision() << "/"
        << h.model->savedAppSettingsRevision() << " stored " << h.configurationManager->configuration()->app.startAtLogin;
    EXPECT_TRUE(h.loginItems->status() == LoginItemStatus::enabled);
    EXPECT_TRUE(waitUntil([&] { return launch->isChecked(); }));

    // A refusal puts the toggle back and shows the message under this pane.
    launch->click();
    ASSERT_TRUE(saved([](const AppSettings &s) { return !s.startAtLogin; }));
    h.loginItems->failure = "Permission denied";
    launch->click();
    ASSERT_TRUE(waitUntil([&] { return !h.model->statusMessage().empty(); }));
    ASSERT_TRUE(waitUntil([&] { return !launch->isChecked(); }));
    auto *status = h.find<QLabel>(QStringLiteral("settingsStatusMessage"));
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("Failed to update launch at login: Permission denied"));

    // Where updates are only reported the switch is disabled, with the reason.
    QCheckBox *automatic = toggle("autoInstallUpdatesToggle");
    EXPECT_FALSE(automatic->isEnabled());
    auto *why = h.find<QLabel>(QStringLiteral("autoInstallUpdatesUnavailableNotice"));
    EXPECT_TRUE(why->isVisible());
    EXPECT_EQ(why->text(), GeneralSettingsPane::automaticUpdatesText(UpdateInstallSupport::notFromPackage));
    EXPECT_TRUE(why->text().contains(QStringLiteral("not installed from its package")));

    auto *lastChecked = h.find<QLabel>(QStringLiteral("lastUpdateCheckValue"));
    EXPECT_EQ(lastChecked->text(), QStringLiteral("Never"));
    h.updates->lastCheck = 1'800'000'000.0;
    auto *check = h.find<QPushButton>(QStringLiteral("checkForUpdatesButton"));
    check->click();
    check->click();
    EXPECT_EQ(h.updateChecks, 2) << "each press asks again";
    EXPECT_TRUE(check->isEnabled());
    EXPECT_NE(lastChecked->text(), QStringLiteral("Never"));
}

// Where updates are installed the switch is live: it reaches the updater at once.
TEST_F(AppSettingsPanesTest, GeneralAutomaticUpdatesSwitchWhereUpdatesInstall)
{
    h.installSupport = UpdateInstallSupport::installs;
    open(SettingsTab::general);
    QCheckBox *automatic = toggle("autoInstallUpdatesToggle");
    EXPECT_TRUE(automatic->isEnabled());
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("autoInstallUpdatesUnavailableNotice"))->text(),
              QStringLiteral("Updates are installed when the app can relaunch."));
    automatic->click();
    EXPECT_TRUE(h.updates->automaticDownloads);
    EXPECT_TRUE(automatic->isChecked());
    automatic->click();
    EXPECT_FALSE(h.updates->automaticDownloads);
}

// In a German locale the threshold rows read "3,9 mmol/L", as every other number does there.
TEST_F(AppSettingsPanesTest, ThresholdRowsWriteTheirNumbersInTheComputersLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    open(SettingsTab::glucose);
    ASSERT_TRUE(SettingsWindowHarness::choose(combo("measurementUnitPicker"), QStringLiteral("mmol/L")));
    QComboBox *low = combo("lowThresholdPicker");
    QComboBox *high = combo("highThresholdPicker");
    EXPECT_EQ(low->itemText(3), QStringLiteral("3,9 mmol/L"));
    EXPECT_EQ(high->itemText(high->count() - 1), QStringLiteral("20,0 mmol/L"));
    for (QComboBox *picker : {low, high}) {
        for (int row = 0; row < picker->count(); ++row) {
            EXPECT_FALSE(picker->itemText(row).contains(QLatin1Char('.'))) << qPrintable(picker->itemText(row));
        }
    }
    QLocale::setDefault(saved);
}

TEST_F(AppSettingsPanesTest, GlucoseUnitThresholdsAndGraphWindow)
{
    open(SettingsTab::glucose);
    QComboBox *unit = combo("measurementUnitPicker");
    QComboBox *low = combo("lowThresholdPicker");
    QComboBox *high = combo("highThresholdPicker");
    QComboBox *graph = combo("graphTimeWindowPicker");
    EXPECT_EQ(unit->currentText(), QStringLiteral("mg/dL"));
    EXPECT_EQ(low->count(), 26);
    EXPECT_EQ(high->count(), 253);
    EXPECT_EQ(low->currentText(), QStringLiteral("72 mg/dL"));
    EXPECT_EQ(high->currentText(), QStringLiteral("270 mg/dL"));
    EXPECT_EQ(graph->currentText(), QStringLiteral("6 hours"));
    EXPECT_EQ(low->accessibleName(), QStringLiteral("Low glucose threshold"));
    EXPECT_EQ(graph->accessibleDescription(),
              QStringLiteral("Set how many hours of glucose history to display in the graph"));

    // A low threshold of 80 mg/dL moves to 79 (4.4 mmol/L) when the unit changes.
    ASSERT_TRUE(SettingsWindowHarness::choose(low, QStringLiteral("80 mg/dL")));
    ASSERT_TRUE(SettingsWindowHarness::choose(unit, QStringLiteral("mmol/L")));
    EXPECT_EQ(low->count(), 15);
    EXPECT_EQ(high->count(), 141);
    EXPECT_EQ(low->currentText(), QStringLiteral("4.4 mmol/L"));
    EXPECT_EQ(high->currentText(), QStringLiteral("15.0 mmol/L"));
    EXPECT_EQ(h.model->lowGlucoseThreshold(), 79);
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.measurementUnit == "mmol/L" && s.lowGlucoseThreshold == 79; }));

    // Choosing the row already selected writes nothing.
    const int revision = h.model->appSettingsRevision();
    ASSERT_TRUE(SettingsWindowHarness::choose(low, QStringLiteral("4.4 mmol/L")));
    ASSERT_TRUE(SettingsWindowHarness::choose(graph, QStringLiteral("6 hours")));
    EXPECT_EQ(h.model->appSettingsRevision(), revision);

    ASSERT_TRUE(SettingsWindowHarness::choose(high, QStringLiteral("10.0 mmol/L")));
    ASSERT_TRUE(SettingsWindowHarness::choose(graph, QStringLiteral("24 hours")));
    EXPECT_EQ(h.model->appSettingsRevision(), revision + 2);
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.highGlucoseThreshold == 180 && s.graphTimeWindowHours == 24; }));

    // The model drives the pickers: an off-grid value selects no row.
    h.model->setHighGlucoseThreshold(400);
    EXPECT_EQ(high->currentIndex(), -1);
    h.model->setGraphTimeWindowHours(3);
    EXPECT_EQ(graph->currentText(), QStringLiteral("3 hours"));

    // The provider note follows the provider.
    QWidget *notice = h.find(QStringLiteral("directToWatchGraphHistoryNotice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->accessibleName(),
              QString::fromStdString(describeProvider(GlucoseProvider::dexcom).graphHistoryNote));
    h.model->setProvider(GlucoseProvider::libreLinkUp);
    EXPECT_EQ(h.find(QStringLiteral("directToWatchGraphHistoryNotice")), nullptr);
    EXPECT_NE(h.findByAccessibleName(
                  QString::fromStdString(describeProvider(GlucoseProvider::libreLinkUp).graphHistoryNote)),
              nullptr);
}

TEST_F(AppSettingsPanesTest, AlertsTogglesPickerAndSectionsFollowTheModel)
{
    open(SettingsTab::alerts);
    QCheckBox *master = toggle("alertsEnabledToggle");
    ASSERT_TRUE(master->isChecked());

    const struct {
        const char *name;
        bool (SettingsViewModel::*get)() const;
        void (SettingsViewModel::*set)(bool);
    } toggles[] = {
        {"alertOnLowThresholdToggle", &SettingsViewModel::alertOnLowThreshold, &SettingsViewModel::setAlertOnLowThreshold},
        {"alertOnHighThresholdToggle", &SettingsViewModel::alertOnHighThreshold, &SettingsViewModel::setAlertOnHighThreshold},
        {"alertOnRapidFallToggle", &SettingsViewModel::alertOnRapidFall, &SettingsViewModel::setAlertOnRapidFall},
        {"alertOnRapidRiseToggle", &SettingsViewModel::alertOnRapidRise, &SettingsViewModel::setAlertOnRapidRise},
        {"quietHoursEnabledToggle", &SettingsViewModel::quietHoursEnabled, &SettingsViewModel::setQuietHoursEnabled},
    };
    for (const auto &t : toggles) {
        SCOPED_TRACE(t.name);
        QCheckBox *box = toggle(t.name);
        ASSERT_NE(box, nullptr);
        const bool before = (h.model.get()->*t.get)();
        const int revision = h.model->appSettingsRevision();
        box->click();
        EXPECT_EQ((h.model.get()->*t.get)(), !before);
        EXPECT_EQ(h.model->appSettingsRevision(), revision + 1);
        (h.model.get()->*t.set)(before);
        EXPECT_EQ(box->isChecked(), before);
    }

    // The snooze toggles carry no identifier; they are the three of the snooze section.
    QCheckBox *snoozeHigh = nullptr;
    for (QCheckBox *box : h.view->findChildren<QCheckBox *>()) {
        if (box->text() == QStringLiteral("Snooze high alerts")) {
            snoozeHigh = box;
        }
    }
    ASSERT_NE(snoozeHigh, nullptr);
    snoozeHigh->click();
    EXPECT_FALSE(h.model->snoozeHighAlerts());

    QComboBox *repeat = combo("lowAlertRepeatPicker");
    ASSERT_TRUE(SettingsWindowHarness::choose(repeat, QStringLiteral("Every 15 minutes")));
    EXPECT_EQ(h.model->lowAlertRepeatMinutes(), 15);
    const int revision = h.model->appSettingsRevision();
    ASSERT_TRUE(SettingsWindowHarness::choose(repeat, QStringLiteral("Every 15 minutes")));
    EXPECT_EQ(h.model->appSettingsRevision(), revision + 1) << "a repeated write still counts";
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.lowAlertRepeatMinutes == 15 && !s.snoozeHighAlerts; }));
    h.model->setLowAlertRepeatMinutes(7);
    EXPECT_EQ(repeat->currentIndex(), -1) << "an unknown interval shows no row and stays";
    EXPECT_EQ(h.model->lowAlertRepeatMinutes(), 7);

    // Switching alerts off removes the four sections; on brings them back as they were.
    auto *types = h.find<QCheckBox>(QStringLiteral("alertOnLowThresholdToggle"));
    auto *test = h.find(QStringLiteral("sendTestAlertButton"));
    master->click();
    EXPECT_FALSE(h.model->alertsEnabled());
    EXPECT_FALSE(types->isVisible());
    EXPECT_FALSE(test->isVisible());
    master->click();
    EXPECT_TRUE(types->isVisible());
    EXPECT_TRUE(test->isVisible());
    EXPECT_EQ(repeat->currentIndex(), -1);
    ASSERT_TRUE(waitUntil([&] { return h.alerts->authorizationRequests == 1; })) << "switching on asks for permission";
}

TEST_F(AppSettingsPanesTest, QuietHoursStoreOnlyValidTimes)
{
    open(SettingsTab::alerts);
    auto *start = h.find<QuietHoursTimeInputField>(QStringLiteral("quietHoursStartPicker"));
    auto *end = h.find<QuietHoursTimeInputField>(QStringLiteral("quietHoursEndPicker"));
    auto *allowLow = toggle("allowLowAlertsDuringQuietHoursToggle");
    EXPECT_FALSE(start->isVisible());
    toggle("quietHoursEnabledToggle")->click();
    ASSERT_TRUE(start->isVisible() && end->isVisible() && allowLow->isVisible());
    EXPECT_EQ(start->accessibleName(), QStringLiteral("Quiet hours start"));
    EXPECT_EQ(end->accessibleName(), QStringLiteral("Quiet hours end"));
    start->setTimeStyle(TimeOfDayStyle::twentyFourHour());
    end->setTimeStyle(TimeOfDayStyle::twentyFourHour());
    EXPECT_EQ(start->text(), QStringLiteral("22:00"));
    EXPECT_EQ(end->text(), QStringLiteral("07:00"));

    auto *pane = qobject_cast<AlertsSettingsPane *>(h.find(QStringLiteral("alertsSettingsPane")));
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("quietHoursStartProblemText"))->text(), QString());
    bool snoozeFooter = false;
    for (const QLabel *label : pane->findChildren<QLabel *>()) {
        snoozeFooter |= label->text() == QStringLiteral("Snooze actions in the Quillby menu only silence the alert "
                                                          "categories selected above.");
        EXPECT_FALSE(label->text().contains(QLatin1String("status bar"), Qt::CaseInsensitive)) << label->text().toStdString();
    }
    EXPECT_TRUE(snoozeFooter);
    start->setFocus();
    ASSERT_TRUE(waitUntil([&] { return start->hasFocus(); }));
    EXPECT_EQ(pane->focusedQuietHoursField(), AlertsSettingsPane::QuietHoursField::start);

    // A valid time goes to the model at once and is saved.
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("22:30"));
    EXPECT_EQ(h.model->quietHoursStartMinutes(), 1350);
    ASSERT_TRUE(saved([](const AppSettings &s) { return s.quietHoursEnabled && s.quietHoursStartMinutes == 1350; }));

    // An invalid time reaches no model; Return ends the editing, the field shows the stored
    // time again and a line under it says, and speaks, what was not saved.
    const int revision = h.model->appSettingsRevision();
    auto *problem = h.find<QLabel>(QStringLiteral("quietHoursStartProblemText"));
    EXPECT_FALSE(problem->isVisible());
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("29:75"));
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_FALSE(start->hasFocus());
    EXPECT_EQ(pane->focusedQuietHoursField(), std::nullopt);
    EXPECT_EQ(start->text(), QStringLiteral("22:30"));
    EXPECT_EQ(h.model->quietHoursStartMinutes(), 1350);
    EXPECT_EQ(h.model->appSettingsRevision(), revision);
    EXPECT_TRUE(problem->isVisible());
    EXPECT_EQ(problem->text(), QStringLiteral("\u201C29:75\u201D was not saved: type a time such as 22:00."));
    EXPECT_EQ(start->accessibleDescription(), problem->text());
    EXPECT_EQ(h.announcer.announcements.value(h.announcer.announcements.size() - 1), problem->text());
    EXPECT_FALSE(h.find<QLabel>(QStringLiteral("quietHoursEndProblemText"))->isVisible());
    // The next time taken clears it.
    start->setFocus();
    ASSERT_TRUE(waitUntil([&] { return start->hasFocus(); }));
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("2230"));
    EXPECT_EQ(h.model->quietHoursStartMinutes(), 1350);
    EXPECT_FALSE(problem->isVisible());
    EXPECT_TRUE(start->accessibleDescription().isEmpty());

    // Focus moving from Start to End leaves End as the focused field.
    start->setFocus();
    ASSERT_TRUE(waitUntil([&] { return start->hasFocus(); }));
    end->setFocus();
    ASSERT_TRUE(waitUntil([&] { return end->hasFocus(); }));
    EXPECT_EQ(pane->focusedQuietHoursField(), AlertsSettingsPane::QuietHoursField::end);
    QTest::keyClick(end, Qt::Key_Up);   // the cursor sits at the end: the minute
    EXPECT_EQ(h.model->quietHoursEndMinutes(), 421);

    // The model drives the fields: an out-of-range value shows clamped, and switching quiet
    // hours off keeps the stored times.
    h.model->setQuietHoursEndMinutes(5000);
    EXPECT_EQ(end->text(), QStringLiteral("23:59"));
    toggle("quietHoursEnabledToggle")->click();
    EXPECT_FALSE(start->isVisible());
    EXPECT_EQ(h.model->quietHoursStartMinutes(), 1350);
}

TEST_F(AppSettingsPanesTest, NotificationsBannerAndTestAlert)
{
    h.alerts->state = GlucoseAlertAuthorizationState::denied;
    open(SettingsTab::alerts);
    ASSERT_TRUE(waitUntil([&] { return h.model->notificationPermissionDenied(); }));
    auto *checkAgain = h.find<QPushButton>(QStringLiteral("checkNotificationsAgainButton"));
    auto *test = h.find<QPushButton>(QStringLiteral("sendTestAlertButton"));
    ASSERT_NE(checkAgain, nullptr);
    EXPECT_TRUE(checkAgain->isVisible());
    EXPECT_EQ(checkAgain->text(), QStringLiteral("Check again"));
    EXPECT_FALSE(test->isVisible());
    bool linuxWording = false;
    for (QLabel *label : h.view->findChildren<QLabel *>()) {
        linuxWording |= label->isVisible() && label->text() == QString::fromUtf8(kEnableNotificationsHint);
    }
    EXPECT_TRUE(linuxWording);

    // Still no notification service: the banner stays and says so.
    h.announcer.announcements.clear();
    checkAgain->setFocus();
    checkAgain->click();
    ASSERT_TRUE(waitUntil([&] { return !h.announcer.announcements.empty(); }));
    EXPECT_EQ(h.announcer.announcements.back(), QStringLiteral("Notifications are disabled for Quillby."));
    EXPECT_TRUE(checkAgain->isVisible());

    // A notification service started meanwhile: asking again brings the test button, with the focus.
    h.alerts->state = GlucoseAlertAuthorizationState::authorized;
    checkAgain->click();
    ASSERT_TRUE(waitUntil([&] { return test->isVisible(); }));
    EXPECT_TRUE(test->hasFocus());
    EXPECT_FALSE(checkAgain->isVisible());
    EXPECT_EQ(test->text(), QStringLiteral("Send test alert"));

    test->click();
    EXPECT_FALSE(test->isEnabled());
    EXPECT_EQ(test->accessibleName(), QStringLiteral("Sending test alert"));
    EXPECT_EQ(test->text(), QString());
    ASSERT_TRUE(waitUntil([&] { return test->isEnabled(); }));
    auto *status = h.find<QLabel>(QStringLiteral("testAlertStatusText"));
    EXPECT_EQ(status->text(), QStringLiteral("Test alert sent."));
    ASSERT_EQ(h.alerts->sent.size(), 1u);
    EXPECT_EQ(h.alerts->sent[0].title, "Quillby test alert");

    // The same outcome twice is spoken twice.
    test->click();
    ASSERT_TRUE(waitUntil([&] { return test->isEnabled(); }));
    EXPECT_EQ(h.announcer.announcements.count(QStringLiteral("Test alert sent.")), 2);

    h.alerts->failSending = true;
    test->click();
    ASSERT_TRUE(waitUntil([&] { return test->isEnabled(); }));
    EXPECT_EQ(status->text(), QStringLiteral("Test alert could not be sent."));
}

TEST_F(AppSettingsPanesTest, AboutShowsTheVersionAndOpensTheSupportPages)
{
    open(SettingsTab::about);
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("currentVersionValue"))->text(), QStringLiteral("1.4.2 (142)"));
    h.find<QPushButton>(QStringLiteral("gettingStartedButton"))->click();
    h.find<QPushButton>(QStringLiteral("gettingStartedButton"))->click();
    h.find<QPushButton>(QStringLiteral("viewChangelogButton"))->click();
    h.find<QPushButton>(QStringLiteral("submitFeedbackButton"))->click();
    ASSERT_EQ(h.openedURLs.size(), 3u);
    EXPECT_EQ(h.openedURLs[0].path(), QStringLiteral("/"));
    EXPECT_EQ(h.openedURLs[0].fragment(), QStringLiteral("getting-started"));
    EXPECT_EQ(h.openedURLs[1], h.openedURLs[0]);
    EXPECT_EQ(h.openedURLs[2].path(), QStringLiteral("/changelog"));
    EXPECT_EQ(h.feedbackRequests, 1);

    // The two links open the privacy policy and the terms.
    QStringList links;
    for (QLabel *label : h.view->findChildren<QLabel *>()) {
        if (label->textFormat() == Qt::RichText && label->isVisible()) {
            links << label->accessibleName();
            const QString text = label->text();
            const qsizetype start = text.indexOf(QLatin1Char('"')) + 1;
            emit label->linkActivated(text.mid(start, text.indexOf(QLatin1Char('"'), start) - start));
        }
    }
    EXPECT_EQ(links, (QStringList{QStringLiteral("Read privacy policy"), QStringLiteral("Read terms of use")}));
    ASSERT_EQ(h.openedURLs.size(), 5u);
    EXPECT_EQ(h.openedURLs[3].path(), QStringLiteral("/privacy"));
    EXPECT_EQ(h.openedURLs[4].path(), QStringLiteral("/terms"));
    // Every page is on the web site the window was given.
    for (const QUrl &url : h.openedURLs) {
        EXPECT_EQ(url.host(), QStringLiteral("quillby.test")) << url.toString().toStdString();
    }

    // Showing the pane reads the version again.
    h.updates->version = QStringLiteral("1.5.0 (150)");
    h.navigation->setSelection(SettingsTab::general);
    h.navigation->setSelection(SettingsTab::about);
    EXPECT_EQ(h.find<QLabel>(QStringLiteral("currentVersionValue"))->text(), QStringLiteral("1.5.0 (150)"));
}

// The rows of the pickers of settings whose allowed values have an owner: each row's text and
// value, in order, as people read them.
TEST(SettingsPickerRows, NameEachAllowedValue)
{
    using Rows = std::vector<std::pair<QString, int>>;
    EXPECT_EQ(GlucoseSettingsPane::graphWindowRows(),
              (Rows{{"1 hour", 1}, {"3 hours", 3}, {"6 hours", 6}, {"12 hours", 12}, {"24 hours", 24}}));
    EXPECT_EQ(AlertsSettingsPane::repeatRows(), (Rows{{"Never", 0},
                                                      {"Every 5 minutes", 5},
                                                      {"Every 15 minutes", 15},
                                                      {"Every 30 minutes", 30},
                                                      {"Every hour", 60}}));
}

} // namespace
} // namespace quillby::test
