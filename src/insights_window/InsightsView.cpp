#include "insights_window/InsightsView.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "history/HistoryCoordinator.h"
#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsCollectingView.h"
#include "insights_window/InsightsCollectionProgressView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsMotion.h"
#include "insights_window/InsightsPageFade.h"
#include "insights_window/InsightsPresentation.h"
#include "insights_window/InsightsReportQuality.h"
#include "insights_window/InsightsReportView.h"
#include "insights_window/InsightsSurfaces.h"
#include "insights_window/InsightsTextSelection.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillby {

InsightsView::InsightsView(HistoryCoordinator *history, ConfigurationManager *configurationManager,
                           InsightsPresentation *presentation, std::function<void()> manageHistoryAction,
                           std::function<void(bool)> reportAvailabilityChanged,
                           std::function<void(std::optional<int>)> reportContentHeightChanged, Services services,
                           QWidget *parent)
    : QWidget(parent)
    , history_(history)
    , configurationManager_(configurationManager)
    , presentation_(presentation)
    , manageHistoryAction_(std::move(manageHistoryAction))
    , reportAvailabilityChanged_(std::move(reportAvailabilityChanged))
    , reportContentHeightChanged_(std::move(reportContentHeightChanged))
    , services_(std::move(services))
    , tickDate_(services_.clock->now())
    , calculation_(std::make_unique<InsightsCalculationState>(services_.calculate))
{
    setObjectName(QStringLiteral("insightsView"));
    // The Insights window is light whatever the desktop's scheme; so is this view wherever it is put.
    useInsightsAppearance(this);
    buildLayout();

    const auto schedule = [this] { scheduleRebuild(); };
    const auto snapshotMoved = [this] {
        ++snapshotGeneration_;
        scheduleRebuild();
    };
    if (history_) {
        connect(history_, &HistoryCoordinator::snapshotChanged, this, snapshotMoved);
        connect(history_, &HistoryCoordinator::selectedScopeChanged, this, snapshotMoved);
        connect(history_, &HistoryCoordinator::errorMessageChanged, this, schedule);
        connect(history_, &HistoryCoordinator::isBusyChanged, this, schedule);
    }
    if (configurationManager_) {
        connect(configurationManager_, &ConfigurationManager::configurationChanged, this, snapshotMoved);
    }
    if (presentation_) {
        connect(presentation_, &InsightsPresentation::referenceDateChanged, this, schedule);
    }
    connect(calculation_.get(), &InsightsCalculationState::resultChanged, this, schedule);
    connect(calculation_.get(), &InsightsCalculationState::publishedInputChanged, this, schedule);

    rebuildNow();
    runDetached(runTimeline(QPointer<InsightsView>(this), services_.sleeper, lifetimeStop_.get_token()));
    runDetached(runSnapshotRefresh(QPointer<InsightsView>(this), history_, services_.sleeper, lifetimeStop_.get_token()));
}

InsightsView::~InsightsView()
{
    lifetimeStop_.request_stop();
    calculationStop_.request_stop();
}

// ---------------------------------------------------------------------------------------------
// Layout

