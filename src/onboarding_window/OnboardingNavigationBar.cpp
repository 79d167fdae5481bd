#include "onboarding_window/OnboardingNavigationBar.h"

#include "platform/Appearance.h"

#include "widgets/OnboardingStyle.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "settings/SettingsViewModel.h"
#include "widgets/SignInButton.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QPixmap>

#include <algorithm>
#include <QPainter>
#include <QPushButton>

namespace quillby {

namespace {
constexpr int kDot = 8;
constexpr int kDotSpacing = 8;
constexpr int kBackBoxWidth = 60;

// The widest the forward control gets over every text it shows (the sign-in button also with
// its turning indicator), so the box holding it never changes width.
int widestForwardControl(const QPushButton &like)
{
    QPushButton probe;
    probe.setStyleSheet(like.styleSheet());
    probe.setFont(like.font());
    int widest = 0;
    for (const QString &text : {QStringLiteral("Continue"), QStringLiteral("Sign in"), QStringLiteral("Connect"),
                                QStringLiteral("Signing in")}) {
        probe.setText(text);
        probe.setIcon(QIcon());
        widest = std::max(widest, probe.sizeHint().width());
        QPixmap indicator(16, 16);
        indicator.fill(Qt::transparent);
        probe.setIcon(QIcon(indicator));
        widest = std::max(widest, probe.sizeHint().width());
    }
    return widest;
}
} // namespace

OnboardingStepIndicator::OnboardingStepIndicator(int currentIndex, int count, QWidget *parent)
    : QWidget(parent), currentIndex_(currentIndex), count_(count)
{
    setAccessibleName(QStringLiteral("Step %1 of %2").arg(currentIndex + 1).arg(count));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize OnboardingStepIndicator::sizeHint() const
{
    return {count_ * kDot + std::max(0, count_ - 1) * kDotSpacing, kDot};
}

void OnboardingStepIndicator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
    // The other steps' dots stand out 3:1 from the window, as a control's outline does.
    const QColor grey = boundaryColor(palette());
    const double top = (height() - kDot) / 2.0;
    for (int i = 0; i < count_; ++i) {
        p.setBrush(i == currentIndex_ ? accent : grey);
        p.drawEllipse(QRectF(i * (kDot + kDotSpacing), top, kDot, kDot));
    }
}

OnboardingNavigationBar::OnboardingNavigationBar(OnboardingViewModel &viewModel, Announcer *announcer,
                                                 QWidget *parent)
    : QWidget(parent), viewModel_(viewModel)
{
    SettingsViewModel &settings = viewModel.settingsViewModel();
    const OnboardingStep step = viewModel.currentStep();
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    // Back, in a box of its own width, so the bar does not shift when it is hidden.
    auto *backBox = new QWidget(this);
    auto *backLayout = new QHBoxLayout(backBox);
    backLayout->setContentsMargins(0, 0, 0, 0);
    back_ = new QPushButton(QStringLiteral("Back"), backBox);
    back_->setAutoDefault(false);
    makeBordered(back_);
    back_->setAccessibleName(QStringLiteral("Back"));
    back_->setAccessibleDescription(QStringLiteral("Go to previous step"));
    QSizePolicy keepsRoom = back_->sizePolicy();
    keepsRoom.setRetainSizeWhenHidden(true);
    back_->setSizePolicy(keepsRoom);
    back_->setVisible(step != OnboardingStep::welcome);
    backLayout->addWidget(back_, 0, Qt::AlignLeft);
    row->addWidget(backBox);
    row->addStretch(1);

    int index = 0;
    for (std::size_t i = 0; i < kOnboardingSteps.size(); ++i) {
        if (kOnboardingSteps[i] == step) {
            index = static_cast<int>(i);
        }
    }
    row->addWidget(new OnboardingStepIndicator(index, static_cast<int>(kOnboardingSteps.size()), this));
    row->addStretch(1);

    // The forward control, right-aligned in a box as wide as the Back box: the dots stay in the
    // middle of the bar whichever control shows and whatever it says.
    auto *forwardBox = new QWidget(this);
    auto *forwardLayout = new QHBoxLayout(forwardBox);
    forwardLayout->setContentsMargins(0, 0, 0, 0);
    forwardLayout->setSpacing(0);
    forwardLayout->addStretch(1);
    row->addWidget(forwardBox);

    continue_ = new QPushButton(QStringLiteral("Continue"), forwardBox);
    continue_->setObjectName(QStringLiteral("onboardingContinueButton"));
    continue_->setAccessibleName(QStringLiteral("Continue"));
    continue_->setDefault(true);
    makeProminent(continue_);
    forwardLayout->addWidget(continue_);

    if (step == OnboardingStep::signIn) {
        continue_->setAccessibleDescription(QStringLiteral("Complete onboarding and start using Quillby"));
        signIn_ = new SignInButton(settings, announcer, [&viewModel] { viewModel.signIn(); }, forwardBox);
        signIn_->setObjectName(QStringLiteral("onboardingSignInButton"));
        makeProminent(signIn_);
        forwardLayout->addWidget(signIn_);
        connect(continue_, &QPushButton::clicked, &viewModel, &OnboardingViewModel::complete);
    } else {
        continue_->setAccessibleDescription(QStringLiteral("Go to next step"));
        connect(continue_, &QPushButton::clicked, &viewModel, &OnboardingViewModel::goForward);
    }
    connect(back_, &QPushButton::clicked, &viewModel, &OnboardingViewModel::goBack);
    const int sideWidth = std::max(kBackBoxWidth, widestForwardControl(*continue_));
    backBox->setFixedWidth(sideWidth);
    forwardBox->setFixedWidth(sideWidth);

    connect(&settings, &SettingsViewModel::isLoadingChanged, this, &OnboardingNavigationBar::refresh);
    connect(&settings, &SettingsViewModel::isConfigurationValidChanged, this, &OnboardingNavigationBar::refresh);
    connect(&viewModel, &OnboardingViewModel::hasConfirmedSetupChanged, this, &OnboardingNavigationBar::refresh);
    refresh();
}

void OnboardingNavigationBar::refresh()
{
    SettingsViewModel &settings = viewModel_.settingsViewModel();
    const OnboardingStep step = viewModel_.currentStep();
    back_->setEnabled(!settings.isLoading());
    if (step == OnboardingStep::signIn) {
        const bool signedIn = settings.isConfigurationValid();
        signIn_->setVisible(!signedIn);
        continue_->setVisible(signedIn);
        // One default button at a time: the visible one.
        signIn_->setDefault(!signedIn);
        continue_->setDefault(signedIn);
        continue_->setEnabled(true);
    } else {
        continue_->setEnabled(step != OnboardingStep::setupInfo || viewModel_.hasConfirmedSetup());
    }
}

} // namespace quillby
