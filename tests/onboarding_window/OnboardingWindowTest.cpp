// The onboarding window as a user meets it: its steps and their texts for each service, the
// sign-in step against the fake Dexcom Share and LibreLinkUp services (with the person choice),
// the terms sheet in front of signing in and finishing, the keyboard, and the finish.

#include "OnboardingTestSupport.h"

#include "onboarding/TermsAgreementView.h"
#include "onboarding_window/OnboardingNavigationBar.h"
#include "onboarding_window/OnboardingSteps.h"
#include "onboarding_window/SignInStepView.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QComboBox>
#include <QLabel>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

struct ProviderCase {
    const char *name;
    GlucoseProvider provider;
    const char *setupHeading;
    const char *firstStep;
    const char *signInHeading;
    const char *usernamePlaceholder;
    const char *usernameLabel;
    const char *summaryApp;
};

class OnboardingSteps : public ::testing::TestWithParam<ProviderCase> {};

// Every step of the way for one service: the welcome step's picker, the set-up step's texts
// and its confirmation, the sign-in step's fields and labels, and the step indicator.
TEST_P(OnboardingSteps, ShowTheChosenServicesTextsAndHoldContinueUntilConfirmed)
{
    const ProviderCase &c = GetParam();
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    EXPECT_EQ(h.policy.policy(), ActivationPolicy::regular);
    EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Onboarding"));
    EXPECT_EQ(h.window()->size(), QSize(800, 600));
    EXPECT_TRUE(h.showsText(QStringLiteral("Quillby")));
    EXPECT_NE(h.findByAccessibleName(QStringLiteral("Step 1 of 3")), nullptr);
    auto *back = h.window()->findChild<OnboardingNavigationBar *>()->backButton();
    EXPECT_FALSE(back->isVisible());

    auto *picker = h.find<QComboBox>(QStringLiteral("glucoseProviderPicker"));
    ASSERT_NE(picker, nullptr);
    const int row = picker->findData(static_cast<int>(c.provider));
    picker->setCurrentIndex(row);
    emit picker->activated(row);
    EXPECT_EQ(h.settings().provider(), c.provider);

    h.clickContinue();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::setupInfo);
    EXPECT_TRUE(h.showsText(QString::fromUtf8(c.setupHeading)));
    EXPECT_NE(h.findByAccessibleName(QStringLiteral("Step 1. ") + QString::fromUtf8(c.firstStep)), nullptr);
    EXPECT_NE(h.findByAccessibleName(QStringLiteral("Step 2 of 3")), nullptr);
    EXPECT_EQ(h.findByAccessibleName(QStringLiteral("LibreLinkUp setup guide")) != nullptr,
              c.provider == GlucoseProvider::libreLinkUp);
    auto *next = h.find<QPushButton>(QStringLiteral("onboardingContinueButton"));
    EXPECT_FALSE(next->isEnabled());
    h.find<QCheckBox>(QStringLiteral("onboardingSetupConfirmedToggle"))->click();
    EXPECT_TRUE(next->isEnabled());

    h.clickContinue();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::signIn);
    EXPECT_TRUE(h.showsText(QString::fromUtf8(c.signInHeading)));
    auto *username = h.find<QLineEdit>(QStringLiteral("onboardingUsernameField"));
    auto *password = h.find<QLineEdit>(QStringLiteral("onboardingPasswordField"));
    ASSERT_TRUE(username && password);
    EXPECT_EQ(username->placeholderText(), QString::fromUtf8(c.usernamePlaceholder));
    EXPECT_EQ(username->accessibleName(), QString::fromUtf8(c.usernameLabel));
    EXPECT_EQ(password->accessibleName(), SignInStepView::providerName(c.provider) + QStringLiteral(" password"));
    EXPECT_NE(h.find(QStringLiteral("onboardingRegionPicker")), nullptr);
    EXPECT_NE(h.findByAccessibleName(QStringLiteral("Step 3 of 3")), nullptr);
    EXPECT_TRUE(SignInStepView::summaryParagraphs(c.provider)[2].contains(QString::fromUtf8(c.summaryApp)));
    EXPECT_TRUE(waitUntil([&] { return username->hasFocus(); })) << "focus starts in the user-name field";
}