void InsightsView::buildLayout()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toolbar_ = buildToolbar();
    column->addWidget(toolbar_);
    errorBanner_ = buildErrorBanner();
    column->addWidget(errorBanner_);

    stack_ = new QStackedWidget(this);
    loadingPage_ = buildProgressPage(QStringLiteral("insightsLoading"), QStringLiteral("Loading history…"));
    calculatingPage_ = buildProgressPage(QStringLiteral("insightsCalculating"), QStringLiteral("Calculating insights…"));
    unavailablePage_ = buildCard(QStringLiteral("insightsHistoryUnavailable"), QStringLiteral("History unavailable"),
                                 QStringLiteral("Your saved history could not be read. You can try again or manage it "
                                                "in Insights settings."),
                                 nullptr);
    emptyPage_ = buildCard(QStringLiteral("insightsEmptyPeriod"), QStringLiteral("No readings in this period"), QString(),
                           &emptyMessage_);
    const QPointer<InsightsView> self(this);
    collectingView_ = new InsightsCollectingView(
        [self] {
            if (self) {
                self->showEnableNotice();
            }
        },
        [self] {
            if (self && self->manageHistoryAction_) {
                self->manageHistoryAction_();
            }
        },
        [self] {
            if (self) {
                self->retryHistoryLoad();
            }
        },
        stack_);
    reportScroll_ = new QScrollArea(stack_);
    reportScroll_->setObjectName(QStringLiteral("insightsReport"));
    reportScroll_->setWidgetResizable(true);
    reportScroll_->setFrameShape(QFrame::NoFrame);
    reportScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    reportScroll_->viewport()->setAutoFillBackground(false);
    // Reached with Tab for scrolling by keyboard; a click in the report (selecting its text)
    // leaves the keyboard focus where it was.
    reportScroll_->setFocusPolicy(Qt::TabFocus);
    for (QWidget *page : {loadingPage_, calculatingPage_, unavailablePage_, static_cast<QWidget *>(collectingView_),
                          emptyPage_, static_cast<QWidget *>(reportScroll_)}) {
        stack_->addWidget(page);
    }
    column->addWidget(stack_, 1);
    pageFade_ = new InsightsPageFade(this);
}

QWidget *InsightsView::buildToolbar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("insightsToolbar"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 12, 10);
    row->setSpacing(8);

    progressIndicator_ = new InsightsCollectionProgressView(presentation_->collectionStatus(), services_.sleeper, bar);
    row->addWidget(progressIndicator_);
    row->addStretch(1);

    periodPicker_ = new QWidget(bar);
    periodPicker_->setObjectName(QStringLiteral("insightsPeriodPicker"));
    periodPicker_->setAccessibleName(QStringLiteral("Period"));
    periodPicker_->setToolTip(QStringLiteral("Report period"));
    periodPicker_->setFixedWidth(230);
    auto *segments = new QHBoxLayout(periodPicker_);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    periodButtons_ = new QButtonGroup(periodPicker_);
    periodButtons_->setExclusive(true);
    for (const int days : kPeriodOptions) {
        auto *button = new QToolButton(periodPicker_);
        button->setText(QStringLiteral("%1 days").arg(days));
        button->setObjectName(QStringLiteral("insightsPeriod%1").arg(days));
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        periodButtons_->addButton(button, days);
        segments->addWidget(button);
    }
    connect(periodButtons_, &QButtonGroup::idClicked, this, [this](int days) { selectPeriod(days); });
    row->addWidget(periodPicker_);
    row->addStretch(1);

    struct Action {
        QString objectName, label, symbol, help;
        std::function<void()> run;
    };
    const QPointer<InsightsView> self(this);
    const Action actions[] = {
        {QStringLiteral("insightsAboutButton"), QStringLiteral("About Insights"), QStringLiteral("info.circle"),
         QStringLiteral("How these numbers are calculated"),
         [self] {
             if (self) {
                 self->showExplanation();
             }
         }},
        {QStringLiteral("insightsSettingsButton"), QStringLiteral("Insights settings"), QStringLiteral("gearshape"),
         QStringLiteral("Open Insights settings"),
         [self] {
             if (self && self->manageHistoryAction_) {
                 self->manageHistoryAction_();
             }
         }},
    };
    for (const auto &action : actions) {
        auto *button = new QToolButton(bar);
        button->setObjectName(action.objectName);
        button->setText(action.label);
        button->setAccessibleName(action.label);
        button->setToolTip(action.help);
        button->setIcon(insightsSymbol(action.symbol, InsightsColors::palette().color(QPalette::ButtonText)));
        button->setIconSize(QSize(18, 18));
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, action.run);
        row->addWidget(button);
    }
    return bar;
}

