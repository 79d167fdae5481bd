#pragma once

#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include <array>
#include <functional>
#include <memory>

namespace quillby {

class ConfigurationManager;
class SettingsViewModel;

// The steps of onboarding, in order.
enum class OnboardingStep {
    welcome = 0,
    setupInfo = 1,
    signIn = 2,
};

inline constexpr std::array<OnboardingStep, 3> kOnboardingSteps = {OnboardingStep::welcome, OnboardingStep::setupInfo,
                                                                   OnboardingStep::signIn};

// The state of the onboarding window: the step shown, the confirmation that the provider's
// sharing set-up was done, the terms-of-use gate in front of signing in and of finishing, and
// the completion, which records onboarding as done and hands over to `onComplete`. The account
// itself lives in the window's own settings model. Main thread only.
class OnboardingViewModel : public QObject {
    Q_OBJECT
public:
    // Starts loading the stored configuration into `settingsViewModel`.
    OnboardingViewModel(ConfigurationManager &configurationManager,
                        std::unique_ptr<SettingsViewModel> settingsViewModel, std::function<void()> onComplete,
                        QObject *parent = nullptr);
    ~OnboardingViewModel() override;

    OnboardingStep currentStep() const { return currentStep_; }
    bool isCompleted() const { return isCompleted_; }
    bool hasConfirmedSetup() const { return hasConfirmedSetup_; }
    void setHasConfirmedSetup(bool confirmed);
    bool isShowingTerms() const { return isShowingTerms_; }
    // Whether a sign-in or the finish waits behind the terms sheet.
    bool hasActionAfterTermsAcceptance() const { return static_cast<bool>(actionAfterTermsAcceptance_); }

    SettingsViewModel &settingsViewModel() const { return *settingsViewModel_; }
    ConfigurationManager &configurationManager() const { return configurationManager_; }
    // An accepted terms version is stored and it is not the current one.
    bool termsHaveChanged() const;

    // welcome → setupInfo → signIn; nothing at signIn (the Continue button is disabled on the
    // set-up step until it is confirmed).
    void goForward();
    // signIn → setupInfo → welcome; nothing at welcome.
    void goBack();
    // Signs in through the settings model when it can; behind the terms sheet while the
    // current terms are not accepted.
    void signIn();
    // Finishes once an account is signed in; behind the terms sheet while the current terms
    // are not accepted.
    void complete();
    // The sheet's Agree: records the acceptance, hides the sheet and runs the held-back step.
    void acceptTerms();
    // The sheet's Cancel: hides the sheet and drops the held-back step.
    void cancelTerms();

signals:
    void currentStepChanged();
    void isCompletedChanged();
    void hasConfirmedSetupChanged();
    void isShowingTermsChanged();

private:
    void setCurrentStep(OnboardingStep step);
    void setIsShowingTerms(bool showing);
    void holdBehindTerms(std::function<void()> action);
    void finish();
    static QCoro::Task<void> loadConfiguration(QPointer<OnboardingViewModel> self);

    ConfigurationManager &configurationManager_;
    std::unique_ptr<SettingsViewModel> settingsViewModel_;
    std::function<void()> onComplete_;
    OnboardingStep currentStep_ = OnboardingStep::welcome;
    bool isCompleted_ = false;
    bool hasConfirmedSetup_ = false;
    bool isShowingTerms_ = false;
    std::function<void()> actionAfterTermsAcceptance_;
};

} // namespace quillby
