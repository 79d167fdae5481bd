#include "widgets/SignInButton.h"

#include "platform/Announcer.h"
#include "settings/SettingsViewModel.h"
#include "widgets/AccessibilityMarks.h"
#include "widgets/AccountPickers.h"

namespace quillby {

SignInButton::SignInButton(SettingsViewModel &model, Announcer *announcer, std::function<void()> action,
                           QWidget *parent)
    : ProgressButton(QString(), parent), model_(model), announcer_(announcer), action_(std::move(action))
{
    setDefault(true);
    connect(this, &QPushButton::clicked, this, [this] {
        if (action_) {
            action_();
        } else {
            model_.signIn();
        }
    });
    const auto update = [this] { refresh(); };
    connect(&model_, &SettingsViewModel::isLoadingChanged, this, [this] {
        refresh();
        // Only a button on screen speaks: the Account pane keeps its button while signed in,
        // hidden, and sign-out and reconnect load too.
        if (model_.isLoading() && announcer_ && isVisible()) {
            announcer_->announce(QStringLiteral("Signing in to ") + serviceName(model_.provider()));
        }
    });
    connect(&model_, &SettingsViewModel::providerChanged, this, update);
    connect(&model_, &SettingsViewModel::libreConnectionsChanged, this, update);
    connect(&model_, &SettingsViewModel::usernameChanged, this, update);
    connect(&model_, &SettingsViewModel::passwordChanged, this, update);
    connect(&model_, &SettingsViewModel::selectedPatientIDChanged, this, update);
    connect(&model_, &SettingsViewModel::isShowingTermsChanged, this, update);
    connect(&model_, &SettingsViewModel::isConfigurationValidChanged, this, update);
    refresh();
}

void SignInButton::refresh()
{
    const bool loading = model_.isLoading();
    setBusy(loading);
    if (loading) {
        setText(QStringLiteral("Signing in"));
    } else if (!model_.libreConnections().empty()) {
        setText(QStringLiteral("Connect"));
    } else {
        setText(QStringLiteral("Sign in"));
    }
    const QString service = serviceName(model_.provider());
    // Spoken as it reads, with the service it signs in to: "Connect to LibreLinkUp".
    updateAccessibleName(this, text() + QStringLiteral(" to ") + service);
    updateAccessibleDescription(this, QStringLiteral("Signs in with your ") + service + QStringLiteral(" credentials"));
    // While it signs in, the focus waits with the button (instead of jumping to another
    // control) and is back on it when a failed sign-in enables it again.
    setEnabledKeepingFocus(this, model_.canSignIn());
}

} // namespace quillby