INSTANTIATE_TEST_SUITE_P(
    OnboardingWindow, OnboardingSteps,
    ::testing::Values(ProviderCase{"dexcom", GlucoseProvider::dexcom, "Set up Share", "Open the Dexcom app.",
                                   "Sign in to Dexcom", "Username", "Dexcom username", "Dexcom app"},
                      ProviderCase{"libreLinkUp", GlucoseProvider::libreLinkUp, "Set up LibreLinkUp",
                                   "Open the Libre app on your phone and enable LibreLinkUp sharing.",
                                   "Sign in to LibreLinkUp", "Email address", "LibreLinkUp email address",
                                   "Libre app"}),
    [](const auto &info) { return std::string(info.param.name); });

// Going back and choosing the other service shows that service's set-up with the confirmation
// cleared; Escape goes back except on the first step and while a sign-in runs.
TEST(OnboardingWindow, ChoosingAnotherServiceAsksForTheSetUpAgain)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    h.goToSignIn();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::signIn);
    EXPECT_TRUE(h.model().hasConfirmedSetup());

    // While a sign-in runs nothing goes back and the credentials cannot change.
    h.settings().setIsLoading(true);
    QTest::keyClick(h.window(), Qt::Key_Escape);
    processQueuedEvents();
    EXPECT_EQ(h.model().currentStep(), OnboardingStep::signIn);
    EXPECT_FALSE(h.window()->findChild<OnboardingNavigationBar *>()->backButton()->isEnabled());
    EXPECT_FALSE(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField"))->isEnabled());
    EXPECT_FALSE(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField"))->isEnabled());
    h.settings().setIsLoading(false);

    QTest::keyClick(h.window(), Qt::Key_Escape);
    processQueuedEvents();
    EXPECT_EQ(h.model().currentStep(), OnboardingStep::setupInfo);
    QTest::keyClick(h.window(), Qt::Key_Escape);
    processQueuedEvents();
    EXPECT_EQ(h.model().currentStep(), OnboardingStep::welcome);
    QTest::keyClick(h.window(), Qt::Key_Escape);
    processQueuedEvents();
    EXPECT_EQ(h.model().currentStep(), OnboardingStep::welcome);
    EXPECT_TRUE(h.window()->isVisible());

    auto *picker = h.find<QComboBox>(QStringLiteral("glucoseProviderPicker"));
    const int libre = picker->findData(static_cast<int>(GlucoseProvider::libreLinkUp));
    picker->setCurrentIndex(libre);
    emit picker->activated(libre);
    EXPECT_FALSE(h.model().hasConfirmedSetup());
    h.clickContinue();
    EXPECT_TRUE(h.showsText(QStringLiteral("Set up LibreLinkUp")));
    EXPECT_FALSE(h.find<QCheckBox>(QStringLiteral("onboardingSetupConfirmedToggle"))->isChecked());
    EXPECT_FALSE(h.find<QPushButton>(QStringLiteral("onboardingContinueButton"))->isEnabled());
}

// By keyboard alone: the welcome step starts on Continue, so Return goes on (instead of opening
// the sensor list); each next step starts with the focus in it; the step headings are headings
// and the numbered rows are read as one text each.
TEST(OnboardingWindow, KeyboardFocusStartsInEachStep)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.window()));
    auto *next = h.find<QPushButton>(QStringLiteral("onboardingContinueButton"));
    EXPECT_EQ(QApplication::focusWidget(), next);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    processQueuedEvents();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::setupInfo);
    auto *confirmation = h.find<QCheckBox>(QStringLiteral("onboardingSetupConfirmedToggle"));
    EXPECT_EQ(QApplication::focusWidget(), confirmation);

    QTest::keyClick(confirmation, Qt::Key_Space);
    EXPECT_TRUE(h.model().hasConfirmedSetup());
    QTest::keyClick(confirmation, Qt::Key_Return);
    processQueuedEvents();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::signIn);
    ASSERT_TRUE(waitUntil([&] {
        return QApplication::focusWidget() == h.find<QLineEdit>(QStringLiteral("onboardingUsernameField"));
    }));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    processQueuedEvents();
    ASSERT_EQ(h.model().currentStep(), OnboardingStep::setupInfo);
    EXPECT_NE(QApplication::focusWidget(), nullptr);
    for (StepRow *row : h.window()->findChildren<StepRow *>()) {
        QAccessibleInterface *element = QAccessible::queryAccessibleInterface(row);
        EXPECT_EQ(element->childCount(), 0);
        EXPECT_TRUE(element->text(QAccessible::Name).startsWith(QStringLiteral("Step ")));
    }
    for (QLabel *label : h.window()->findChildren<QLabel *>()) {
        if (label->isVisible() && label->text() == QStringLiteral("Set up Share")) {
            EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->role(), QAccessible::Heading);
        }
    }
}