QWidget *InsightsView::buildErrorBanner()
{
    auto *banner = new QWidget(this);
    auto *column = new QVBoxLayout(banner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *rowWidget = new QWidget(banner);
    rowWidget->setObjectName(QStringLiteral("insightsHistoryError"));
    rowWidget->setAutoFillBackground(true);
    rowWidget->setBackgroundRole(QPalette::AlternateBase);
    auto *row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(8);
    auto *icon = new QLabel(rowWidget);
    icon->setPixmap(insightsSymbol(QStringLiteral("exclamationmark.triangle"), InsightsColors::orange()).pixmap(16, 16));
    row->addWidget(icon, 0, Qt::AlignTop);
    errorText_ = plainLabel(QString(), rowWidget);
    errorText_->setObjectName(QStringLiteral("insightsHistoryErrorText"));
    errorText_->setWordWrap(true);
    row->addWidget(errorText_, 1, Qt::AlignTop);
    errorRetry_ = new QPushButton(QStringLiteral("Try again"), rowWidget);
    errorRetry_->setObjectName(QStringLiteral("insightsRetryButton"));
    connect(errorRetry_, &QPushButton::clicked, this, &InsightsView::retryHistoryLoad);
    row->addWidget(errorRetry_, 0, Qt::AlignTop);
    column->addWidget(rowWidget);
    column->addWidget(makeSeparator(Qt::Horizontal, banner));
    banner->hide();
    return banner;
}

QWidget *InsightsView::buildCard(const QString &objectName, const QString &title, const QString &description,
                                 QLabel **descriptionLabel)
{
    auto *page = new QWidget(this);
    page->setObjectName(objectName);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(48, 32, 48, 32);
    column->setSpacing(10);
    column->addStretch(1);
    auto *icon = new QLabel(page);
    icon->setPixmap(insightsSecondarySymbol(QStringLiteral("chart.bar.xaxis")).pixmap(40, 40));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    auto *heading = plainLabel(title, page);
    scaleFont(heading, 1.4, QFont::Bold);
    column->addWidget(heading, 0, Qt::AlignHCenter);
    auto *text = plainLabel(description, page);
    text->setObjectName(objectName + QStringLiteral("Description"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter);
    text->setMaximumWidth(460);
    useSecondaryText(text);
    column->addWidget(text, 0, Qt::AlignHCenter);
    if (descriptionLabel) {
        *descriptionLabel = text;
    }
    auto *button = new QPushButton(QStringLiteral("Insights settings"), page);
    button->setObjectName(objectName + QStringLiteral("SettingsButton"));
    connect(button, &QPushButton::clicked, this, [this] {
        if (manageHistoryAction_) {
            manageHistoryAction_();
        }
    });
    column->addSpacing(6);
    column->addWidget(button, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return page;
}

QWidget *InsightsView::buildProgressPage(const QString &objectName, const QString &text)
{
    auto *page = new QWidget(this);
    page->setObjectName(objectName);
    auto *column = new QVBoxLayout(page);
    column->addStretch(1);
    auto *bar = new QProgressBar(page);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedWidth(160);
    column->addWidget(bar, 0, Qt::AlignHCenter);
    auto *label = plainLabel(text, page);
    useSecondaryText(label);
    column->addWidget(label, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return page;
}

// ---------------------------------------------------------------------------------------------
// Input and calculation

GlucoseUnits InsightsView::unit() const
{
    return configurationManager_ ? units::fromMeasurementUnit(configurationManager_->measurementUnit()) : GlucoseUnits::mmolL;
}

bool InsightsView::isSignedIn() const
{
    return configurationManager_ && configurationManager_->configuration() &&
           configurationManager_->configuration()->account.isComplete();
}

void InsightsView::selectPeriod(int days)
{
    const auto *snapshot = history_ ? currentHistorySnapshot(*history_) : nullptr;
    const bool allowed = snapshot ? days <= snapshot->configuration.retentionDays : days < 91;
    if (allowed && days != selectedDays_) {
        selectedDays_ = days;
        rebuildNow();
    } else {
        updatePeriodPicker(snapshot);
    }
}

bool InsightsView::needsUnlockRefresh() const
{
    const auto *snapshot = history_ ? currentHistorySnapshot(*history_) : nullptr;
    std::optional<InsightsHistorySnapshotIdentity> identity;
    if (snapshot) {
        identity = InsightsHistorySnapshotIdentity{snapshot->configuration.accountScope, snapshot->configuration.epoch,
                                                   !snapshot->readings.empty()};
    }
    const auto progress = calculation_->collectionProgress(identity);
    return progress && progress->meetsReadinessGates() && (!snapshot || !snapshot->configuration.insightsUnlocked());
}

void InsightsView::scheduleRebuild()
{
    if (rebuildScheduled_) {
        return;
    }
    rebuildScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        if (rebuildScheduled_) {
            rebuildNow();
        }
    });
}

void InsightsView::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    collectingView_->setReduceMotion(reduce);
    progressIndicator_->setReduceMotion(reduce);
    if (reduce) {
        pageFade_->finish();
        if (reportView_) {
            reportView_->finishAnimations();
        }
    }
}

void InsightsView::showPage(QWidget *page)
{
    QWidget *current = stack_->currentWidget();
    if (page == current) {
        return;
    }
    // The collecting card and the report come and go with a fade; the other pages switch at once.
    const auto fades = [this](const QWidget *p) { return p == collectingView_ || p == reportScroll_; };
    const auto curve = InsightsMotion::forWidget(stack_, reduceMotion_, InsightsMotion::easeInOut());
    if (!curve || (!fades(current) && !fades(page))) {
        pageFade_->finish();
        stack_->setCurrentWidget(page);
        return;
    }
    QPixmap leaving;
    QRect leavingRect;
    double leavingOpacity = 1;
    if (current && fades(current)) {
        // As it is shown now: a page still fading in leaves from where it got to.
        if (pageFade_->isRunning() && pageFade_->arrivingPage() == current) {
            leavingOpacity = pageFade_->arrivingOpacity();
        }
        leaving = current->grab();
        leavingRect = QRect(current->mapTo(this, QPoint(0, 0)), current->size());
    }
    stack_->setCurrentWidget(page);
    pageFade_->start(leaving, leavingRect, leavingOpacity, fades(page) ? page : nullptr,
                     InsightsColors::windowBackground(palette()), curve);
}

void InsightsView::rebuildNow()
{
    rebuildScheduled_ = false;
    rebuildInput();
    // Once the latest three days pass the gates, one refresh lets the store record the unlock.
    const bool needsRefresh = needsUnlockRefresh();
    if (needsRefresh != lastNeedsUnlockRefresh_) {
        lastNeedsUnlockRefresh_ = needsRefresh;
        if (needsRefresh) {
            runDetached(runUnlockRefresh(history_));
        }
    }
    render();
}

void InsightsView::reactToSnapshot(const GlucoseHistorySnapshot *snapshot)
{
    // New saved readings move the period's end to the moment they arrive.
    ReadingsFingerprint fingerprint;
    if (snapshot) {
        fingerprint.present = true;
        fingerprint.count = snapshot->readings.size();
        if (!snapshot->readings.empty()) {
            fingerprint.first = snapshot->readings.front().date;
            fingerprint.last = snapshot->readings.back().date;
            fingerprint.lastValue = snapshot->readings.back().mgdL;
        }
    }
    if (readingsFingerprint_ && *readingsFingerprint_ != fingerprint && presentation_) {
        presentation_->setReferenceDate(services_.clock->now());
    }
    readingsFingerprint_ = fingerprint;

    // A lower retention narrows the period with it.
    const std::optional<int> retention =
        snapshot ? std::optional<int>(snapshot->configuration.retentionDays) : std::nullopt;
    if (retention != lastRetention_ && retention && *retention < selectedDays_) {
        selectedDays_ = *retention;
    }
    lastRetention_ = retention;
}

void InsightsView::rebuildInput()
{
    const auto *snapshot = history_ ? currentHistorySnapshot(*history_) : nullptr;
    reactToSnapshot(snapshot);

    const Date reference = presentation_ ? presentation_->referenceDate() : tickDate_;
    const LocalCalendar calendar = services_.calendar();
    const InputKey key{snapshotGeneration_, reference, tickDate_, selectedDays_, calendar.timeZoneIdentifier()};
    if (inputKey_ == key && request_) {
        return;   // nothing the input is made of has changed
    }
    inputKey_ = key;
    const Date end = std::max(reference, tickDate_);
    // A new key is a new input: the snapshot only signals when its content changed. The input
    // shares the snapshot's list of readings; nothing is copied on the way to the calculation.
    InsightsCalculationInput input;
    if (snapshot) {
        input.readings = snapshot->readings;
        input.collectionStartedAt = snapshot->configuration.collectionStartedAt;
        input.accountScope = snapshot->configuration.accountScope;
        input.historyEpoch = snapshot->configuration.epoch;
    }
    input.interval = DateInterval(end - selectedDays_ * 86400.0, end);
    input.calendar = calendar;
    input.fixedCadence = services_.fixedCadence;
    request_ = Request{input.interval, input.collectionStartedAt, input.accountScope, input.historyEpoch,
                       !input.readings.empty()};
    startCalculation(std::move(input));
}

InsightsCalculationInput InsightsView::summaryLookupInput() const
{
    // What the calculation state needs to match its published report: the history identity and
    // whether the input holds readings (one stands for all of them).
    InsightsCalculationInput input;
    if (request_) {
        input.interval = request_->interval;
        input.collectionStartedAt = request_->collectionStartedAt;
        input.accountScope = request_->accountScope;
        input.historyEpoch = request_->historyEpoch;
        if (request_->hasReadings) {
            input.readings = GlucoseReadings(1);
        }
    }
    return input;
}

void InsightsView::startCalculation(InsightsCalculationInput input)
{
    calculationStop_.request_stop();
    calculationStop_ = std::stop_source();
    runDetached(runCalculation(QPointer<InsightsView>(this), QPointer<InsightsCalculationState>(calculation_.get()),
                   std::move(input), calculationStop_.get_token()));
}

QCoro::Task<void> InsightsView::runCalculation(QPointer<InsightsView> self, QPointer<InsightsCalculationState> state,
                                               InsightsCalculationInput input, std::stop_token stop)
{
    if (!state) {
        co_return;
    }
    // The newest request alone publishes; a superseded one is dropped by the state.
    co_await state->update(std::move(input), {}, stop);
    if (self && !stop.stop_requested()) {
        self->scheduleRebuild();
    }
}

QCoro::Task<void> InsightsView::runTimeline(QPointer<InsightsView> self, std::shared_ptr<Sleeper> sleeper,
                                            std::stop_token stop)
{
    while (!stop.stop_requested()) {
        co_await sleeper->sleep(kTimelineInterval, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        self->tickDate_ = self->services_.clock->now();
        self->rebuildNow();
    }
}

QCoro::Task<void> InsightsView::runSnapshotRefresh(QPointer<InsightsView> self, QPointer<HistoryCoordinator> history,
                                                   std::shared_ptr<Sleeper> sleeper, std::stop_token stop)
{
    bool first = true;
    while (!stop.stop_requested()) {
        if (history) {
            co_await history->requestSnapshotRefresh();
        }
        if (!self || stop.stop_requested()) {
            co_return;
        }
        if (self->presentation_) {
            self->presentation_->setReferenceDate(self->services_.clock->now());
        }
        if (first) {
            first = false;
            self->isRefreshing_ = false;
            self->scheduleRebuild();
        }
        co_await sleeper->sleep(kSnapshotRefreshInterval, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
    }
}

QCoro::Task<void> InsightsView::runRetry(QPointer<InsightsView> self, QPointer<HistoryCoordinator> history)
{
    if (history) {
        co_await history->requestSnapshotRefresh();
    }
    if (self) {
        self->isRefreshing_ = false;
        self->scheduleRebuild();
    }
}

QCoro::Task<void> InsightsView::runUnlockRefresh(QPointer<HistoryCoordinator> history)
{
    if (history) {
        co_await history->requestSnapshotRefresh();
    }
}

void InsightsView::retryHistoryLoad()
{
    if (presentation_) {
        presentation_->setReferenceDate(services_.clock->now());
    }
    isRefreshing_ = true;
    render();
    runDetached(runRetry(QPointer<InsightsView>(this), history_));
}

// ---------------------------------------------------------------------------------------------
// Sheets

void InsightsView::showExplanation()
{
    if (explanation_) {
        explanation_->raise();
        return;
    }
    auto *sheet = new InsightsExplanationView(unit(), services_.webSite.privacyPolicy(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    explanation_ = sheet;
    sheet->open();
}

void InsightsView::showEnableNotice()
{
    if (enableNotice_) {
        enableNotice_->raise();
        return;
    }
    auto *sheet = new HistoryEnableDisclosureView(history_, isSignedIn(), services_.webSite.privacyPolicy(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    enableNotice_ = sheet;
    sheet->open();
}

// ---------------------------------------------------------------------------------------------
// Rendering

void InsightsView::updatePeriodPicker(const GlucoseHistorySnapshot *snapshot)
{
    const int limit = snapshot ? snapshot->configuration.retentionDays : 90;
    for (const int days : kPeriodOptions) {
        auto *button = periodButtons_->button(days);
        button->setEnabled(days <= limit);
        button->setChecked(days == selectedDays_);
    }
}

void InsightsView::reportHeight(std::optional<int> height)
{
    if (heightReported_ && height == reportedHeight_) {
        return;
    }
    heightReported_ = true;
    reportedHeight_ = height;
    if (reportContentHeightChanged_) {
        reportContentHeightChanged_(height);
    }
}

void InsightsView::render()
{
    const auto *snapshot = history_ ? currentHistorySnapshot(*history_) : nullptr;
    const bool unlocked = snapshot && snapshot->configuration.insightsUnlocked();
    const bool saving = snapshot && snapshot->configuration.isEnabled;
    const bool hasSavedReadings = snapshot && !snapshot->readings.empty();
    const int retention = snapshot ? snapshot->configuration.retentionDays : 90;
    const bool busy = history_ && history_->isBusy();
    const std::optional<QString> errorMessage =
        history_ && history_->errorMessage() ? std::optional<QString>(QString::fromStdString(*history_->errorMessage()))
                                             : std::nullopt;
    std::optional<InsightsHistorySnapshotIdentity> identity;
    if (snapshot) {
        identity = InsightsHistorySnapshotIdentity{snapshot->configuration.accountScope, snapshot->configuration.epoch,
                                                   hasSavedReadings};
    }
    const auto progress = calculation_->collectionProgress(identity);
    const auto summary = request_ ? calculation_->summary(summaryLookupInput()) : std::nullopt;

    InsightsStateFacts facts;
    facts.hasSnapshot = snapshot != nullptr;
    facts.busy = busy;
    facts.refreshing = isRefreshing_;
    facts.hasProgress = progress.has_value();
    facts.unlocked = unlocked;
    facts.snapshotHasReadings = hasSavedReadings;
    if (summary) {
        facts.summaryReadingCount = summary->readingCount;
    }
    const InsightsViewState state = selectInsightsViewState(facts);

    // Unlock flag: availability for the window, and the explanation goes with the report.
    if (lastUnlocked_ != unlocked) {
        lastUnlocked_ = unlocked;
        if (!unlocked) {
            if (explanation_) {
                explanation_->close();
            }
            reportHeight(std::nullopt);
        }
        if (reportAvailabilityChanged_) {
            reportAvailabilityChanged_(unlocked);
        }
    }

    toolbar_->setVisible(unlocked);
    updatePeriodPicker(snapshot);
    InsightsCollectionProgressView::Input indicatorInput;
    indicatorInput.progress = progress;
    if (snapshot) {
        indicatorInput.accountScope = snapshot->configuration.accountScope;
        indicatorInput.historyEpoch = snapshot->configuration.epoch;
    }
    indicatorInput.hasUnlockedInsights = unlocked;
    progressIndicator_->setInput(indicatorInput, saving);

    const bool banner = showsInsightsErrorBanner(errorMessage.has_value(), unlocked, progress.has_value());
    errorBanner_->setVisible(banner);
    errorText_->setText(errorMessage.value_or(QString()));
    errorRetry_->setEnabled(!isRefreshing_ && !busy);

    switch (state) {
    case InsightsViewState::loading:
        showPage(loadingPage_);
        break;
    case InsightsViewState::historyUnavailable:
        showPage(unavailablePage_);
        break;
    case InsightsViewState::calculating:
        showPage(calculatingPage_);
        break;
    case InsightsViewState::collecting: {
        InsightsCollectingView::Model model;
        model.presentation = InsightsReadinessPresentation{progress, saving, hasSavedReadings};
        model.canEnableHistory = isSignedIn() && !busy && !isRefreshing_;
        model.errorMessage = errorMessage;
        model.isRetrying = isRefreshing_ || busy;
        collectingView_->setModel(model);
        showPage(collectingView_);
        break;
    }
    case InsightsViewState::emptyPeriod:
        emptyMessage_->setText(insightsEmptyPeriodMessage(snapshot != nullptr, saving, selectedDays_, retention));
        showPage(emptyPage_);
        break;
    case InsightsViewState::report:
        shownSavingOff_ = snapshot && !saving;
        renderReport(*summary, unit());
        showPage(reportScroll_);
        break;
    }

    // The content height: the report's full height plus the banner's, or none without a report.
    if (state == InsightsViewState::report && reportContainer_) {
        reportContainer_->adjustSize();
        const int viewportWidth = std::max(reportScroll_->viewport()->width(), 600);
        const int reportHeightValue = std::max({reportContainer_->hasHeightForWidth()
                                                    ? reportContainer_->heightForWidth(viewportWidth)
                                                    : 0,
                                                reportContainer_->sizeHint().height(),
                                                reportContainer_->minimumSizeHint().height()});
        const int bannerHeight = banner ? std::max(errorBanner_->sizeHint().height(), errorBanner_->height()) : 0;
        const int toolbarHeight =
            toolbar_->isVisibleTo(this) ? std::max(toolbar_->sizeHint().height(), toolbar_->height()) : 0;
        reportHeight(reportHeightValue + bannerHeight + toolbarHeight);
    } else {
        reportHeight(std::nullopt);
    }

    if (state != state_) {
        state_ = state;
        emit stateChanged();
    }
}

void InsightsView::renderReport(const InsightsSummary &summary, GlucoseUnits unit)
{
    const std::optional<Date> collectionStart = request_ ? request_->collectionStartedAt : std::nullopt;
    if (reportContainer_ && shownSummary_ == summary && shownUnit_ == unit && shownCollectionStart_ == collectionStart &&
        reportNotes_->property("savingOff").toBool() == shownSavingOff_) {
        return;
    }
    if (!reportContainer_) {
        buildReportContainer(summary, unit);
    } else if (shownSummary_ != summary || shownUnit_ != unit) {
        // A new result moves the numbers on the report that is shown (0.3 s ease-in-out).
        reportView_->setSummary(summary, unit,
                                InsightsMotion::forWidget(reportView_, reduceMotion_, InsightsMotion::easeInOut()));
        reportSelection_->addLabels(reportView_);
    }
    shownSummary_ = summary;
    shownUnit_ = unit;
    shownCollectionStart_ = collectionStart;
    auto notice = InsightsReportQuality::make(summary, collectionStart);
    if (!notesShown_ || notice != shownNotice_ || reportNotes_->property("savingOff").toBool() != shownSavingOff_) {
        notesShown_ = true;
        shownNotice_ = notice;
        renderNotes(notice);
    }
}

void InsightsView::buildReportContainer(const InsightsSummary &summary, GlucoseUnits unit)
{
    auto *container = new QWidget();
    auto *outer = new QHBoxLayout(container);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *inner = new QWidget(container);
    inner->setMaximumWidth(1200);
    auto *column = new QVBoxLayout(inner);
    column->setContentsMargins(32, 28, 32, 24);
    column->setSpacing(28);
    reportView_ = new InsightsReportView(summary, unit, inner);
    column->addWidget(reportView_);

    reportNotes_ = new QWidget(inner);
    reportNotes_->setObjectName(QStringLiteral("insightsNotes"));
    auto *notesColumn = new QVBoxLayout(reportNotes_);
    notesColumn->setContentsMargins(0, 0, 0, 0);
    notesColumn->setSpacing(8);
    column->addWidget(reportNotes_);
    column->addStretch(1);
    outer->addWidget(inner, 1);

    reportScroll_->setWidget(container);
    reportContainer_ = container;
    reportSelection_ = new InsightsTextSelection(container);
    reportSelection_->addLabels(reportView_);
}

void InsightsView::renderNotes(const std::optional<InsightsReportQuality> &notice)
{
    auto *notesColumn = static_cast<QVBoxLayout *>(reportNotes_->layout());
    while (QLayoutItem *item = notesColumn->takeAt(0)) {
        if (item->widget()) {
            delete item->widget();
        } else if (item->layout()) {
            while (QLayoutItem *inner = item->layout()->takeAt(0)) {
                delete inner->widget();
                delete inner;
            }
        }
        delete item;
    }
    reportNotes_->setProperty("savingOff", shownSavingOff_);
    if (notice) {
        auto *row = new QWidget(reportNotes_);
        row->setObjectName(InsightsReportQuality::identifier(notice->kind));
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(6);
        auto *icon = new QLabel(row);
        icon->setPixmap(insightsSecondarySymbol(notice->systemImage).pixmap(16, 16));
        rowLayout->addWidget(icon, 0, Qt::AlignTop);
        auto *text = plainLabel(notice->text, row);
        text->setObjectName(QStringLiteral("noticeText"));
        text->setWordWrap(true);
        useSecondaryText(text);
        rowLayout->addWidget(text, 1);
        row->setAccessibleName(notice->text);
        notesColumn->addWidget(row);
        reportSelection_->add(text);
    }
    auto *footer = new QVBoxLayout();
    footer->setSpacing(4);
    if (shownSavingOff_) {
        auto *paused = new QWidget(reportNotes_);
        paused->setObjectName(QStringLiteral("insightsSavingOffLabel"));
        auto *pausedRow = new QHBoxLayout(paused);
        pausedRow->setContentsMargins(0, 0, 0, 0);
        pausedRow->setSpacing(4);
        auto *icon = new QLabel(paused);
        icon->setPixmap(insightsSecondarySymbol(QStringLiteral("pause.circle")).pixmap(14, 14));
        pausedRow->addWidget(icon);
        auto *text = plainLabel(QStringLiteral("Saving is off, so new readings aren’t being added."), paused);
        useSecondaryText(text);
        scaleFont(text, 0.85);
        pausedRow->addWidget(text, 1);
        footer->addWidget(paused);
    }
    auto *disclaimer = plainLabel(QStringLiteral("Calculated on this computer. Insights are supplementary and don’t "
                                                 "replace your sensor app or your clinician’s advice."),
                                  reportNotes_);
    disclaimer->setObjectName(QStringLiteral("insightsDisclaimer"));
    disclaimer->setWordWrap(true);
    useSecondaryText(disclaimer);
    scaleFont(disclaimer, 0.85);
    footer->addWidget(disclaimer);
    notesColumn->addLayout(footer);
}

} // namespace quillby
