#pragma once

#include "onboarding/TermsAgreementView.h"
#include "onboarding_window/OnboardingSteps.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace quillby {

class AmbientBackgroundView;
class OnboardingViewModel;

// The content of the onboarding window (800 x 600): the ambient panel on the left and the
// current step on the right, and the terms sheet while the model asks for it. It owns the
// onboarding model. A step is replaced on a later turn of the event loop than the click that
// moved on, so no button is deleted inside its own click.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;
    static constexpr int kPanelWidth = 400;

    OnboardingView(std::unique_ptr<OnboardingViewModel> viewModel, OnboardingViewServices services,
                   QWidget *parent = nullptr);
    ~OnboardingView() override;

    OnboardingViewModel &viewModel() const { return *viewModel_; }
    AmbientBackgroundView *ambientBackground() const { return background_; }
    // The step shown (WelcomeStepView, SetupInfoStepView or SignInStepView).
    QWidget *stepView() const { return step_; }
    TermsAgreementSheet *termsSheet() const { return termsSheet_; }

    // Escape: one step back, unless on the first step or while a sign-in runs.
    void goBackFromKeyboard();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showStep();
    void refreshTermsSheet();

    std::unique_ptr<OnboardingViewModel> viewModel_;
    OnboardingViewServices services_;
    AmbientBackgroundView *background_;
    QWidget *panel_;
    QPointer<QWidget> step_;
    QPointer<TermsAgreementSheet> termsSheet_;
};

} // namespace quillby
