#include "settings_window/AccountSettingsPane.h"
#include "core/async/RunDetached.h"

#include "history/HistoryCoordinator.h"
#include "platform/Announcer.h"
#include "providers/GlucoseProviderDescription.h"
#include "widgets/AccessibilityMarks.h"
#include "settings/SettingsViewModel.h"
#include "widgets/AccountPickers.h"
#include "widgets/SignInButton.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quillby {

namespace {

// A row of the pane's own making: a title at the leading edge, `control` at the trailing edge.
QWidget *labeledRow(const QString &title, QWidget *control, QWidget *parent, QLabel **titleOut = nullptr)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    QLabel *label = makePlainLabel(title, row);
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addStretch(1);
    control->setParent(row);
    layout->addWidget(control);
    if (titleOut) {
        *titleOut = label;
    }
    return row;
}

QWidget *trailingRow(QWidget *control, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    control->setParent(row);
    layout->addWidget(control);
    return row;
}

QLabel *valueLabel(QWidget *parent)
{
    QLabel *label = makePlainLabel(QString(), parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    useSecondaryColour(label);
    return label;
}

QLineEdit *textField(QWidget *parent, bool secure)
{
    auto *field = new QLineEdit(parent);
    field->setMinimumWidth(180);
    if (secure) {
        field->setEchoMode(QLineEdit::Password);
    }
    return field;
}

} // namespace

void setLineEditText(QLineEdit *field, const QString &text)
{
    if (field->text() != text) {
        const QSignalBlocker blocker(field);
        field->setText(text);
    }
}