// Signing in to the fake Dexcom service from the sign-in step: Return with empty fields does
// nothing; the sign-in shows the summary and is announced; Continue finishes. The window is
// hidden at once but deleted only once the click is over, and onComplete runs after it.
TEST(OnboardingWindow, SignsInToDexcomAndFinishes)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    h.goToSignIn();
    auto *username = h.find<QLineEdit>(QStringLiteral("onboardingUsernameField"));
    auto *password = h.find<QLineEdit>(QStringLiteral("onboardingPasswordField"));
    auto *signIn = h.find<QPushButton>(QStringLiteral("onboardingSignInButton"));
    ASSERT_TRUE(username && password && signIn);
    EXPECT_FALSE(signIn->isEnabled());
    QTest::keyClick(password, Qt::Key_Return);
    processQueuedEvents();
    EXPECT_TRUE(h.dexcom.requests().empty());
    EXPECT_TRUE(h.settings().statusMessage().empty());

    QTest::keyClicks(username, QStringLiteral("ada"));
    QTest::keyClicks(password, QStringLiteral("secret"));
    auto *region = h.find<QComboBox>(QStringLiteral("onboardingRegionPicker"));
    const int us = region->findData(QStringLiteral("us"));
    region->setCurrentIndex(us);
    emit region->activated(us);
    ASSERT_TRUE(signIn->isEnabled());
    QTest::keyClick(password, Qt::Key_Return);   // the window's default button: sign in
    ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
    auto *step = qobject_cast<SignInStepView *>(h.view().stepView());
    ASSERT_NE(step, nullptr);
    EXPECT_FALSE(step->form()->isVisible());
    EXPECT_TRUE(step->summary()->isVisible());
    EXPECT_TRUE(h.showsText(QStringLiteral("Setup complete")));
    EXPECT_TRUE(h.showsText(QStringLiteral("You\u2019re signed in to Dexcom, and Quillby is ready to connect to your "
                                           "data.")));
    EXPECT_TRUE(h.announcer.announcements.contains(QStringLiteral("Signed in to Dexcom. Continue to finish setup.")));
    EXPECT_TRUE(h.showsText(QStringLiteral("Your readings will appear in the panel once you continue.")));
    // No text names a place only a Mac has.
    for (const QLabel *label : h.window()->findChildren<QLabel *>()) {
        for (const char *word : {"menu bar", "status bar", "Keychain", "System Settings"}) {
            EXPECT_FALSE(label->text().contains(QLatin1String(word), Qt::CaseInsensitive)) << label->text().toStdString();
        }
        EXPECT_FALSE(label->text().contains(QRegularExpression(QStringLiteral("\\bMac\\b")))) << label->text().toStdString();
    }
    ASSERT_TRUE(h.stored());
    EXPECT_EQ(h.stored()->account.username, "ada");
    EXPECT_EQ(h.stored()->account.region, "us");

    auto *finish = h.find<QPushButton>(QStringLiteral("onboardingContinueButton"));
    ASSERT_TRUE(finish && finish->isVisible() && finish->isEnabled());
    QPointer<QWidget> window(h.window());
    finish->click();
    // Still there right after the click (deleting it inside its own click would crash).
    EXPECT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(h.completions, 0) << "onComplete ran inside the click";
    EXPECT_EQ(h.coordinator->window(), nullptr);
    EXPECT_EQ(h.policy.policy(), ActivationPolicy::accessory);
    EXPECT_TRUE(h.defaults->value(ConfigurationManager::kOnboardingCompletedKey).toBool());
    ASSERT_TRUE(waitUntil([&] { return h.completions == 1 && window.isNull(); }));
}

