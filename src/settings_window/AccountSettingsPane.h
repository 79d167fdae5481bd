#pragma once

#include "widgets/SettingsForm.h"

#include <QPointer>

#include <optional>

class QLabel;
class QLineEdit;

namespace quillby {

class Announcer;
class AccountRegionPicker;
class HistoryCoordinator;
class LibreConnectionPicker;
class SettingsViewModel;
class SignInButton;

// The Account tab: the sign-in form while no complete account is stored, the signed-in summary
// (with the LibreLinkUp reconnect group and sign-out) once one is. All account work is the
// model's; the pane shows its state and calls its operations. Return in a text field signs in
// (or, signed in to LibreLinkUp, reconnects).
class AccountSettingsPane : public SettingsForm {
    Q_OBJECT
public:
    enum class Field { username, password };

    AccountSettingsPane(SettingsViewModel &model, HistoryCoordinator *history, Announcer *announcer,
                        QWidget *parent = nullptr);

    // Return in a text field of the pane: reconnect when signed in to LibreLinkUp, nothing more
    // when signed in to Dexcom, else sign in (which itself needs canSignIn).
    void submit();

protected:
    void appeared() override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refresh();
    void refreshSignedOut();
    void refreshSignedIn();

    SettingsViewModel &model_;
    QPointer<HistoryCoordinator> history_;
    Announcer *announcer_;

    // Signed out.
    QWidget *signedOutRows_ = nullptr;
    QLabel *usernameTitle_ = nullptr;
    QLineEdit *usernameField_ = nullptr;
    QLineEdit *passwordField_ = nullptr;
    SignInButton *signInButton_ = nullptr;

    // Signed in.
    QWidget *signedInRows_ = nullptr;
    // The face that is to take the focus once one of its controls can (its buttons wait for
    // the history operation a sign-in starts).
    QPointer<QWidget> focusPendingIn_;
    QLabel *sensorValue_ = nullptr;
    QLabel *accountValueTitle_ = nullptr;
    QLabel *accountValue_ = nullptr;
    QWidget *patientRow_ = nullptr;
    QLabel *patientValue_ = nullptr;
    QWidget *reconnectGroup_ = nullptr;
    QLineEdit *reconnectPasswordField_ = nullptr;
    QLabel *reconnectNote_ = nullptr;
    ProgressButton *reconnectButton_ = nullptr;
    QPushButton *signOutButton_ = nullptr;
};

// Puts `text` into a line edit unless it already holds it (the cursor stays where it is).
void setLineEditText(QLineEdit *field, const QString &text);

} // namespace quillby
