#include "onboarding_window/SignInStepView.h"

#include "widgets/AccessibilityMarks.h"
#include "widgets/OnboardingStyle.h"
#include "onboarding_window/OnboardingNavigationBar.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "platform/Announcer.h"
#include "providers/GlucoseProviderDescription.h"
#include "settings/SettingsViewModel.h"
#include "widgets/AccountPickers.h"
#include "widgets/SettingsForm.h"
#include "widgets/SettingsSymbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace quillby {

QString SignInStepView::providerName(GlucoseProvider provider)
{
    return QString::fromStdString(describeProvider(provider).shortServiceName);
}

QString SignInStepView::appName(GlucoseProvider provider)
{
    return QString::fromStdString(describeProvider(provider).appName);
}

QStringList SignInStepView::summaryParagraphs(GlucoseProvider provider)
{
    const QString name = providerName(provider);
    const QString app = appName(provider);
    return {QStringLiteral("You\u2019re signed in to %1, and Quillby is ready to connect to your data.").arg(name),
            QStringLiteral("Your readings will appear in the panel once you continue."),
            QStringLiteral("Quillby is not a replacement for your %1.").arg(app),
            QStringLiteral("Always confirm readings with your %1 or blood glucose meter before making treatment "
                           "decisions.")
                .arg(app)};
}