// LibreLinkUp with two people shared: the sign-in lists them, the person is chosen, and the
// account is stored with that person.
TEST(OnboardingWindow, SignsInToLibreLinkUpWithThePersonChosen)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", std::string("Ada"), std::string("L")),
                            FakeLibreLinkUpServer::connection("p-2", std::string("Bo"), std::string("K"))});
    h.show();
    h.settings().setProvider(GlucoseProvider::libreLinkUp);
    h.goToSignIn();
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada@example.com"));
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
    auto *signIn = h.find<QPushButton>(QStringLiteral("onboardingSignInButton"));
    signIn->click();
    ASSERT_TRUE(waitUntil([&] { return h.settings().libreConnections().size() == 2; })) << h.settings().statusMessage();
    ASSERT_TRUE(waitUntil([&] { return !h.settings().isLoading(); }));
    auto *person = h.find<QComboBox>(QStringLiteral("libreConnectionPicker"));
    ASSERT_TRUE(person && person->isVisible());
    EXPECT_EQ(signIn->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(signIn->isEnabled()) << "no person chosen yet";
    const int bo = person->findData(QStringLiteral("p-2"));
    person->setCurrentIndex(bo);
    emit person->activated(bo);
    ASSERT_TRUE(signIn->isEnabled());
    signIn->click();
    ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
    ASSERT_TRUE(h.stored());
    EXPECT_EQ(h.stored()->account.patientID, std::optional<std::string>("p-2"));
    EXPECT_TRUE(h.announcer.announcements.contains(
        QStringLiteral("Signed in to LibreLinkUp. Continue to finish setup.")));
}

// A refused password shows the service's message in the error row as plain text and speaks it
// once; the form keeps what was typed.
TEST(OnboardingWindow, ShowsTheStatusMessageAsPlainTextAndSpeaksIt)
{
    OnboardingHarness h;
    h.acceptTerms();
    h.show();
    h.goToSignIn();
    auto *step = qobject_cast<SignInStepView *>(h.view().stepView());
    ASSERT_NE(step, nullptr);
    EXPECT_FALSE(step->errorRow()->isVisible());
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada"));
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("wrong"));
    h.find<QPushButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return !h.settings().statusMessage().empty() && !h.settings().isLoading(); }));
    EXPECT_TRUE(step->errorRow()->isVisible());
    const QString message = QString::fromStdString(h.settings().statusMessage());
    EXPECT_TRUE(message.startsWith(QStringLiteral("Sign in failed: "))) << message.toStdString();
    EXPECT_EQ(h.announcer.announcements.count(message), 1);
    EXPECT_EQ(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField"))->text(), QStringLiteral("ada"));

    // Markup in a message is shown as the characters it is.
    const std::string markup = "<b>Locked</b> <a href=\"x\">account</a>";
    h.settings().setStatusCategory(StatusMessageCategory::signInError(markup));
    EXPECT_EQ(step->errorText()->textFormat(), Qt::PlainText);
    EXPECT_EQ(step->errorText()->text(), QString::fromStdString(h.settings().statusMessage()));
    h.settings().setStatusCategory(StatusMessageCategory::none());
    EXPECT_FALSE(step->errorRow()->isVisible());
}

