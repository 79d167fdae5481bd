// The whole program over fakes from a first launch: an empty keyring and empty settings show the
// onboarding window; nothing polls, alerts or saves history while the user is in it, even once
// the sign-in has stored the account; finishing starts the tray with the newest reading, and the
// next start goes straight to the tray.

#include "AppHarness.h"

#include "menubar/StatusItemControlling.h"
#include "onboarding/TermsAgreementCoordinator.h"
#include "onboarding/TermsAgreementView.h"
#include "onboarding_window/OnboardingCoordinator.h"
#include "onboarding_window/OnboardingView.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "services/FeedbackPromptController.h"
#include "settings/SettingsViewModel.h"

#include "WaitUntil.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace quillby::test {
namespace {

void click(QWidget *window, const char *name)
{
    auto *button = window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isVisible() && button->isEnabled()) << name;
    button->click();
    processQueuedEvents();
}

TEST(OnboardingEndToEnd, FirstLaunchSignsInThroughOnboardingAndEndsInTheTray)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(131, "Flat", now() - 60),
                                FakeDexcomServer::record(127, "Flat", now() - 360)});
    harness.build();
    harness.launch();
    AppDelegate &delegate = harness.app->appDelegate();
    OnboardingCoordinator *onboarding = delegate.onboardingCoordinator();
    QWidget *window = onboarding->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(delegate.termsAgreementCoordinator()->window(), nullptr);
    EXPECT_FALSE(harness.hasStatusItem());
    EXPECT_EQ(harness.app->activationPolicy().policy(), ActivationPolicy::regular);

    // Welcome (Dexcom is the first service), set-up, sign-in.
    click(window, "onboardingContinueButton");
    click(window, "onboardingSetupConfirmedToggle");
    click(window, "onboardingContinueButton");
    auto *username = window->findChild<QLineEdit *>(QStringLiteral("onboardingUsernameField"));
    auto *password = window->findChild<QLineEdit *>(QStringLiteral("onboardingPasswordField"));
    auto *region = window->findChild<QComboBox *>(QStringLiteral("onboardingRegionPicker"));
    ASSERT_TRUE(username && password && region);
    QTest::keyClicks(username, QStringLiteral("ada"));
    QTest::keyClicks(password, QStringLiteral("secret"));
    const int us = region->findData(QStringLiteral("us"));
    region->setCurrentIndex(us);
    emit region->activated(us);
    click(window, "onboardingSignInButton");

    // No terms accepted yet: the sheet first.
    OnboardingView *view = onboarding->view();
    ASSERT_TRUE(waitUntil([&] { return view->termsSheet() != nullptr; }));
    const int stepsBefore = delegate.accountStepsStarted();
    view->termsSheet()->findChild<QAbstractButton *>(QStringLiteral("termsAgreeButton"))->click();
    SettingsViewModel &settings = view->viewModel().settingsViewModel();
    ASSERT_TRUE(waitUntil([&] { return settings.isConfigurationValid(); }, 20000)) << settings.statusMessage();

    // The stored account reran the account step, which polls nothing before onboarding ends.
    ASSERT_TRUE(waitUntil([&] { return delegate.accountStepsStarted() > stepsBefore && !delegate.isAccountTaskRunning(); }));
    EXPECT_EQ(harness.clientsMade, 0);
    EXPECT_EQ(harness.dexcom.requestCount(FakeDexcomServer::kReadingsPath), 0u);
    EXPECT_FALSE(harness.app->pollingCoordinator().isUpdateLoopRunning());
    EXPECT_FALSE(harness.hasStatusItem());
    EXPECT_EQ(harness.alertDelivery->sendAttempts, 0);
    EXPECT_FALSE(harness.app->feedbackPromptController().canPresentPrompt);
    EXPECT_FALSE(harness.app->statusBarViewModel().presentedReading().has_value());

    // Finish: the window goes, the tray shows the newest reading.
    click(window, "onboardingContinueButton");
    EXPECT_EQ(onboarding->window(), nullptr);
    EXPECT_EQ(harness.app->activationPolicy().policy(), ActivationPolicy::accessory);
    ASSERT_TRUE(waitUntil([&] { return harness.app->statusBarViewModel().statusTitle() == QStringLiteral("131 →"); },
                          20000))
        << harness.app->statusBarViewModel().statusTitle().toStdString();
    EXPECT_TRUE(harness.hasStatusItem());
    EXPECT_TRUE(harness.defaults->value(ConfigurationManager::kOnboardingCompletedKey).toBool());
    ASSERT_TRUE(waitUntil([&] { return !delegate.isAccountTaskRunning(); }, 20000));

    // The next start goes straight to the tray.
    harness.app.reset();
    harness.build();
    harness.launch();
    EXPECT_EQ(harness.app->appDelegate().onboardingCoordinator()->window(), nullptr);
    EXPECT_EQ(harness.app->appDelegate().termsAgreementCoordinator()->window(), nullptr);
    EXPECT_TRUE(harness.hasStatusItem());
    ASSERT_TRUE(waitUntil([&] { return harness.app->statusBarViewModel().statusTitle() == QStringLiteral("131 →"); },
                          20000));
    ASSERT_TRUE(waitUntil([&] { return !harness.app->appDelegate().isAccountTaskRunning(); }, 20000));
}

} // namespace
} // namespace quillby::test
