#include "onboarding/OnboardingCoordinator.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillby {

OnboardingCoordinator::OnboardingCoordinator(ConfigurationManager &configurationManager,
                                             std::function<void()> onComplete, QObject *parent)
    : QObject(parent)
    , configurationManager_(configurationManager)
    , onComplete_(std::move(onComplete))
{
}

OnboardingCoordinator::~OnboardingCoordinator()
{
    delete window_.data();
}

void OnboardingCoordinator::show()
{
    if (!window_) {
        auto *window = new QWidget();
        window->setObjectName(QStringLiteral("onboardingWindow"));
        window->setWindowTitle(QStringLiteral("Welcome to Quillby"));
        window->resize(800, 600);
        auto *layout = new QVBoxLayout(window);
        auto *label = new QLabel(QStringLiteral("Welcome to Quillby. Guided sign-in is not available in this "
                                                "version yet."),
                                 window);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
        window_ = window;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace quillby