AccountSettingsPane::AccountSettingsPane(SettingsViewModel &model, HistoryCoordinator *history, Announcer *announcer,
                                         QWidget *parent)
    : SettingsForm(parent), model_(model), history_(history), announcer_(announcer)
{
    setObjectName(QStringLiteral("accountSettingsPane"));
    SettingsSection *section = addSection(QStringLiteral("Glucose account"));

    // --- Signed out: the sign-in form ---
    signedOutRows_ = new QWidget();
    auto *outLayout = new QVBoxLayout(signedOutRows_);
    outLayout->setContentsMargins(0, 0, 0, 0);
    outLayout->setSpacing(8);
    outLayout->addWidget(labeledRow(AccountProviderPicker::title(), new AccountProviderPicker(model_), signedOutRows_));

    usernameField_ = textField(signedOutRows_, false);
    usernameField_->setObjectName(QStringLiteral("settingsUsernameField"));
    outLayout->addWidget(labeledRow(QString(), usernameField_, signedOutRows_, &usernameTitle_));

    passwordField_ = textField(signedOutRows_, true);
    passwordField_->setObjectName(QStringLiteral("settingsPasswordField"));
    outLayout->addWidget(labeledRow(QStringLiteral("Password"), passwordField_, signedOutRows_));

    auto *regionPicker = new AccountRegionPicker(model_, false);
    regionPicker->setObjectName(QStringLiteral("settingsRegionPicker"));
    outLayout->addWidget(labeledRow(AccountRegionPicker::title(), regionPicker, signedOutRows_));

    outLayout->addWidget(new LibreConnectionPicker(model_, signedOutRows_));

    signInButton_ = new SignInButton(model_, announcer_);
    signInButton_->setObjectName(QStringLiteral("settingsSignInButton"));
    outLayout->addWidget(trailingRow(signInButton_, signedOutRows_));
    section->addRow(signedOutRows_);

    connect(usernameField_, &QLineEdit::textEdited, this,
            [this](const QString &text) { model_.setUsername(text.toStdString()); });
    connect(passwordField_, &QLineEdit::textEdited, this,
            [this](const QString &text) { model_.setPassword(text.toStdString()); });

    // --- Signed in: the summary ---
    signedInRows_ = new QWidget();
    auto *inLayout = new QVBoxLayout(signedInRows_);
    inLayout->setContentsMargins(0, 0, 0, 0);
    inLayout->setSpacing(8);
    sensorValue_ = valueLabel(signedInRows_);
    inLayout->addWidget(labeledRow(QStringLiteral("Sensor"), sensorValue_, signedInRows_));
    accountValue_ = valueLabel(signedInRows_);
    inLayout->addWidget(labeledRow(QString(), accountValue_, signedInRows_, &accountValueTitle_));
    patientValue_ = valueLabel(signedInRows_);
    patientRow_ = labeledRow(QStringLiteral("Showing readings for"), patientValue_, signedInRows_);
    inLayout->addWidget(patientRow_);

    reconnectGroup_ = new QWidget(signedInRows_);
    auto *reconnectLayout = new QVBoxLayout(reconnectGroup_);
    reconnectLayout->setContentsMargins(0, 0, 0, 0);
    reconnectLayout->setSpacing(8);
    reconnectPasswordField_ = textField(reconnectGroup_, true);
    reconnectPasswordField_->setAccessibleDescription(
        QStringLiteral("Update your password here if it has changed, then reconnect"));
    reconnectLayout->addWidget(labeledRow(QStringLiteral("Password"), reconnectPasswordField_, reconnectGroup_));
    reconnectLayout->addWidget(
        labeledRow(AccountRegionPicker::title(), new AccountRegionPicker(model_, true), reconnectGroup_));
    reconnectButton_ = new ProgressButton(QStringLiteral("Reconnect"));
    reconnectButton_->setObjectName(QStringLiteral("reconnectButton"));
    reconnectButton_->setAccessibleDescription(
        QStringLiteral("Reconnects to the same account and person, keeping saved history"));
    reconnectLayout->addWidget(trailingRow(reconnectButton_, reconnectGroup_));
    reconnectNote_ = makeSecondaryLabel(QString(), true, reconnectGroup_);
    reconnectLayout->addWidget(reconnectNote_);
    inLayout->addWidget(reconnectGroup_);

    signOutButton_ = new QPushButton(QStringLiteral("Sign out"));
    signOutButton_->setObjectName(QStringLiteral("signOutButton"));
    signOutButton_->setAccessibleDescription(QStringLiteral("Signs out and clears your credentials"));
    inLayout->addWidget(trailingRow(signOutButton_, signedInRows_));
    inLayout->addWidget(makeSecondaryLabel(
        QStringLiteral("Saved history stays encrypted on this computer and is restored when you sign in to the same "
                       "account and person. Your retention setting still applies."),
        true, signedInRows_));
    section->addRow(signedInRows_);

    connect(reconnectPasswordField_, &QLineEdit::textEdited, this,
            [this](const QString &text) { model_.setPassword(text.toStdString()); });
    connect(reconnectButton_, &QPushButton::clicked, this, [this] { model_.reconnect(); });
    connect(signOutButton_, &QPushButton::clicked, this, [this] { model_.signOut(); });

    // --- Observation ---
    for (auto signal : {&SettingsViewModel::providerChanged, &SettingsViewModel::usernameChanged,
                        &SettingsViewModel::passwordChanged, &SettingsViewModel::patientNameChanged,
                        &SettingsViewModel::isLoadingChanged}) {
        connect(&model_, signal, this, &AccountSettingsPane::refresh);
    }
    connect(&model_, &SettingsViewModel::isConfigurationValidChanged, this, [this] {
        refresh();
        if (model_.isConfigurationValid() && announcer_) {
            announcer_->announce(QStringLiteral("Signed in to ") + serviceName(model_.provider()));
        }
    });
    if (history_) {
        connect(history_, &HistoryCoordinator::isBusyChanged, this, &AccountSettingsPane::refresh);
    }
    refresh();
}