// With the terms not accepted, signing in and finishing each wait behind the terms sheet:
// Cancel keeps the user where they were; Agree records the version and goes on.
TEST(OnboardingWindow, TermsSheetComesBeforeSigningIn)
{
    OnboardingHarness h;
    h.acceptTerms(QStringLiteral("2025-01-01"));
    h.show();
    h.goToSignIn();
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingUsernameField")), QStringLiteral("ada"));
    QTest::keyClicks(h.find<QLineEdit>(QStringLiteral("onboardingPasswordField")), QStringLiteral("secret"));
    h.settings().setRegion("us");
    h.find<QPushButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return h.view().termsSheet() && h.view().termsSheet()->isVisible(); }));
    TermsAgreementSheet *sheet = h.view().termsSheet();
    EXPECT_TRUE(sheet->termsHaveChanged());
    sheet->findChild<QPushButton *>(QStringLiteral("termsCancelButton"))->click();
    processQueuedEvents();
    EXPECT_EQ(h.view().termsSheet(), nullptr);
    EXPECT_EQ(h.model().currentStep(), OnboardingStep::signIn);
    EXPECT_TRUE(h.dexcom.requests().empty());

    h.find<QPushButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return h.view().termsSheet() != nullptr; }));
    h.view().termsSheet()->findChild<QPushButton *>(QStringLiteral("termsAgreeButton"))->click();
    EXPECT_EQ(h.defaults->value(ConfigurationManager::kAcceptedTermsVersionKey).toString(), QStringLiteral("2026-10-07"));
    ASSERT_TRUE(waitUntil([&] { return h.settings().isConfigurationValid(); })) << h.settings().statusMessage();
    EXPECT_EQ(h.view().termsSheet(), nullptr);
}

// The terms sheet stays above the window that opened it, also where the compositor places the
// windows (Wayland: no key events here, which the headless compositor's seatless session lacks).
TEST(OnboardingWindow, TermsSheetIsTransientForTheWindowThatOpenedIt)
{
    OnboardingHarness h;
    h.acceptTerms(QStringLiteral("2025-01-01"));
    h.show();
    h.goToSignIn();
    for (const auto &[name, text] : {std::pair{"onboardingUsernameField", "ada"}, std::pair{"onboardingPasswordField", "secret"}}) {
        auto *field = h.find<QLineEdit>(QString::fromLatin1(name));
        field->setText(QString::fromLatin1(text));
        emit field->textEdited(field->text());   // as typed
    }
    h.settings().setRegion("us");
    h.find<QPushButton>(QStringLiteral("onboardingSignInButton"))->click();
    ASSERT_TRUE(waitUntil([&] { return h.view().termsSheet() && h.view().termsSheet()->isVisible(); }));
    TermsAgreementSheet *sheet = h.view().termsSheet();
    ASSERT_NE(sheet->windowHandle(), nullptr);
    EXPECT_EQ(sheet->windowHandle()->transientParent(), h.window()->windowHandle());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
}

// A second show() while the window is open brings the same window forward; closing it with the
// close button completes nothing and asks the program to end; show() brings the same window back.
TEST(OnboardingWindow, ShowReusesTheWindowAndClosingCompletesNothing)
{
    OnboardingHarness h;
    h.show();
    QWidget *window = h.window();
    const int changes = h.policy.changes();
    h.coordinator->show();
    EXPECT_EQ(h.window(), window);
    EXPECT_EQ(h.policy.changes(), changes);
    EXPECT_EQ(h.quitRequests, 0);
    window->close();
    processQueuedEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(h.quitRequests, 1);
    EXPECT_EQ(h.completions, 0);
    EXPECT_FALSE(h.defaults->contains(ConfigurationManager::kOnboardingCompletedKey));
    h.coordinator->show();
    EXPECT_EQ(h.window(), window);
    EXPECT_TRUE(window->isVisible());
}

} // namespace
} // namespace quillby::test
