// The Account pane over a real settings model and account service, signing in to the fake
// Dexcom Share and LibreLinkUp servers.

#include "SettingsWindowTestSupport.h"

#include "settings_window/QuietHoursTimeInputField.h"

#include <QLabel>
#include <QPushButton>

namespace quillby::test {
namespace {

class AccountSettingsPaneTest : public ::testing::Test {
protected:
    SettingsWindowHarness h;

    void SetUp() override
    {
        h.acceptTerms();
        h.build(SettingsTab::account);
        ASSERT_TRUE(h.waitForLoad());
    }

    QLineEdit *username() { return h.find<QLineEdit>(QStringLiteral("settingsUsernameField")); }
    QLineEdit *password() { return h.find<QLineEdit>(QStringLiteral("settingsPasswordField")); }
    QPushButton *signIn() { return h.find<QPushButton>(QStringLiteral("settingsSignInButton")); }
    QComboBox *provider() { return h.find<QComboBox>(QStringLiteral("glucoseProviderPicker")); }
    QComboBox *region() { return h.find<QComboBox>(QStringLiteral("settingsRegionPicker")); }
    QComboBox *person() { return h.find<QComboBox>(QStringLiteral("libreConnectionPicker")); }

    // The text of the value row titled `title` in the signed-in summary.
    QString valueOf(const QString &title)
    {
        for (QLabel *label : h.view->findChildren<QLabel *>()) {
            if (label->text() == title && label->isVisible() && label->buddy()) {
                return static_cast<QLabel *>(label->buddy())->text();
            }
        }
        return QStringLiteral("<no row>");
    }
};

TEST_F(AccountSettingsPaneTest, SignInButtonFollowsTheEnablingRule)
{
    EXPECT_EQ(signIn()->text(), QStringLiteral("Sign in"));
    EXPECT_EQ(signIn()->accessibleName(), QStringLiteral("Sign in to Dexcom"));
    EXPECT_EQ(signIn()->accessibleDescription(), QStringLiteral("Signs in with your Dexcom credentials"));
    EXPECT_EQ(username()->accessibleName(), QStringLiteral("Dexcom username"));
    EXPECT_EQ(password()->accessibleName(), QStringLiteral("Dexcom password"));
    EXPECT_TRUE(username()->hasFocus()) << "the user name has the focus when the pane shows";

    const struct {
        const char *user;
        const char *password;
        bool enabled;
    } cases[] = {
        {"", "", false}, {"ada", "", false}, {"   ", "secret", false}, {"ada", "   ", true}, {" ada ", "secret", true},
    };
    for (const auto &c : cases) {
        SettingsWindowHarness::typeInto(username(), QString::fromUtf8(c.user));
        SettingsWindowHarness::typeInto(password(), QString::fromUtf8(c.password));
        EXPECT_EQ(signIn()->isEnabled(), c.enabled) << '"' << c.user << "\" / \"" << c.password << '"';
        EXPECT_EQ(h.model->username(), c.user) << "the field writes the model as typed";
    }

    // The model drives the fields back: switching to LibreLinkUp empties them and renames them.
    ASSERT_TRUE(SettingsWindowHarness::choose(provider(), QStringLiteral("FreeStyle Libre")));
    EXPECT_EQ(h.model->provider(), GlucoseProvider::libreLinkUp);
    EXPECT_EQ(username()->text(), QString());
    EXPECT_EQ(password()->text(), QString());
    EXPECT_EQ(region()->currentText(), QStringLiteral("Automatic"));
    EXPECT_EQ(region()->accessibleName(), QStringLiteral("LibreLinkUp region"));
    EXPECT_EQ(username()->accessibleName(), QStringLiteral("LibreLinkUp email address"));
    EXPECT_EQ(signIn()->accessibleName(), QStringLiteral("Sign in to LibreLinkUp"));
    EXPECT_FALSE(person()->isVisible()) << "no person picker before people are listed";
    EXPECT_FALSE(signIn()->isEnabled());

    ASSERT_TRUE(SettingsWindowHarness::choose(region(), QStringLiteral("United Kingdom")));
    EXPECT_EQ(h.model->region(), "eu2");
    h.model->setRegion("xx");
    EXPECT_EQ(region()->currentIndex(), -1) << "an unknown region shows no selection";
    EXPECT_EQ(h.model->region(), "xx");
    ASSERT_TRUE(SettingsWindowHarness::choose(provider(), QStringLiteral("Dexcom")));
    EXPECT_EQ(region()->currentText(), QStringLiteral("Outside US"));
}

// By keyboard: Return in the password field signs in; the focus waits while it works and then
// goes to the first control of the summary that replaced the form (not to the sidebar or
// nowhere); signing out puts it on the first control of the form again.
TEST_F(AccountSettingsPaneTest, FocusFollowsTheFormToTheSummaryAndBack)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.view.get()));
    SettingsWindowHarness::typeInto(username(), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(password(), QStringLiteral("secret"));
    ASSERT_TRUE(SettingsWindowHarness::choose(region(), QStringLiteral("United States")));
    password()->setFocus();
    QTest::keyClick(password(), Qt::Key_Return);
    ASSERT_TRUE(h.model->isLoading());
    EXPECT_EQ(h.view->focusWidget(), nullptr) << "the focus waits in the form";
    ASSERT_TRUE(waitUntil([&] { return h.model->isConfigurationValid() && !h.model->isLoading(); }));
    auto *signOut = h.find<QPushButton>(QStringLiteral("signOutButton"));
    ASSERT_TRUE(waitUntil([&] { return signOut->isEnabled(); }));
    QWidget *focus = h.view->focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus->isVisible());
    EXPECT_EQ(focus, signOut);

    QTest::keyClick(signOut, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return !h.model->isConfigurationValid() && !h.model->isLoading(); }));
    ASSERT_TRUE(waitUntil([&] { return h.view->focusWidget() != nullptr; }));
    QWidget *formFocus = h.view->focusWidget();
    EXPECT_TRUE(formFocus == provider() || formFocus == username() || formFocus == password())
        << "a control of the form, not " << formFocus->objectName().toStdString();
    EXPECT_TRUE(formFocus->isVisible());
}

