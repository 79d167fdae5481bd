#include "services_window/FeedbackWindowController.h"

#include "services_window/FeedbackFormView.h"
#include "services/FeedbackFormViewModel.h"
#include "widgets/AmbientBackgroundView.h"
#include "widgets/OnboardingStyle.h"

#include <QCloseEvent>
#include <QDialog>
#include <QEvent>
#include <QVBoxLayout>

namespace quillby {

namespace {

// The window: Escape goes through the form's Cancel (refused while sending), Return presses
// the default Send button when the focus is not in the message.
class FeedbackWindow final : public QDialog {
public:
    FeedbackWindow() : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {}
    FeedbackFormViewModel *model = nullptr;
    void reject() override
    {
        if (model) {
            model->cancel();
        }
    }

protected:
    // The title bar's close button always closes, also while sending (QDialog would route it
    // through reject(), which Cancel refuses while sending).
    void closeEvent(QCloseEvent *event) override { QWidget::closeEvent(event); }
};

} // namespace

FeedbackWindowController::FeedbackWindowController(std::shared_ptr<FeedbackSubmitting> submissionService,
                                                   std::function<void()> onSubmitted, QObject *parent)
    : QObject(parent), submissionService_(std::move(submissionService)), onSubmitted_(std::move(onSubmitted))
{
}

FeedbackWindowController::~FeedbackWindowController()
{
    delete feedbackWindow_.data();
}

void FeedbackWindowController::show()
{
    ++showCount_;
    if (feedbackWindow_ && feedbackWindow_->isVisible()) {
        feedbackWindow_->raise();
        feedbackWindow_->activateWindow();
        return;
    }
    if (feedbackWindow_) {
        feedbackWindow_->deleteLater();
    }
    auto *window = new FeedbackWindow();
    window->setObjectName(QStringLiteral("feedbackWindow"));
    window->setWindowTitle(QStringLiteral("Share feedback"));
    window->setModal(false);
    // A successful submission closes the window that sent it, never a newer one.
    QPointer<QWidget> sender(window);
    auto *model = new FeedbackFormViewModel(
        submissionService_,
        [sender] {
            if (sender) {
                sender->close();
            }
        },
        onSubmitted_, window);
    window->model = model;
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new FeedbackFormView(model, window);
    form->ambientBackground()->setReduceMotion(reduceMotion_);
    layout->addWidget(form);
    window->setFixedSize(FeedbackFormView::kWidth, FeedbackFormView::kHeight);
    window->installEventFilter(this);
    feedbackWindow_ = window;
    // Centred like the onboarding and terms windows; the controller sets reduced motion itself.
    presentAmbientWindow(window, form->ambientBackground(), nullptr);
}

void FeedbackWindowController::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    if (feedbackWindow_) {
        if (auto *panel = feedbackWindow_->findChild<AmbientBackgroundView *>()) {
            panel->setReduceMotion(reduce);
        }
    }
}

bool FeedbackWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && watched == feedbackWindow_.data()) {
        windowWillClose(feedbackWindow_);
    }
    return QObject::eventFilter(watched, event);
}

void FeedbackWindowController::windowWillClose(QWidget *window)
{
    // The closed window is not reused; one still sending finishes in the background first.
    window->removeEventFilter(this);
    window->deleteLater();
    feedbackWindow_.clear();
}

} // namespace quillby
