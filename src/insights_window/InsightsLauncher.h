#pragma once

#include "core/Clock.h"
#include "insights/InsightsCalculationState.h"
#include "insights_window/InsightsView.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace quillby {

class ConfigurationManager;
class HistoryCoordinator;
class InsightsPresentation;

// Owner of the one "Insights" window: builds it around InsightsView on demand, brings an
// existing window (visible or minimised) to the front instead of building a second one, and
// fits the window's height to the report. Its presentation (reference date, the one-time
// completion notice) outlives the windows. Main thread.
class InsightsLauncher : public QObject {
    Q_OBJECT
public:
    static constexpr int kWindowWidth = 980;
    static constexpr int kDefaultContentHeight = 620;

    InsightsLauncher(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                     std::function<void()> manageHistoryAction, InsightsView::Services services,
                     QObject *parent = nullptr);
    ~InsightsLauncher() override;

    void show();
    // Follows the desktop's reduce-motion wish, for this window and the next ones.
    void setReduceMotion(bool reduce);
    bool reduceMotion() const { return reduceMotion_; }

    QWidget *window() const { return window_; }
    InsightsView *view() const { return view_; }
    InsightsPresentation &presentation() { return *presentation_; }
    std::optional<int> reportContentHeight() const { return reportContentHeight_; }
    const std::function<void()> &manageHistoryAction() const { return manageHistoryAction_; }
    const InsightsView::Services &services() const { return services_; }

    void reportAvailabilityChanged(bool available);
    void reportContentHeightChanged(std::optional<int> height);
    // Sets the window's height from the reported content height (620 until one is reported),
    // capped to the screen's available height; the top edge stays.
    void fitWindowToContent();
    // The content height to use for a reported height and a screen's available height.
    static int fittedContentHeight(std::optional<double> reported, std::optional<int> available, int chrome);

private:
    void buildWindow();
    static QCoro::Task<void> refreshSnapshot(QPointer<HistoryCoordinator> history);

    QPointer<HistoryCoordinator> history_;
    QPointer<ConfigurationManager> configurationManager_;
    std::function<void()> manageHistoryAction_;
    InsightsView::Services services_;
    std::unique_ptr<InsightsPresentation> presentation_;
    QPointer<QWidget> window_;
    QPointer<InsightsView> view_;
    std::optional<int> reportContentHeight_;
    bool reduceMotion_ = false;
};

} // namespace quillby
