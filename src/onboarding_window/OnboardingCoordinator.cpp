#include "onboarding_window/OnboardingCoordinator.h"

#include "widgets/AmbientBackgroundView.h"
#include "onboarding_window/OnboardingView.h"
#include "onboarding_window/OnboardingViewModel.h"
#include "platform/ApplicationActivationPolicy.h"
#include "widgets/OnboardingStyle.h"
#include "platform/ReducedMotionMonitor.h"
#include "settings/SettingsViewModel.h"

#include <QCloseEvent>
#include <QDialog>
#include <QVBoxLayout>

namespace quillby {

namespace {

// The onboarding window: titled with a close button, neither minimisable nor resizable.
// Escape goes one step back; Return presses the step's forward button; closing it (the close
// button, the window manager's close) reports to `onClosed`.
class OnboardingWindow final : public QDialog {
public:
    OnboardingWindow()
        : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    {
    }
    QPointer<OnboardingView> view;
    std::function<void()> onClosed;

    void reject() override
    {
        if (view) {
            view->goBackFromKeyboard();
        }
    }

protected:
    // QDialog would treat the close button as Escape.
    void closeEvent(QCloseEvent *event) override
    {
        QWidget::closeEvent(event);
        if (event->isAccepted() && onClosed) {
            onClosed();
        }
    }
};

} // namespace

OnboardingCoordinator::OnboardingCoordinator(ConfigurationManager &configurationManager, OnboardingServices services,
                                             std::function<void()> onComplete, QObject *parent)
    : QObject(parent)
    , configurationManager_(configurationManager)
    , services_(std::move(services))
    , onComplete_(std::move(onComplete))
{
}

OnboardingCoordinator::~OnboardingCoordinator()
{
    delete window_.data();
}

OnboardingView *OnboardingCoordinator::view() const
{
    return static_cast<OnboardingView *>(view_.data());
}

void OnboardingCoordinator::show()
{
    if (window_) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    if (services_.window.activationPolicy) {
        services_.window.activationPolicy->setPolicy(ActivationPolicy::regular);
    }
    QPointer<OnboardingCoordinator> self(this);
    auto viewModel = std::make_unique<OnboardingViewModel>(
        configurationManager_, services_.makeSettingsViewModel(), [self] {
            if (self) {
                self->completed();
            }
        });
    auto *window = new OnboardingWindow();
    window->setObjectName(QStringLiteral("onboardingWindow"));
    window->setWindowTitle(QStringLiteral("Onboarding"));
    window->setModal(false);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    OnboardingViewServices viewServices;
    viewServices.announcer = services_.announcer;
    viewServices.webSite = services_.window.webSite;
    viewServices.openURL = services_.window.openURL;
    auto *view = new OnboardingView(std::move(viewModel), viewServices, window);
    layout->addWidget(view);
    window->view = view;
    // Before onboarding is complete there is no tray icon and no other window: a closed window
    // would leave the program running unseen, so closing it ends the program, as the terms
    // window does.
    window->onClosed = [self] {
        if (self && self->services_.quitAction) {
            self->services_.quitAction();
        }
    };
    window->setFixedSize(OnboardingView::kWidth, OnboardingView::kHeight);
    window_ = window;
    view_ = view;
    presentAmbientWindow(window, view->ambientBackground(), services_.window.reducedMotion);
}

void OnboardingCoordinator::completed()
{
    // Inside the click that finished (Continue, or Agree on the terms sheet): the window is
    // hidden now and deleted once that click is over; the program moves on from a later turn.
    if (QWidget *window = window_) {
        window_ = nullptr;
        view_ = nullptr;
        window->hide();
        window->deleteLater();
    }
    if (services_.window.activationPolicy) {
        services_.window.activationPolicy->setPolicy(ActivationPolicy::accessory);
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onComplete_) {
                onComplete_();
            }
        },
        Qt::QueuedConnection);
}

} // namespace quillby
