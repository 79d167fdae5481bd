#pragma once

#include "core/Clock.h"
#include "core/ProductWebSite.h"
#include "core/async/Sleeper.h"
#include "insights/InsightsCalculationState.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsReportQuality.h"
#include "insights_window/InsightsViewState.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QButtonGroup;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace quillby {

class ConfigurationManager;
class HistoryCoordinator;
class InsightsCollectingView;
class InsightsCollectionProgressView;
class InsightsPageFade;
class InsightsPresentation;
class InsightsReportView;
class InsightsTextSelection;

// The root of the "Insights" window. Once a minute, and whenever the snapshot, the period or the
// reference date changes, it builds the calculation input from the saved history and hands it
// to the calculation state, which computes the report off the main thread and publishes only the
// newest result. It shows one of six states (loading, history unavailable, collecting,
// calculating, empty period, report) with the history error banner above, keeps the snapshot
// fresh, and tells its owner whether a report is available and how tall its content is.
// Main thread.
class InsightsView : public QWidget {
    Q_OBJECT
public:
    struct Services {
        std::shared_ptr<Clock> clock;       // required
        std::shared_ptr<Sleeper> sleeper;   // required
        InsightsCalculationState::Calculate calculate = &InsightsCalculationState::defaultCalculate;
        std::function<LocalCalendar()> calendar = &LocalCalendar::current;
        // Which saved readings are on a fixed cadence; the caller knows where readings come from.
        FixedCadenceRule fixedCadence = nullptr;
        ProductWebSite webSite;   // where the privacy links lead
    };

    static constexpr double kTimelineInterval = 60;
    static constexpr double kSnapshotRefreshInterval = 300;
    static constexpr int kPeriodOptions[] = {14, 30, 90};

    InsightsView(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                 InsightsPresentation *presentation, std::function<void()> manageHistoryAction,
                 std::function<void(bool)> reportAvailabilityChanged,
                 std::function<void(std::optional<int>)> reportContentHeightChanged, Services services,
                 QWidget *parent = nullptr);
    ~InsightsView() override;

    // --- State, for the window and for tests ---
    InsightsViewState state() const { return state_; }
    int selectedDays() const { return selectedDays_; }
    // Stores the choice when the retention allows it; otherwise it is ignored.
    void selectPeriod(int days);
    bool isRefreshing() const { return isRefreshing_; }
    bool isRebuildScheduled() const { return rebuildScheduled_; }
    // The current request: the input last handed to the calculation, without its readings
    // (they stay with the snapshot and the calculation; `hasReadings` tells whether there are any).
    struct Request {
        DateInterval interval;
        std::optional<Date> collectionStartedAt;
        std::optional<std::string> accountScope;
        std::optional<QUuid> historyEpoch;
        bool hasReadings = false;
    };
    const std::optional<Request> &currentRequest() const { return request_; }
    InsightsCalculationState &calculation() { return *calculation_; }
    InsightsReportView *reportView() const { return reportView_; }
    InsightsCollectingView *collectingView() const { return collectingView_; }
    InsightsCollectionProgressView *progressIndicator() const { return progressIndicator_; }
    std::optional<int> reportedContentHeight() const { return reportedHeight_; }
    bool needsUnlockRefresh() const;
    GlucoseUnits unit() const;
    bool isSignedIn() const;

    // --- Actions ---
    void showExplanation();
    void showEnableNotice();
    void retryHistoryLoad();
    InsightsExplanationView *explanationSheet() const { return explanation_; }
    HistoryEnableDisclosureView *enableNoticeSheet() const { return enableNotice_; }

    // Rebuilds the input and the shown state now (the view does this by itself on a later
    // event-loop turn after every change).
    void rebuildNow();
    // The desktop's reduce-motion wish: while it is on every change applies at once (the
    // completion checkmark only fades). Read live: switching it on ends what is moving.
    void setReduceMotion(bool reduce);
    bool reduceMotion() const { return reduceMotion_; }
    // The opacity change between pages (collecting card and report fade; the rest switch at once).
    InsightsPageFade *pageFade() const { return pageFade_; }
    // The report's selectable texts.
    InsightsTextSelection *reportTextSelection() const { return reportSelection_; }

signals:
    void stateChanged();

private:
    void buildLayout();
    QWidget *buildToolbar();
    QWidget *buildErrorBanner();
    QWidget *buildCard(const QString &objectName, const QString &title, const QString &description,
                       QLabel **descriptionLabel);
    QWidget *buildProgressPage(const QString &objectName, const QString &text);
    void scheduleRebuild();
    void rebuildInput();
    void render();
    void renderReport(const InsightsSummary &summary, GlucoseUnits unit);
    void buildReportContainer(const InsightsSummary &summary, GlucoseUnits unit);
    void renderNotes(const std::optional<InsightsReportQuality> &notice);
    void showPage(QWidget *page);
    void updatePeriodPicker(const GlucoseHistorySnapshot *snapshot);
    void reactToSnapshot(const GlucoseHistorySnapshot *snapshot);
    void reportHeight(std::optional<int> height);
    void startCalculation(InsightsCalculationInput input);
    InsightsCalculationInput summaryLookupInput() const;

