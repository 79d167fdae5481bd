#include "onboarding_window/OnboardingViewModel.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "settings/SettingsViewModel.h"

namespace quillby {

OnboardingViewModel::OnboardingViewModel(ConfigurationManager &configurationManager,
                                         std::unique_ptr<SettingsViewModel> settingsViewModel,
                                         std::function<void()> onComplete, QObject *parent)
    : QObject(parent)
    , configurationManager_(configurationManager)
    , settingsViewModel_(std::move(settingsViewModel))
    , onComplete_(std::move(onComplete))
{
    runDetached(loadConfiguration(QPointer<OnboardingViewModel>(this)));
}

OnboardingViewModel::~OnboardingViewModel() = default;

QCoro::Task<void> OnboardingViewModel::loadConfiguration(QPointer<OnboardingViewModel> self)
{
    if (self) {
        // The settings model's load checks after its own wait that the model still exists.
        co_await self->settingsViewModel_->loadConfiguration();
    }
}

bool OnboardingViewModel::termsHaveChanged() const
{
    const auto &accepted = configurationManager_.acceptedTermsVersion();
    return accepted.has_value() && !configurationManager_.hasAcceptedCurrentTerms();
}

void OnboardingViewModel::setCurrentStep(OnboardingStep step)
{
    if (currentStep_ != step) {
        currentStep_ = step;
        emit currentStepChanged();
    }
}

void OnboardingViewModel::setHasConfirmedSetup(bool confirmed)
{
    if (hasConfirmedSetup_ != confirmed) {
        hasConfirmedSetup_ = confirmed;
        emit hasConfirmedSetupChanged();
    }
}

void OnboardingViewModel::setIsShowingTerms(bool showing)
{
    if (isShowingTerms_ != showing) {
        isShowingTerms_ = showing;
        emit isShowingTermsChanged();
    }
}

void OnboardingViewModel::goForward()
{
    switch (currentStep_) {
    case OnboardingStep::welcome:
        setCurrentStep(OnboardingStep::setupInfo);
        break;
    case OnboardingStep::setupInfo:
        setCurrentStep(OnboardingStep::signIn);
        break;
    case OnboardingStep::signIn:
        break;
    }
}

void OnboardingViewModel::goBack()
{
    switch (currentStep_) {
    case OnboardingStep::welcome:
        break;
    case OnboardingStep::setupInfo:
        setCurrentStep(OnboardingStep::welcome);
        break;
    case OnboardingStep::signIn:
        setCurrentStep(OnboardingStep::setupInfo);
        break;
    }
}

void OnboardingViewModel::holdBehindTerms(std::function<void()> action)
{
    actionAfterTermsAcceptance_ = std::move(action);   // an earlier held-back step is dropped
    setIsShowingTerms(true);
}

void OnboardingViewModel::signIn()
{
    if (!settingsViewModel_->canSignIn()) {
        return;
    }
    if (configurationManager_.hasAcceptedCurrentTerms()) {
        settingsViewModel_->signIn();
        return;
    }
    QPointer<OnboardingViewModel> self(this);
    holdBehindTerms([self] {
        if (self) {
            self->settingsViewModel_->signIn();
        }
    });
}

void OnboardingViewModel::complete()
{
    if (!settingsViewModel_->isConfigurationValid()) {
        return;
    }
    if (configurationManager_.hasAcceptedCurrentTerms()) {
        finish();
        return;
    }
    QPointer<OnboardingViewModel> self(this);
    holdBehindTerms([self] {
        if (self) {
            self->finish();
        }
    });
}

void OnboardingViewModel::finish()
{
    if (isCompleted_) {
        return;   // one completion, however often Continue is pressed
    }
    configurationManager_.setHasCompletedOnboarding(true);
    QSettings &defaults = configurationManager_.defaults();
    defaults.setValue(ConfigurationManager::kOnboardingCompletedKey, true);
    configurationManager_.settingsWrites().flush();   // a failure is reported to the person
    isCompleted_ = true;
    emit isCompletedChanged();
    if (onComplete_) {
        onComplete_();
    }
}

void OnboardingViewModel::acceptTerms()
{
    configurationManager_.acceptCurrentTerms();
    setIsShowingTerms(false);
    auto action = std::exchange(actionAfterTermsAcceptance_, nullptr);
    if (action) {
        action();
    }
}

void OnboardingViewModel::cancelTerms()
{
    setIsShowingTerms(false);
    actionAfterTermsAcceptance_ = nullptr;
}

} // namespace quillby
