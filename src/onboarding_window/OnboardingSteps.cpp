#include "onboarding_window/OnboardingSteps.h"

#include "widgets/AccessibilityMarks.h"
#include "widgets/OnboardingStyle.h"
#include "platform/Appearance.h"
#include "providers/GlucoseProviderDescription.h"
#include "onboarding_window/OnboardingNavigationBar.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "settings/SettingsViewModel.h"
#include "widgets/AccountPickers.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillby {

namespace {

QVBoxLayout *stepLayout(QWidget *step)
{
    auto *layout = new QVBoxLayout(step);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    return layout;
}

} // namespace

QUrl setupGuideURL(const ProductWebSite &webSite, const GlucoseProviderDescription &description)
{
    if (description.setupGuidePath.empty()) {
        return {};
    }
    return webSite.page(QString::fromStdString(description.setupGuidePath));
}

// --- StepRow ---

StepRow::StepRow(int number, const QString &text, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    QLabel *numberLabel = makeSecondaryTextLabel(QStringLiteral("%1.").arg(number), this);
    numberLabel->setWordWrap(false);
    row->addWidget(numberLabel, 0, Qt::AlignTop);
    row->addWidget(makeSecondaryTextLabel(text, this), 1);
    setAccessibleName(QStringLiteral("Step %1. %2").arg(number).arg(text));
    combineAccessibleChildren(this);
}

// --- WelcomeStepView ---

WelcomeStepView::WelcomeStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services,
                                 QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("onboardingWelcomeStep"));
    QVBoxLayout *layout = stepLayout(this);
    layout->addWidget(makeLargeTitle(QStringLiteral("Quillby"), this));
    layout->addSpacing(12);
    layout->addWidget(makeSecondaryTextLabel(
        QStringLiteral("Before Quillby can display your sensor data, you'll need to complete a few short steps."), this));
    layout->addSpacing(8);
    layout->addWidget(makeSecondaryTextLabel(QStringLiteral("Have the phone you use with your sensor ready."), this));
    layout->addSpacing(20);

    SettingsViewModel &settings = viewModel.settingsViewModel();
    auto *pickerRow = new QHBoxLayout();
    QLabel *title = makeTextLabel(AccountProviderPicker::title(), this);
    title->setWordWrap(false);
    auto *picker = new AccountProviderPicker(settings, this);
    title->setBuddy(picker);
    pickerRow->addWidget(title);
    pickerRow->addStretch(1);
    pickerRow->addWidget(picker);
    layout->addLayout(pickerRow);
    // The set-up step must be confirmed again for a newly chosen service.
    connect(&settings, &SettingsViewModel::providerChanged, this,
            [&viewModel] { viewModel.setHasConfirmedSetup(false); });

    layout->addStretch(1);
    layout->addWidget(new OnboardingNavigationBar(viewModel, services.announcer, this));
}

// --- SetupInfoStepView ---

SetupInfoStepView::SetupInfoStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services,
                                     QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("onboardingSetupInfoStep"));
    const GlucoseProviderDescription &description = describeProvider(viewModel.settingsViewModel().provider());
    QVBoxLayout *layout = stepLayout(this);
    layout->addWidget(makeLargeTitle(QString::fromStdString(description.setupHeading), this));
    layout->addSpacing(12);
    layout->addWidget(makeSecondaryTextLabel(QString::fromStdString(description.setupIntroduction), this));
    layout->addSpacing(14);
    for (std::size_t i = 0; i < description.setupSteps.size(); ++i) {
        layout->addWidget(new StepRow(static_cast<int>(i) + 1, QString::fromStdString(description.setupSteps[i]), this));
        layout->addSpacing(8);
    }
    const QUrl guide = setupGuideURL(services.webSite, description);
    if (!guide.isEmpty()) {
        // Our own link text and address.
        const QString linkText = QString::fromStdString(description.setupGuideLinkText);
        auto *link = new QLabel(this);
        link->setTextFormat(Qt::RichText);
        link->setText(linkHtml(guide.toString(QUrl::FullyEncoded), linkText, lightAppearancePalette(Qt::white)));
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    tabStopsOnLinks(link);
        link->setAccessibleName(linkText);
        link->setFont(scaledFont(link->font(), 0.92));
        std::function<void(const QUrl &)> open = services.openURL;
        if (!open) {
            open = [](const QUrl &url) { QDesktopServices::openUrl(url); };
        }
        connect(link, &QLabel::linkActivated, this, [open](const QString &address) { open(QUrl(address)); });
        layout->addWidget(link);
        layout->addSpacing(8);
    }
    layout->addSpacing(8);
    confirmation_ = new QCheckBox(QStringLiteral("I've completed the steps above"), this);
    confirmation_->setObjectName(QStringLiteral("onboardingSetupConfirmedToggle"));
    // A check box paints its label in the window text colour: the secondary one here.
    QPalette palette = lightAppearancePalette(Qt::white);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, palette.color(group, kSecondaryTextRole));
    }
    confirmation_->setPalette(palette);
    confirmation_->setChecked(viewModel.hasConfirmedSetup());
    connect(confirmation_, &QCheckBox::toggled, &viewModel, &OnboardingViewModel::setHasConfirmedSetup);
    connect(&viewModel, &OnboardingViewModel::hasConfirmedSetupChanged, this,
            [this, &viewModel] { confirmation_->setChecked(viewModel.hasConfirmedSetup()); });
    layout->addWidget(confirmation_);

    layout->addStretch(1);
    layout->addWidget(new OnboardingNavigationBar(viewModel, services.announcer, this));
}

} // namespace quillby
