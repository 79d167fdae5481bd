#pragma once

#include "widgets/SettingsForm.h"

#include <functional>

namespace quillby {

class Announcer;
class SettingsViewModel;

// The button that starts a sign-in. Its title, progress and enabling follow the model:
// "Sign in"; "Connect" while LibreLinkUp people are listed; "Signing in" with a progress
// indicator while an account operation runs. Enabled exactly when the model's canSignIn holds.
// Pressing it runs `action` when one is given, else the model's signIn(). When an operation
// starts while the button is on screen, "Signing in to " and the service name is announced.
class SignInButton : public ProgressButton {
    Q_OBJECT
public:
    SignInButton(SettingsViewModel &model, Announcer *announcer, std::function<void()> action = {},
                 QWidget *parent = nullptr);

private:
    void refresh();
    SettingsViewModel &model_;
    Announcer *announcer_;
    std::function<void()> action_;
};

} // namespace quillby
