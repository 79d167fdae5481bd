#pragma once

#include <QWidget>

class QPushButton;

namespace quillby {

class Announcer;
class OnboardingViewModel;
class SignInButton;

// The step indicator: one dot per step, the current one in the accent colour; read by
// assistive technology as "Step N of 3".
class OnboardingStepIndicator : public QWidget {
    Q_OBJECT
public:
    OnboardingStepIndicator(int currentIndex, int count, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int currentIndex_;
    int count_;
};

// The bar at the foot of every step: Back (hidden on the first step, disabled while a sign-in
// runs), the step indicator, and the forward control: Continue on the first two steps (on the
// set-up step only once the steps are confirmed); on the sign-in step the sign-in button until
// an account is signed in, then Continue, which finishes onboarding. The forward control is
// the window's default button (Return).
class OnboardingNavigationBar : public QWidget {
    Q_OBJECT
public:
    OnboardingNavigationBar(OnboardingViewModel &viewModel, Announcer *announcer, QWidget *parent = nullptr);

    QPushButton *backButton() const { return back_; }
    QPushButton *continueButton() const { return continue_; }
    SignInButton *signInButton() const { return signIn_; }

private:
    void refresh();

    OnboardingViewModel &viewModel_;
    QPushButton *back_;
    QPushButton *continue_;
    SignInButton *signIn_ = nullptr;
};

} // namespace quillby
