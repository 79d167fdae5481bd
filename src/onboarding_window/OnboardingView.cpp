#include "onboarding_window/OnboardingView.h"

#include "widgets/AccessibilityMarks.h"
#include "widgets/AmbientBackgroundView.h"
#include "widgets/OnboardingStyle.h"
#include "onboarding/TermsAgreementView.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "onboarding_window/SignInStepView.h"
#include "settings/SettingsViewModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillby {

OnboardingView::OnboardingView(std::unique_ptr<OnboardingViewModel> viewModel, OnboardingViewServices services,
                               QWidget *parent)
    : QWidget(parent), viewModel_(std::move(viewModel)), services_(std::move(services))
{
    setObjectName(QStringLiteral("onboardingView"));
    installAccessibilityInterfaces();
    panel_ = makeAmbientSplit(this, QSize(kWidth, kHeight), kPanelWidth, background_);
    auto *panelLayout = new QVBoxLayout(panel_);
    panelLayout->setContentsMargins(36, 28, 36, 24);
    showStep();

    OnboardingViewModel *model = viewModel_.get();
    connect(model, &OnboardingViewModel::currentStepChanged, this, &OnboardingView::showStep);
    connect(model, &OnboardingViewModel::isShowingTermsChanged, this, &OnboardingView::refreshTermsSheet);
    // A stored account applied after the first load may name another service: the set-up and
    // sign-in steps follow it.
    connect(&model->settingsViewModel(), &SettingsViewModel::providerChanged, this, [this] {
        if (viewModel_->currentStep() != OnboardingStep::welcome) {
            showStep();
        }
    });
}

OnboardingView::~OnboardingView()
{
    // The views go before the models they watch.
    delete termsSheet_.data();
    const auto children = findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    qDeleteAll(children);
}

void OnboardingView::showStep()
{
    if (step_) {
        // Often inside a click of a button of that step: deleted once the click is over.
        step_->hide();
        step_->deleteLater();
    }
    QWidget *step = nullptr;
    switch (viewModel_->currentStep()) {
    case OnboardingStep::welcome:
        step = new WelcomeStepView(*viewModel_, services_, panel_);
        break;
    case OnboardingStep::setupInfo:
        step = new SetupInfoStepView(*viewModel_, services_, panel_);
        break;
    case OnboardingStep::signIn:
        step = new SignInStepView(*viewModel_, services_, panel_);
        break;
    }
    panel_->layout()->addWidget(step);
    step_ = step;
    step->show();

    // Each step starts with the keyboard focus in it: on Continue on the welcome step (so Return
    // goes on instead of opening the sensor list), on the confirmation on the set-up step; the
    // sign-in step puts it in its user-name field itself.
    QWidget *first = nullptr;
    switch (viewModel_->currentStep()) {
    case OnboardingStep::welcome:
        first = step->findChild<QPushButton *>(QStringLiteral("onboardingContinueButton"));
        break;
    case OnboardingStep::setupInfo:
        first = step->findChild<QCheckBox *>(QStringLiteral("onboardingSetupConfirmedToggle"));
        break;
    case OnboardingStep::signIn:
        break;
    }
    if (first) {
        first->setFocus(Qt::OtherFocusReason);
    }
}

void OnboardingView::goBackFromKeyboard()
{
    if (viewModel_->currentStep() != OnboardingStep::welcome && !viewModel_->settingsViewModel().isLoading()) {
        viewModel_->goBack();
    }
}

void OnboardingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshTermsSheet();
}

void OnboardingView::refreshTermsSheet()
{
    if (!viewModel_->isShowingTerms()) {
        if (termsSheet_) {
            // Often inside the sheet's own Agree or Cancel: deleted once the click is over.
            TermsAgreementSheet *sheet = termsSheet_;
            termsSheet_ = nullptr;
            sheet->done(QDialog::Rejected);
            sheet->deleteLater();
        }
        return;
    }
    if (termsSheet_ || !isVisible()) {
        return;
    }
    OnboardingViewModel *model = viewModel_.get();
    auto *sheet = new TermsAgreementSheet(
        model->termsHaveChanged(), [model] { model->acceptTerms(); }, [model] { model->cancelTerms(); },
        services_.webSite.termsOfUse(), window());
    if (services_.openURL) {
        sheet->openURL = services_.openURL;
    }
    termsSheet_ = sheet;
    sheet->open();
}

} // namespace quillby
