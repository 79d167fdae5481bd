#include "insights_window/InsightsLauncher.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsPresentation.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsSurfaces.h"
#include "insights_window/InsightsViewState.h"
#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace quillby {

namespace {

// The window itself: closing it deletes it (and the view with all its states and tasks).
class InsightsWindow : public QWidget {
public:
    InsightsWindow()
    {
        setObjectName(QStringLiteral("insightsWindow"));
        setWindowTitle(QStringLiteral("Insights"));
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowFlag(Qt::WindowMaximizeButtonHint, false);
        setWindowFlag(Qt::WindowFullscreenButtonHint, false);
        useInsightsAppearance(this);
    }
};

} // namespace

InsightsLauncher::InsightsLauncher(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                                   std::function<void()> manageHistoryAction, InsightsView::Services services,
                                   QObject *parent)
    : QObject(parent)
    , history_(history)
    , configurationManager_(configurationManager)
    , manageHistoryAction_(std::move(manageHistoryAction))
    , services_(std::move(services))
    , presentation_(std::make_unique<InsightsPresentation>(services_.clock->now()))
{
}

InsightsLauncher::~InsightsLauncher()
{
    // The window's view refers to the presentation: it goes first.
    delete window_.data();
}

QCoro::Task<void> InsightsLauncher::refreshSnapshot(QPointer<HistoryCoordinator> history)
{
    if (history) {
        co_await history->requestSnapshotRefresh();
    }
}

void InsightsLauncher::show()
{
    presentation_->setReferenceDate(services_.clock->now());
    if (window_) {
        // Visible or minimised: the same window comes back, never a second one.
        runDetached(refreshSnapshot(history_));
        if (window_->isMinimized()) {
            window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        }
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    buildWindow();
    fitWindowToContent();
    QScreen *screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    if (screen && canPlaceWindows()) {
        const QRect available = screen->availableGeometry();
        window_->move(available.center() - QPoint(window_->width() / 2, window_->height() / 2));
    }
    window_->show();
    // Moved to a screen of another size, the window fits itself to that screen.
    if (QWindow *handle = window_->windowHandle()) {
        connect(handle, &QWindow::screenChanged, window_, [this] { fitWindowToContent(); });
    }
    window_->raise();
    window_->activateWindow();
}

void InsightsLauncher::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    if (view_) {
        view_->setReduceMotion(reduce);
    }
}

void InsightsLauncher::buildWindow()
{
    auto *window = new InsightsWindow();
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    const QPointer<InsightsLauncher> self(this);
    view_ = new InsightsView(
        history_, configurationManager_, presentation_.get(), manageHistoryAction_,
        [self](bool available) {
            if (self) {
                self->reportAvailabilityChanged(available);
            }
        },
        [self](std::optional<int> height) {
            if (self) {
                self->reportContentHeightChanged(height);
            }
        },
        services_, window);
    view_->setReduceMotion(reduceMotion_);
    layout->addWidget(view_);
    // The size is the launcher's alone: fixed, so the window cannot be dragged to another.
    window->setFixedSize(kWindowWidth, kDefaultContentHeight);
    connect(window, &QObject::destroyed, this, [this] { reportContentHeight_.reset(); });
    window_ = window;
}

void InsightsLauncher::reportAvailabilityChanged(bool)
{
    // The title bar stays the desktop's own; only the size follows.
    fitWindowToContent();
}

void InsightsLauncher::reportContentHeightChanged(std::optional<int> height)
{
    reportContentHeight_ = height;
    fitWindowToContent();
}

int InsightsLauncher::fittedContentHeight(std::optional<double> reported, std::optional<int> available, int chrome)
{
    const double wanted = reported && std::isfinite(*reported) ? *reported : kDefaultContentHeight;
    double height = std::ceil(wanted);
    if (available) {
        height = std::min(height, static_cast<double>(*available - chrome));
    }
    return clampedInt(height, 200, 100000, kDefaultContentHeight);
}

void InsightsLauncher::fitWindowToContent()
{
    if (!window_) {
        return;
    }
    const int chrome = std::max(0, window_->frameGeometry().height() - window_->geometry().height());
    QScreen *screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    const std::optional<int> available = screen ? std::optional<int>(screen->availableGeometry().height()) : std::nullopt;
    const int height = fittedContentHeight(reportContentHeight_, available, chrome);
    if (std::abs(height - window_->height()) > 0) {
        window_->setFixedHeight(height);
    }
}

} // namespace quillby
