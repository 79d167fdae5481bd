#include "onboarding/TermsAgreementCoordinator.h"

#include "core/ConfigurationManager.h"
#include "widgets/AmbientBackgroundView.h"
#include "onboarding/TermsAgreementView.h"
#include "platform/ApplicationActivationPolicy.h"
#include "widgets/OnboardingStyle.h"
#include "platform/ReducedMotionMonitor.h"

#include <QDialog>
#include <QVBoxLayout>

namespace quillby {

namespace {

// The terms window: titled and minimisable, without a close button, fixed at 800 x 600.
// Escape and closing it by the window manager count as Quit; Return agrees.
class TermsAgreementWindow final : public QDialog {
public:
    explicit TermsAgreementWindow(std::function<void()> onQuit)
        : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint)
        , onQuit_(std::move(onQuit))
    {
    }

    void reject() override
    {
        if (onQuit_) {
            onQuit_();
        }
    }

private:
    std::function<void()> onQuit_;
};

} // namespace

TermsAgreementCoordinator::TermsAgreementCoordinator(ConfigurationManager &configurationManager,
                                                     std::function<void()> onAccept,
                                                     std::function<void()> quitAction, WindowEnvironment environment,
                                                     QObject *parent)
    : QObject(parent)
    , configurationManager_(configurationManager)
    , onAccept_(std::move(onAccept))
    , quitAction_(std::move(quitAction))
    , environment_(std::move(environment))
{
    connect(&configurationManager_, &ConfigurationManager::acceptedTermsVersionChanged, this,
            [this](const std::optional<std::string> &version) {
                if (version && *version == ConfigurationManager::kCurrentTermsVersion) {
                    closeAfterAcceptance();
                }
            });
}

TermsAgreementCoordinator::~TermsAgreementCoordinator()
{
    delete window_.data();
}

void TermsAgreementCoordinator::setPolicy(bool regular)
{
    if (environment_.activationPolicy) {
        environment_.activationPolicy->setPolicy(regular ? ActivationPolicy::regular : ActivationPolicy::accessory);
    }
}

void TermsAgreementCoordinator::show()
{
    if (configurationManager_.hasAcceptedCurrentTerms()) {
        return;
    }
    if (window_) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    setPolicy(true);
    const auto &accepted = configurationManager_.acceptedTermsVersion();
    const bool termsHaveChanged = accepted.has_value() && *accepted != ConfigurationManager::kCurrentTermsVersion;

    QPointer<TermsAgreementCoordinator> self(this);
    auto *window = new TermsAgreementWindow([self] {
        if (self) {
            self->quit();
        }
    });
    window->setObjectName(QStringLiteral("termsWindow"));
    window->setWindowTitle(TermsTexts::windowHeading(termsHaveChanged));
    window->setModal(false);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *view = new TermsAgreementWindowView(
        termsHaveChanged,
        [self] {
            if (self) {
                self->accept();
            }
        },
        [self] {
            if (self) {
                self->quit();
            }
        },
        environment_.webSite.termsOfUse(), environment_.openURL, window);
    layout->addWidget(view);
    window->setFixedSize(TermsAgreementWindowView::kWidth, TermsAgreementWindowView::kHeight);
    window_ = window;
    presentAmbientWindow(window, view->ambientBackground(), environment_.reducedMotion);
}

void TermsAgreementCoordinator::accept()
{
    if (!configurationManager_.hasAcceptedCurrentTerms()) {
        configurationManager_.acceptCurrentTerms();
    }
}

void TermsAgreementCoordinator::quit()
{
    if (quitAction_) {
        quitAction_();
    }
}

void TermsAgreementCoordinator::closeAfterAcceptance()
{
    if (!window_) {
        return;
    }
    // Usually inside the Agree button's own click: the window is hidden now and deleted once
    // the click is over, and the program moves on from a later turn of the event loop.
    QWidget *window = window_;
    window_ = nullptr;
    window->hide();
    window->deleteLater();
    setPolicy(false);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onAccept_) {
                onAccept_();
            }
        },
        Qt::QueuedConnection);
}

} // namespace quillby
