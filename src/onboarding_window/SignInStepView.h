#pragma once

#include "core/GlucoseReading.h"
#include "onboarding_window/OnboardingSteps.h"

#include <QWidget>

class QLabel;
class QLineEdit;

namespace quillby {

class AccountRegionPicker;
class LibreConnectionPicker;
class OnboardingNavigationBar;
class OnboardingViewModel;
class SettingsViewModel;

// The last step: the chosen service's user name or e-mail address, password, region and (for
// LibreLinkUp) person, and the sign-in; once the settings model holds a signed-in account, a
// "Setup complete" summary in its place. Everything it shows and edits lives in the settings
// model; the sign-in and the finish are the onboarding model's. Status texts (from the
// services) are shown as plain text and spoken when they change, as is the sign-in.
class SignInStepView : public QWidget {
    Q_OBJECT
public:
    SignInStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services, QWidget *parent = nullptr);

    static QString providerName(GlucoseProvider provider);
    static QString appName(GlucoseProvider provider);
    static QStringList summaryParagraphs(GlucoseProvider provider);

    QWidget *form() const { return form_; }
    QWidget *summary() const { return summary_; }
    QWidget *errorRow() const { return errorRow_; }
    QLabel *errorText() const { return errorText_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    OnboardingViewModel &viewModel_;
    SettingsViewModel &settings_;
    Announcer *announcer_;
    QWidget *form_;
    QWidget *summary_;
    QLabel *heading_;
    QLineEdit *username_;
    QLineEdit *password_;
    QWidget *errorRow_;
    QLabel *errorText_;
    QLabel *summaryHeading_;
    std::vector<QLabel *> summaryTexts_;
    bool focused_ = false;
};

} // namespace quillby