SignInStepView::SignInStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services,
                               QWidget *parent)
    : QWidget(parent), viewModel_(viewModel), settings_(viewModel.settingsViewModel()), announcer_(services.announcer)
{
    setObjectName(QStringLiteral("onboardingSignInStep"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);

    // The sign-in form.
    form_ = new QWidget(this);
    auto *formLayout = new QVBoxLayout(form_);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(0);
    heading_ = makeLargeTitle(QString(), form_);
    formLayout->addWidget(heading_);
    formLayout->addSpacing(18);
    auto *fields = new QVBoxLayout();
    fields->setSpacing(12);
    username_ = new QLineEdit(form_);
    username_->setObjectName(QStringLiteral("onboardingUsernameField"));
    password_ = new QLineEdit(form_);
    password_->setObjectName(QStringLiteral("onboardingPasswordField"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(QStringLiteral("Password"));
    fields->addWidget(username_);
    fields->addWidget(password_);
    auto *regionRow = new QHBoxLayout();
    QLabel *regionTitle = makeTextLabel(AccountRegionPicker::title(), form_);
    regionTitle->setWordWrap(false);
    auto *region = new AccountRegionPicker(settings_, false, form_);
    region->setObjectName(QStringLiteral("onboardingRegionPicker"));
    regionTitle->setBuddy(region);
    regionRow->addWidget(regionTitle);
    regionRow->addStretch(1);
    regionRow->addWidget(region);
    fields->addLayout(regionRow);
    fields->addWidget(new LibreConnectionPicker(settings_, form_));
    formLayout->addLayout(fields);

    // The error row: the status line of the settings model, as plain text.
    errorRow_ = new QWidget(form_);
    auto *errorLayout = new QHBoxLayout(errorRow_);
    errorLayout->setContentsMargins(0, 14, 0, 0);
    errorLayout->setSpacing(8);
    errorLayout->addWidget(makeSymbolLabel(settingsSymbol(QStringLiteral("exclamationmark.triangle")), 16, errorRow_),
                           0, Qt::AlignTop);
    errorText_ = makeSecondaryTextLabel(QString(), errorRow_, 0.92);
    errorLayout->addWidget(errorText_, 1);
    formLayout->addWidget(errorRow_);
    layout->addWidget(form_);

    // The signed-in summary.
    summary_ = new QWidget(this);
    auto *summaryLayout = new QVBoxLayout(summary_);
    summaryLayout->setContentsMargins(0, 0, 0, 0);
    summaryLayout->setSpacing(12);
    auto *header = new QHBoxLayout();
    header->setSpacing(10);
    header->addWidget(makeSymbolImage(QStringLiteral("checkmark.circle.fill"), 24, summary_), 0, Qt::AlignVCenter);
    summaryHeading_ = makeLargeTitle(QStringLiteral("Setup complete"), summary_);
    header->addWidget(summaryHeading_, 1);
    summaryLayout->addLayout(header);
    for (int i = 0; i < 4; ++i) {
        QLabel *text = makeSecondaryTextLabel(QString(), summary_, 16.0 / 13.0);
        text->setContentsMargins(0, 8, 0, 0);
        summaryTexts_.push_back(text);
        summaryLayout->addWidget(text);
    }
    layout->addWidget(summary_);

    layout->addStretch(1);
    layout->addWidget(new OnboardingNavigationBar(viewModel, services.announcer, this));

    // Two-way bindings of the fields.
    connect(username_, &QLineEdit::textEdited, this,
            [this](const QString &text) { settings_.setUsername(text.toStdString()); });
    connect(password_, &QLineEdit::textEdited, this,
            [this](const QString &text) { settings_.setPassword(text.toStdString()); });
    for (auto signal : {&SettingsViewModel::usernameChanged, &SettingsViewModel::passwordChanged,
                        &SettingsViewModel::providerChanged, &SettingsViewModel::isLoadingChanged,
                        &SettingsViewModel::statusMessageChanged}) {
        connect(&settings_, signal, this, &SignInStepView::refresh);
    }
    connect(&settings_, &SettingsViewModel::isConfigurationValidChanged, this, [this] {
        refresh();
        if (settings_.isConfigurationValid() && announcer_) {
            announcer_->announce(QStringLiteral("Signed in to %1. Continue to finish setup.")
                                     .arg(providerName(settings_.provider())));
        }
    });
    connect(&settings_, &SettingsViewModel::statusMessageChanged, this, [this] {
        if (!settings_.statusMessage().empty() && announcer_) {
            announcer_->announce(QString::fromStdString(settings_.statusMessage()));
        }
    });
    refresh();
}

void SignInStepView::refresh()
{
    const GlucoseProvider provider = settings_.provider();
    const QString name = providerName(provider);
    const bool signedIn = settings_.isConfigurationValid();
    form_->setVisible(!signedIn);
    summary_->setVisible(signedIn);

    heading_->setText(QStringLiteral("Sign in to %1").arg(name));
    updateAccessibleName(heading_, heading_->text());
    const QString title = accountTitle(provider);
    username_->setPlaceholderText(title);
    updateAccessibleName(username_, name + QLatin1Char(' ') + title.toLower());
    updateAccessibleName(password_, name + QStringLiteral(" password"));
    const QString username = QString::fromStdString(settings_.username());
    if (username_->text() != username) {
        username_->setText(username);
    }
    const QString password = QString::fromStdString(settings_.password());
    if (password_->text() != password) {
        password_->setText(password);
    }
    // The credentials cannot change under a running sign-in.
    username_->setEnabled(!settings_.isLoading());
    password_->setEnabled(!settings_.isLoading());

    const QString status = QString::fromStdString(settings_.statusMessage());
    errorText_->setText(status);
    updateAccessibleName(errorRow_, status);
    errorRow_->setVisible(!status.isEmpty());

    const QStringList paragraphs = summaryParagraphs(provider);
    for (std::size_t i = 0; i < summaryTexts_.size(); ++i) {
        summaryTexts_[i]->setText(paragraphs[static_cast<int>(i)]);
    }
}

void SignInStepView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!focused_) {
        // Keyboard focus starts in the user-name field.
        focused_ = true;
        QPointer<QLineEdit> field(username_);
        QTimer::singleShot(0, this, [field] {
            if (field && field->isVisible() && field->isEnabled()) {
                field->setFocus(Qt::OtherFocusReason);
            }
        });
    }
}

} // namespace quillby