    static QCoro::Task<void> runTimeline(QPointer<InsightsView> self, std::shared_ptr<Sleeper> sleeper,
                                         std::stop_token stop);
    static QCoro::Task<void> runSnapshotRefresh(QPointer<InsightsView> self, QPointer<HistoryCoordinator> history,
                                                std::shared_ptr<Sleeper> sleeper, std::stop_token stop);
    static QCoro::Task<void> runRetry(QPointer<InsightsView> self, QPointer<HistoryCoordinator> history);
    static QCoro::Task<void> runUnlockRefresh(QPointer<HistoryCoordinator> history);
    static QCoro::Task<void> runCalculation(QPointer<InsightsView> self, QPointer<InsightsCalculationState> state,
                                            InsightsCalculationInput input, std::stop_token stop);

    QPointer<HistoryCoordinator> history_;
    QPointer<ConfigurationManager> configurationManager_;
    QPointer<InsightsPresentation> presentation_;
    std::function<void()> manageHistoryAction_;
    std::function<void(bool)> reportAvailabilityChanged_;
    std::function<void(std::optional<int>)> reportContentHeightChanged_;
    Services services_;

    int selectedDays_ = 14;
    bool isRefreshing_ = true;
    Date tickDate_ = 0;
    std::unique_ptr<InsightsCalculationState> calculation_;
    std::optional<Request> request_;
    std::stop_source calculationStop_;
    std::stop_source lifetimeStop_;
    bool rebuildScheduled_ = false;
    InsightsViewState state_ = InsightsViewState::loading;

    // What the reactions compare with.
    struct ReadingsFingerprint {
        bool present = false;
        std::size_t count = 0;
        Date first = 0;
        Date last = 0;
        double lastValue = 0;
        bool operator==(const ReadingsFingerprint &) const = default;
    };
    std::optional<ReadingsFingerprint> readingsFingerprint_;
    std::optional<int> lastRetention_;
    // What the input is built from, so that a render that changes none of it copies nothing.
    struct InputKey {
        std::uint64_t snapshotGeneration = 0;
        Date referenceDate = 0;
        Date tickDate = 0;
        int selectedDays = 0;
        std::string timeZone;
        bool operator==(const InputKey &) const = default;
    };
    std::uint64_t snapshotGeneration_ = 0;
    std::optional<InputKey> inputKey_;
    std::optional<bool> lastUnlocked_;
    std::optional<bool> lastNeedsUnlockRefresh_;
    std::optional<int> reportedHeight_;
    bool heightReported_ = false;

    // Shown report, rebuilt only when its summary or unit changes (keeps the chart selection).
    std::optional<InsightsSummary> shownSummary_;
    std::optional<GlucoseUnits> shownUnit_;
    std::optional<Date> shownCollectionStart_;
    bool shownSavingOff_ = false;
    bool reduceMotion_ = false;
    std::optional<InsightsReportQuality> shownNotice_;
    bool notesShown_ = false;

    // Widgets.
    QWidget *toolbar_ = nullptr;
    QWidget *periodPicker_ = nullptr;
    QButtonGroup *periodButtons_ = nullptr;
    InsightsCollectionProgressView *progressIndicator_ = nullptr;
    QWidget *errorBanner_ = nullptr;
    QLabel *errorText_ = nullptr;
    QPushButton *errorRetry_ = nullptr;
    QStackedWidget *stack_ = nullptr;
    QWidget *loadingPage_ = nullptr;
    QWidget *calculatingPage_ = nullptr;
    QWidget *unavailablePage_ = nullptr;
    QWidget *emptyPage_ = nullptr;
    QLabel *emptyMessage_ = nullptr;
    InsightsCollectingView *collectingView_ = nullptr;
    QScrollArea *reportScroll_ = nullptr;
    QWidget *reportContainer_ = nullptr;
    InsightsReportView *reportView_ = nullptr;
    QWidget *reportNotes_ = nullptr;
    InsightsTextSelection *reportSelection_ = nullptr;
    InsightsPageFade *pageFade_ = nullptr;
    QPointer<InsightsExplanationView> explanation_;
    QPointer<HistoryEnableDisclosureView> enableNotice_;
};

} // namespace quillby