void AccountSettingsPane::refresh()
{
    const bool signedIn = model_.isConfigurationValid();
    QWidget *shown = signedIn ? signedInRows_ : signedOutRows_;
    QWidget *replaced = signedIn ? signedOutRows_ : signedInRows_;
    // One face replaces the other when a sign-in or sign-out ends; the focus that was in the
    // face going away (or that waited while it worked) goes to the first control of the new one.
    QWidget *focus = window()->focusWidget();
    const bool moveFocus = isVisible() && replaced->isVisible() && (!focus || replaced->isAncestorOf(focus));
    shown->setVisible(true);
    if (signedIn) {
        refreshSignedIn();
    } else {
        refreshSignedOut();
    }
    replaced->setVisible(false);
    if (moveFocus) {
        focusPendingIn_ = shown;
    }
    if (focusPendingIn_) {
        if (focusPendingIn_ != shown || (window()->focusWidget() && !moveFocus)) {
            focusPendingIn_ = nullptr;   // the focus went elsewhere meanwhile
        } else if (focusFirstControlIn(shown)) {
            focusPendingIn_ = nullptr;
        }
    }
}

void AccountSettingsPane::refreshSignedOut()
{
    const GlucoseProvider provider = model_.provider();
    const QString service = serviceName(provider);
    const bool loading = model_.isLoading();
    usernameTitle_->setText(accountTitle(provider));
    updateAccessibleName(usernameField_, service + QLatin1Char(' ') + accountTitle(provider).toLower());
    updateAccessibleName(passwordField_, service + QStringLiteral(" password"));
    setLineEditText(usernameField_, QString::fromStdString(model_.username()));
    setLineEditText(passwordField_, QString::fromStdString(model_.password()));
    // While it signs in, the focus waits in the field it was in.
    setEnabledKeepingFocus(usernameField_, !loading);
    setEnabledKeepingFocus(passwordField_, !loading);
}

void AccountSettingsPane::refreshSignedIn()
{
    const GlucoseProvider provider = model_.provider();
    const bool libre = describeProvider(provider).choosesConnectionAfterSignIn;
    const bool loading = model_.isLoading();
    sensorValue_->setText(sensorName(provider));
    accountValueTitle_->setText(accountTitle(provider));
    accountValue_->setText(QString::fromStdString(model_.username()));
    const auto &patientName = model_.patientName();
    patientRow_->setVisible(libre && patientName.has_value());
    patientValue_->setText(patientName ? QString::fromStdString(*patientName) : QString());

    reconnectGroup_->setVisible(libre);
    // Reconnecting is offered where the person is chosen after sign-in: named after that service.
    updateAccessibleName(reconnectPasswordField_, serviceName(provider) + QStringLiteral(" password"));
    reconnectNote_->setText(
        QStringLiteral("After accepting updated terms or restoring sharing in %1, reconnect here.")
            .arg(QString::fromStdString(describeProvider(provider).serviceName)));
    setLineEditText(reconnectPasswordField_, QString::fromStdString(model_.password()));
    reconnectPasswordField_->setEnabled(!loading);
    reconnectButton_->setBusy(loading);
    reconnectButton_->setText(loading ? QStringLiteral("Reconnecting") : QStringLiteral("Reconnect"));
    setEnabledKeepingFocus(reconnectButton_, !loading && !model_.password().empty());

    updateAccessibleName(signOutButton_, QStringLiteral("Sign out of ") + serviceName(provider));
    setEnabledKeepingFocus(signOutButton_, !loading && !(history_ && history_->isBusy()));
}

void AccountSettingsPane::submit()
{
    if (model_.isConfigurationValid()) {
        if (describeProvider(model_.provider()).choosesConnectionAfterSignIn) {
            model_.reconnect();
        }
        return;
    }
    model_.signIn();
}

void AccountSettingsPane::appeared()
{
    if (!model_.isConfigurationValid() && usernameField_->isEnabled()) {
        usernameField_->setFocus(Qt::OtherFocusReason);
    }
    if (history_) {
        runDetached(history_->requestSnapshotRefresh());
    }
}

void AccountSettingsPane::keyPressEvent(QKeyEvent *event)
{
    // Return in a text field submits the form; Return that another control left alone acts as
    // the default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (qobject_cast<QLineEdit *>(focusWidget())) {
            submit();
        } else if (signInButton_->isVisible() && signInButton_->isEnabled()) {
            signInButton_->click();
        }
        event->accept();
        return;
    }
    SettingsForm::keyPressEvent(event);
}

} // namespace quillby
