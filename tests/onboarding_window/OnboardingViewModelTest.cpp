// The onboarding model: its steps, the terms gate in front of signing in and of finishing, and
// the completion that records onboarding as done.

#include "OnboardingTestSupport.h"

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

struct ModelFixture : OnboardingHarness {
    std::unique_ptr<OnboardingViewModel> model;

    explicit ModelFixture(bool termsAccepted)
    {
        if (termsAccepted) {
            acceptTerms();
        }
        buildServices();
        runTask(configurationManager->loadConfiguration());
        model = std::make_unique<OnboardingViewModel>(*configurationManager, makeSettingsViewModel(),
                                                      [this] { ++completions; });
        processQueuedEvents();
    }
    ~ModelFixture()
    {
        if (model) {
            waitUntil([&] { return !model->settingsViewModel().isLoading(); });
        }
        model.reset();
    }

    SettingsViewModel &account() { return model->settingsViewModel(); }
    void typeCredentials()
    {
        account().setUsername("ada");
        account().setPassword("secret");
        account().setRegion("us");
    }
    bool signInCompleted()
    {
        return waitUntil([&] { return account().isConfigurationValid() || !account().statusMessage().empty(); }) &&
               account().isConfigurationValid();
    }
};

TEST(OnboardingViewModel, StepsMoveForwardAndBackAndStopAtTheEnds)
{
    ModelFixture f(true);
    struct Move {
        bool forward;
        OnboardingStep expected;
    };
    const Move moves[] = {{false, OnboardingStep::welcome},  {true, OnboardingStep::setupInfo},
                          {true, OnboardingStep::signIn},    {true, OnboardingStep::signIn},
                          {false, OnboardingStep::setupInfo}, {false, OnboardingStep::welcome},
                          {false, OnboardingStep::welcome}};
    EXPECT_EQ(f.model->currentStep(), OnboardingStep::welcome);
    for (std::size_t i = 0; i < std::size(moves); ++i) {
        SCOPED_TRACE(i);
        moves[i].forward ? f.model->goForward() : f.model->goBack();
        EXPECT_EQ(f.model->currentStep(), moves[i].expected);
    }
    // Going forward does not look at the confirmation (the button does).
    EXPECT_FALSE(f.model->hasConfirmedSetup());
}

// Sign-in that the settings model refuses (nothing typed, no password, its own terms sheet
// showing, already signed in) neither signs in nor shows the terms sheet.
TEST(OnboardingViewModel, SignInThatCannotStartDoesNothing)
{
    ModelFixture f(false);
    const std::function<void(SettingsViewModel &)> cases[] = {
        [](SettingsViewModel &) {},
        [](SettingsViewModel &m) { m.setUsername("ada"); },
        [](SettingsViewModel &m) {
            m.setUsername("ada");
            m.setPassword("secret");
            m.setIsShowingTerms(true);
        },
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        cases[i](f.account());
        f.model->signIn();
        EXPECT_FALSE(f.model->isShowingTerms());
        EXPECT_FALSE(f.model->hasActionAfterTermsAcceptance());
        EXPECT_FALSE(f.account().isLoading());
    }
    EXPECT_TRUE(f.dexcom.requests().empty());
    // Finishing without a signed-in account does nothing either, not even the terms sheet.
    f.model->complete();
    EXPECT_FALSE(f.model->isShowingTerms());
    EXPECT_EQ(f.completions, 0);
}

// The terms gate: a sign-in held back by the sheet and cancelled is dropped for good; a finish
// held back and agreed to runs once, and only it.
TEST(OnboardingViewModel, TermsGateRunsOnlyTheStepAgreedTo)
{
    ModelFixture f(false);
    f.typeCredentials();
    f.model->signIn();
    EXPECT_TRUE(f.model->isShowingTerms());
    EXPECT_FALSE(f.account().isLoading());
    f.model->cancelTerms();
    EXPECT_FALSE(f.model->isShowingTerms());
    EXPECT_FALSE(f.model->hasActionAfterTermsAcceptance());
    EXPECT_FALSE(f.configurationManager->hasAcceptedCurrentTerms());

    // An account stored meanwhile (from the Settings window): finishing waits behind the sheet.
    runTask(f.configurationManager->updateConfiguration([](const std::optional<AppConfiguration> &current) {
        GlucoseAccountConfiguration account;
        account.provider = GlucoseProvider::dexcom;
        account.username = "ada";
        account.password = "secret";
        account.region = "us";
        return ConfigurationManager::configurationWithAccount(current, account, "mg/dL");
    }));
    ASSERT_TRUE(waitUntil([&] { return f.account().isConfigurationValid(); }));
    f.model->complete();
    EXPECT_TRUE(f.model->isShowingTerms());
    EXPECT_EQ(f.completions, 0);
    f.model->acceptTerms();
    EXPECT_EQ(f.completions, 1);
    EXPECT_TRUE(f.model->isCompleted());
    processQueuedEvents();
    EXPECT_TRUE(f.dexcom.requests().empty()) << "the cancelled sign-in ran";
}

TEST(OnboardingViewModel, AgreeingToTheSheetSignsInAndRecordsTheTermsVersion)
{
    ModelFixture f(false);
    f.typeCredentials();
    f.model->signIn();
    ASSERT_TRUE(f.model->isShowingTerms());
    f.model->acceptTerms();
    EXPECT_FALSE(f.model->isShowingTerms());
    EXPECT_TRUE(f.configurationManager->hasAcceptedCurrentTerms());
    EXPECT_EQ(f.defaults->value(ConfigurationManager::kAcceptedTermsVersionKey).toString(),
              QStringLiteral("2026-10-07"));
    EXPECT_TRUE(f.defaults->contains(ConfigurationManager::kTermsAcceptedAtKey));
    ASSERT_TRUE(f.signInCompleted()) << f.account().statusMessage();
    ASSERT_TRUE(f.stored());
    EXPECT_EQ(f.stored()->account.username, "ada");

    // Terms accepted now: finishing runs at once and exactly once.
    f.model->complete();
    f.model->complete();
    EXPECT_EQ(f.completions, 1);
    EXPECT_TRUE(f.model->isCompleted());
    EXPECT_TRUE(f.configurationManager->hasCompletedOnboarding());
    EXPECT_TRUE(f.defaults->value(ConfigurationManager::kOnboardingCompletedKey).toBool());
}

} // namespace
} // namespace quillby::test
