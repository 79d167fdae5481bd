#pragma once

#include "core/ProductWebSite.h"

#include <QUrl>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;

namespace quillby {

class Announcer;
class OnboardingNavigationBar;
class OnboardingViewModel;

// What the onboarding views reach besides their models.
struct OnboardingViewServices {
    Announcer *announcer = nullptr;                   // spoken announcements (none: silent)
    ProductWebSite webSite;                           // where the guide and terms links lead
    std::function<void(const QUrl &)> openURL;        // web pages (none: the desktop's browser)
};

struct GlucoseProviderDescription;

// The address of a provider's getting-started guide on the product's web site; empty when the
// provider has none.
QUrl setupGuideURL(const ProductWebSite &webSite, const GlucoseProviderDescription &description);

// One numbered instruction: "1." and the text; read as "Step 1. <text>".
class StepRow : public QWidget {
    Q_OBJECT
public:
    StepRow(int number, const QString &text, QWidget *parent = nullptr);
};

// The first step: what onboarding is for and the choice of the glucose service. Choosing
// another service clears the confirmation of the set-up step.
class WelcomeStepView : public QWidget {
    Q_OBJECT
public:
    WelcomeStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services, QWidget *parent = nullptr);
};

// The second step: how to turn on sharing for the chosen service (its description's set-up
// texts and guide), and the confirmation that it was done, without which Continue stays disabled.
class SetupInfoStepView : public QWidget {
    Q_OBJECT
public:
    SetupInfoStepView(OnboardingViewModel &viewModel, const OnboardingViewServices &services,
                      QWidget *parent = nullptr);

private:
    QCheckBox *confirmation_;
};

} // namespace quillby