TEST_F(AccountSettingsPaneTest, DexcomSignInShowsProgressThenTheSummary)
{
    h.dexcom.setReadings({FakeDexcomServer::record(120, "Flat", 1'800'000'000)});
    SettingsWindowHarness::typeInto(username(), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(password(), QStringLiteral("secret"));
    ASSERT_TRUE(SettingsWindowHarness::choose(region(), QStringLiteral("United States")));

    signIn()->click();
    // While it runs: progress text, and every account control locked.
    ASSERT_TRUE(h.model->isLoading());
    EXPECT_EQ(signIn()->text(), QStringLiteral("Signing in"));
    EXPECT_EQ(signIn()->accessibleName(), QStringLiteral("Signing in to Dexcom"));
    EXPECT_FALSE(signIn()->icon().isNull()) << "the progress indicator";
    for (QWidget *control : std::initializer_list<QWidget *>{signIn(), username(), password(), provider(), region()}) {
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    }

    ASSERT_TRUE(waitUntil([&] { return h.model->isConfigurationValid(); }));
    EXPECT_EQ(h.announcer.announcements,
              (QStringList{QStringLiteral("Signing in to Dexcom"), QStringLiteral("Signed in to Dexcom")}));
    EXPECT_FALSE(username()->isVisible());
    EXPECT_EQ(valueOf(QStringLiteral("Sensor")), QStringLiteral("Dexcom"));
    EXPECT_EQ(valueOf(QStringLiteral("Username")), QStringLiteral("ada"));
    EXPECT_FALSE(h.find(QStringLiteral("reconnectButton"))->isVisible()) << "Dexcom has no reconnect";
    auto *signOut = h.find<QPushButton>(QStringLiteral("signOutButton"));
    EXPECT_EQ(signOut->accessibleName(), QStringLiteral("Sign out of Dexcom"));
    EXPECT_EQ(h.configurationManager->configuration()->account.region, "us");

    // Sign-out waits for the history operation that the sign-in started.
    ASSERT_TRUE(waitUntil([&] { return signOut->isEnabled(); }));
    signOut->click();
    ASSERT_TRUE(h.model->isLoading());
    ASSERT_TRUE(waitUntil([&] { return !h.model->isConfigurationValid() && !h.model->isLoading(); }));
    EXPECT_TRUE(username()->isVisible());
    EXPECT_EQ(username()->text(), QString());
    EXPECT_EQ(h.announcer.announcements,
              (QStringList{QStringLiteral("Signing in to Dexcom"), QStringLiteral("Signed in to Dexcom")}))
        << "signing out speaks no sign-in";
}

TEST_F(AccountSettingsPaneTest, FailedSignInIsShownAndSpokenOnce)
{
    SettingsWindowHarness::typeInto(username(), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(password(), QStringLiteral("wrong"));
    ASSERT_TRUE(SettingsWindowHarness::choose(region(), QStringLiteral("United States")));
    // Return in the password field submits the form.
    QTest::keyClick(password(), Qt::Key_Return);
    ASSERT_TRUE(h.model->isLoading());
    ASSERT_TRUE(waitUntil([&] { return !h.model->isLoading(); }));

    auto *status = h.find<QLabel>(QStringLiteral("settingsStatusMessage"));
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Sign in failed: "))) << status->text().toStdString();
    EXPECT_EQ(h.announcer.announcements.count(status->text()), 1);
    EXPECT_FALSE(h.model->isConfigurationValid());
}

TEST_F(AccountSettingsPaneTest, LibreLinkUpPersonPickerAfterListingPeople)
{
    h.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ann", "Lee"),
                            FakeLibreLinkUpServer::connection("p-2", "<b>Bo</b>", "Ray")});
    h.libre.setGraph("p-2", {});
    ASSERT_TRUE(SettingsWindowHarness::choose(provider(), QStringLiteral("FreeStyle Libre")));
    SettingsWindowHarness::typeInto(username(), QStringLiteral("ada@example.com"));
    SettingsWindowHarness::typeInto(password(), QStringLiteral("secret"));
    signIn()->click();
    ASSERT_TRUE(waitUntil([&] { return !h.model->libreConnections().empty() && !h.model->isLoading(); }));

    // Two people: the picker appears with the placeholder, and the button asks to connect.
    ASSERT_TRUE(person()->isVisible());
    EXPECT_EQ(person()->currentText(), QStringLiteral("Choose a person"));
    ASSERT_EQ(person()->count(), 3);
    EXPECT_EQ(person()->itemText(2), QStringLiteral("<b>Bo</b> Ray")) << "names stay text";
    EXPECT_EQ(signIn()->text(), QStringLiteral("Connect"));
    EXPECT_EQ(signIn()->accessibleName(), QStringLiteral("Connect to LibreLinkUp")) << "spoken as it reads";
    EXPECT_FALSE(signIn()->isEnabled());
    EXPECT_FALSE(h.model->isConfigurationValid());

    ASSERT_TRUE(SettingsWindowHarness::choose(person(), QStringLiteral("<b>Bo</b> Ray")));
    EXPECT_EQ(h.model->selectedPatientID(), "p-2");
    EXPECT_TRUE(signIn()->isEnabled());
    ASSERT_TRUE(SettingsWindowHarness::choose(person(), QStringLiteral("Choose a person")));
    EXPECT_FALSE(signIn()->isEnabled()) << "the placeholder is no choice";
    ASSERT_TRUE(SettingsWindowHarness::choose(person(), QStringLiteral("<b>Bo</b> Ray")));

    const auto listings = h.libre.requestCount(FakeLibreLinkUpServer::kConnectionsPath);
    signIn()->click();
    ASSERT_TRUE(waitUntil([&] { return h.model->isConfigurationValid() && !h.model->isLoading(); }));
    EXPECT_EQ(h.configurationManager->configuration()->account.patientID, "p-2");
    EXPECT_EQ(valueOf(QStringLiteral("Sensor")), QStringLiteral("FreeStyle Libre"));
    EXPECT_EQ(valueOf(QStringLiteral("Email address")), QStringLiteral("ada@example.com"));
    EXPECT_EQ(valueOf(QStringLiteral("Showing readings for")), QStringLiteral("<b>Bo</b> Ray"));
    EXPECT_GE(h.libre.requestCount(FakeLibreLinkUpServer::kConnectionsPath), listings);

    // The reconnect group: enabled only with a password, and Return in its field reconnects.
    auto *reconnect = h.find<QPushButton>(QStringLiteral("reconnectButton"));
    ASSERT_TRUE(reconnect->isVisible());
    QLineEdit *reconnectPassword = h.findByAccessibleName<QLineEdit>(QStringLiteral("LibreLinkUp password"));
    ASSERT_NE(reconnectPassword, nullptr);
    SettingsWindowHarness::typeInto(reconnectPassword, QString());
    EXPECT_FALSE(reconnect->isEnabled());
    SettingsWindowHarness::typeInto(reconnectPassword, QStringLiteral("secret"));
    EXPECT_TRUE(reconnect->isEnabled());
    const auto logins = h.libre.requestCount(FakeLibreLinkUpServer::kLoginPath);
    const QStringList spokenBeforeReconnect = h.announcer.announcements;
    QTest::keyClick(reconnectPassword, Qt::Key_Return);
    EXPECT_EQ(reconnect->text(), QStringLiteral("Reconnecting"));
    ASSERT_TRUE(waitUntil([&] { return !h.model->isLoading(); }));
    EXPECT_EQ(reconnect->text(), QStringLiteral("Reconnect"));
    EXPECT_GT(h.libre.requestCount(FakeLibreLinkUpServer::kLoginPath), logins);
    EXPECT_TRUE(h.model->statusMessage().empty()) << h.model->statusMessage();
    EXPECT_EQ(h.announcer.announcements, spokenBeforeReconnect) << "reconnecting speaks no sign-in";
}

TEST_F(AccountSettingsPaneTest, ReturnOutsideTheQuietHoursFieldKeepsWorking)
{
    // The Alerts pane was shown and a quiet-hours field had focus; back on the Account pane,
    // Return in the sign-in form still signs in.
    h.model->setQuietHoursEnabled(true);
    h.navigation->setSelection(SettingsTab::alerts);
    auto *start = h.find<QuietHoursTimeInputField>(QStringLiteral("quietHoursStartPicker"));
    start->setFocus();
    ASSERT_TRUE(waitUntil([&] { return start->hasFocus(); }));
    h.navigation->setSelection(SettingsTab::account);

    SettingsWindowHarness::typeInto(username(), QStringLiteral("ada"));
    SettingsWindowHarness::typeInto(password(), QStringLiteral("secret"));
    ASSERT_TRUE(SettingsWindowHarness::choose(region(), QStringLiteral("United States")));
    QTest::keyClick(username(), Qt::Key_Return);
    EXPECT_TRUE(h.model->isLoading());
    ASSERT_TRUE(waitUntil([&] { return h.model->isConfigurationValid(); }));
}

} // namespace
} // namespace quillby::test
