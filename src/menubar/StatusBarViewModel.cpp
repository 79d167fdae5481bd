#include "menubar/StatusBarViewModel.h"
#include "core/async/RunDetached.h"

#include "core/GlucoseThresholdSetting.h"
#include "core/async/EventLoopTurn.h"
#include "menubar/MainThread.h"
#include "menubar/StatusBarController.h"

#include <QGuiApplication>
#include <QPalette>

#include <cmath>

namespace quillby {

StatusBarViewModel::StatusBarViewModel(ConfigurationManager &configurationManager,
                                       UpdateAvailabilityProviding &updateChecker, std::shared_ptr<Clock> clock,
                                       std::shared_ptr<Sleeper> sleeper, ControllerFactory makeController,
                                       QObject *parent)
    : QObject(parent),
      configurationManager_(configurationManager),
      updateChecker_(updateChecker),
      clock_(std::move(clock)),
      sleeper_(std::move(sleeper)),
      makeController_(std::move(makeController))
{
    requireMainThread("StatusBarViewModel");
    if (!makeController_) {
        makeController_ = [](StatusBarViewModel &model) -> std::unique_ptr<StatusItemControlling> {
            return std::make_unique<StatusBarController>(model);
        };
    }
    if (configurationManager_.hasCompletedOnboarding() && !controller().hasStatusItem()) {
        controller().setUp();
    }
    // Every change of update availability, and the current value once at subscription, reach
    // the badge and the menu on a later turn of the loop, after the change has taken effect.
    auto onAvailability = [this] {
        updateIndicatorState();
        rebuildMenu();
    };
    connect(&updateChecker_, &UpdateAvailabilityProviding::updateAvailabilityChanged, this, onAvailability,
            Qt::QueuedConnection);
    connect(&updateChecker_, &UpdateAvailabilityProviding::updateInstallFailureChanged, this, onAvailability,
            Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, onAvailability, Qt::QueuedConnection);
}

StatusBarViewModel::~StatusBarViewModel()
{
    cancelFreshnessCheck();
    // The controller refers back to this model; it goes first.
    controller_.reset();
}

QColor StatusBarViewModel::titleColor() const
{
    switch (titleStyle_) {
    case StatusStyle::low:
        return QColor(255, 59, 48);
    case StatusStyle::high:
        return QColor(255, 149, 0);
    case StatusStyle::normal:
        break;
    }
    return QGuiApplication::palette().color(QPalette::WindowText);
}

StatusItemControlling &StatusBarViewModel::controller()
{
    if (!controller_) {
        controller_ = makeController_(*this);
        controller_->setReduceMotion(reduceMotion_);
    }
    return *controller_;
}

void StatusBarViewModel::setReduceMotion(bool reduce)
{
    requireMainThread("StatusBarViewModel::setReduceMotion");
    reduceMotion_ = reduce;
    if (controller_) {
        controller_->setReduceMotion(reduce);
    }
}

GlucoseUnits StatusBarViewModel::displayUnit() const
{
    return units::fromMeasurementUnit(configurationManager_.appSettings().measurementUnit);
}

std::pair<double, double> StatusBarViewModel::thresholds() const
{
    const auto &configuration = configurationManager_.configuration();
    if (!configuration) {
        return {GlucoseThresholds::low.defaultValue, GlucoseThresholds::high.defaultValue};
    }
    return {configuration->app.lowGlucoseThreshold, configuration->app.highGlucoseThreshold};
}

void StatusBarViewModel::rebuildMenu()
{
    if (controller_ && controller_->hasMenu()) {
        controller_->rebuildMenu();
    }
}

void StatusBarViewModel::rebuildMenuIfBuilt()
{
    requireMainThread("StatusBarViewModel::rebuildMenuIfBuilt");
    rebuildMenu();
}

void StatusBarViewModel::setActivity(std::optional<StatusBarActivity> activity, Date now)
{
    requireMainThread("StatusBarViewModel::setActivity");
    activity_ = activity;
    setError(std::nullopt);
    std::optional<GlucoseReading> reading = presentedReading_;
    if (!reading && !glucoseHistory_.empty()) {
        reading = glucoseHistory_.back();
    }
    if (reading) {
        present(*reading, now);
    } else {
        showEmptyState(StatusBarIconState::waiting);
        rebuildMenu();
    }
    emit stateChanged();
}

void StatusBarViewModel::setError(std::optional<ErrorInfo> error)
{
    requireMainThread("StatusBarViewModel::setError");
    currentError_ = std::move(error);
    hasWarning_ = currentError_.has_value() || freshnessWarning_.has_value();
    if (!currentError_) {
        nextRetryAt_.reset();
    } else {
        activity_.reset();
        if (!presentedReading_) {
            if (glucoseHistory_.empty()) {
                showEmptyState(StatusBarIconState::attention);
            } else {
                present(glucoseHistory_.back(), clock_->now());
            }
        }
    }
    updateIndicatorState();
    rebuildMenu();
    emit stateChanged();
}

void StatusBarViewModel::present(const GlucoseReading &reading, Date now)
{
    requireMainThread("StatusBarViewModel::present");
    presentedReading_ = reading;
    const QString value = valueText(displayUnit(), reading.mgdL);
    const double age = readingAge(reading.date, now);
    const Freshness freshness = freshnessForAge(age);

    statusTitle_ = quillby::statusTitle(reading, displayUnit(), now);
    iconState_.reset();
    StatusItemControlling &item = controller();

    if (freshness == Freshness::fresh) {
        freshnessWarning_.reset();
        applyAppearance(QString::fromStdString(reading.trendString), reading.mgdL);
    } else {
        const QString ageWords = relativeAgeText(age);
        freshnessWarning_ = staleReadingWarning(age);
        titleStyle_ = StatusStyle::normal;
        if (item.hasStatusItem()) {
            item.setAccessibilityValue(statusAccessibilityText(QStringLiteral("Stale glucose reading. Last known value ")
                                                                   + value + QStringLiteral(", received ") + ageWords
                                                                   + QStringLiteral(" ago."),
                                                               now));
        }
    }
    // The style is decided before the title reaches the icon, which draws title and colour together.
    item.updateTitle(statusTitle_);
    hasWarning_ = currentError_.has_value() || freshnessWarning_.has_value();
    updateIndicatorState();
    rebuildMenu();
    scheduleFreshnessCheck(reading, freshness, now);
    emit stateChanged();
}

void StatusBarViewModel::applyAppearance(const QString &trend, double value)
{
    const auto [low, high] = thresholds();
    titleStyle_ = iconState_ ? StatusStyle::normal : decideStatusAppearance(trend, value, low, high);
}

void StatusBarViewModel::refreshStatusItem()
{
    requireMainThread("StatusBarViewModel::refreshStatusItem");
    activity_.reset();
    if (iconState_ == StatusBarIconState::waiting) {
        showEmptyState(StatusBarIconState::attention);
    }
    controller().setAccessibilityValue(statusAccessibilityText(statusTitle_, clock_->now()));
    rebuildMenu();
    emit stateChanged();
}

void StatusBarViewModel::updateGlucoseHistory(const GlucoseReadings &readings)
{
    requireMainThread("StatusBarViewModel::updateGlucoseHistory");
    glucoseHistory_ = readings;
    if (readings.empty()) {
        presentedReading_.reset();
        cancelFreshnessCheck();
        freshnessGeneration_ = QUuid::createUuid();
        freshnessWarning_.reset();
        hasWarning_ = currentError_.has_value();
        updateIndicatorState();
    }
    controller().refreshGraph();
    // The menu's reading line shows the newest reading of this list.
    rebuildMenu();
    emit stateChanged();
}

void StatusBarViewModel::setNextRetryAt(std::optional<Date> date)
{
    requireMainThread("StatusBarViewModel::setNextRetryAt");
    nextRetryAt_ = date;
    emit stateChanged();
}

void StatusBarViewModel::setAlertsSnoozedUntil(std::optional<Date> date)
{
    requireMainThread("StatusBarViewModel::setAlertsSnoozedUntil");
    alertsSnoozedUntil_ = date;
    emit stateChanged();
}

void StatusBarViewModel::showEmptyState(StatusBarIconState state)
{
    requireMainThread("StatusBarViewModel::showEmptyState");
    statusTitle_.clear();
    iconState_ = state;
    titleStyle_ = StatusStyle::normal;
    controller().updateTitle(statusTitle_);
    updateIndicatorState();
    emit stateChanged();
}

void StatusBarViewModel::updateIndicatorState()
{
    if (hasWarning_) {
        indicatorState_ = StatusIndicator::warning;
    } else if (updateChecker_.isUpdateAvailable()) {
        indicatorState_ = StatusIndicator::updateAvailable;
    } else {
        indicatorState_ = StatusIndicator::none;
    }
    controller().updateIndicator();
}

void StatusBarViewModel::scheduleFreshnessCheck(const GlucoseReading &reading, Freshness freshness, Date now)
{
    cancelFreshnessCheck();
    const QUuid generation = QUuid::createUuid();
    freshnessGeneration_ = generation;
    if (freshness == Freshness::unavailable) {
        return;
    }
    const double deadline = reading.date + (freshness == Freshness::fresh ? kFreshReadingSeconds : kStaleReadingSeconds);
    if (!std::isfinite(deadline - now)) {
        return;   // a reading without a usable date never turns stale on its own
    }
    const double delay = std::max(0.0, deadline - now);
    std::stop_source stop;
    freshnessStop_ = stop;
    runDetached(runFreshnessCheck(QPointer<StatusBarViewModel>(this), generation, delay, reading, sleeper_, stop.get_token()));
}

void StatusBarViewModel::cancelFreshnessCheck()
{
    if (freshnessStop_) {
        freshnessStop_->request_stop();
        freshnessStop_.reset();
    }
}

QCoro::Task<void> StatusBarViewModel::runFreshnessCheck(QPointer<StatusBarViewModel> self, QUuid generation,
                                                        double delay, GlucoseReading reading,
                                                        std::shared_ptr<Sleeper> sleeper, std::stop_token stop)
{
    co_await sleeper->sleep(delay, stop);
    // Present on a turn of the event loop of its own, even when the sleep returned at once,
    // so a check can never run inside the presentation that scheduled it.
    co_await nextEventLoopTurn();
    if (stop.stop_requested() || !self || self->freshnessGeneration_ != generation) {
        co_return;
    }
    self->freshnessStop_.reset();
    self->present(reading, self->clock_->now());
}

void StatusBarViewModel::appSettingsDidUpdate()
{
    requireMainThread("StatusBarViewModel::appSettingsDidUpdate");
    runDetached(runSettingsUpdate(QPointer<StatusBarViewModel>(this)));
}

QCoro::Task<void> StatusBarViewModel::runSettingsUpdate(QPointer<StatusBarViewModel> self)
{
    ConfigurationManager &manager = self->configurationManager_;
    if (!manager.configuration() || manager.configurationLoadFailed()) {
        co_await manager.loadConfiguration();
        if (!self) {
            co_return;
        }
    }
    self->controller().refreshGraph();
    if (!self->glucoseHistory_.empty()) {
        self->present(self->glucoseHistory_.back(), self->clock_->now());
    }
    self->rebuildMenu();
}

QString StatusBarViewModel::statusAccessibilityText(const QString &title, Date now) const
{
    StatusSpeechInput input;
    input.title = title;
    input.glucoseHistory = glucoseHistory_;
    input.activity = activity_;
    input.currentError = currentError_;
    input.isUpdateAvailable = updateChecker_.isUpdateAvailable();
    input.unit = displayUnit();
    std::tie(input.lowThreshold, input.highThreshold) = thresholds();
    return quillby::statusAccessibilityText(input, now);
}

StatusBarMenuState StatusBarViewModel::menuState() const
{
    StatusBarMenuState state;
    state.glucoseHistory = glucoseHistory_;
    state.unit = displayUnit();
    state.currentError = currentError_;
    state.freshnessWarning = freshnessWarning_;
    state.nextRetryAt = nextRetryAt_;
    state.alertsSnoozedUntil = alertsSnoozedUntil_;
    state.isUpdateAvailable = updateChecker_.isUpdateAvailable();
    state.updateInstallFailure = updateChecker_.updateInstallFailure();
    if (const auto &configuration = configurationManager_.configuration()) {
        const AppSettings &settings = configuration->app;
        state.alertsEnabled = settings.alertsEnabled;
        state.allAlertKindsSnooze = settings.snoozeLowAlerts && settings.snoozeHighAlerts
            && settings.snoozeRapidChangeAlerts;
    }
    return state;
}

void StatusBarViewModel::performMenuAction(StatusBarMenuAction action)
{
    requireMainThread("StatusBarViewModel::performMenuAction");
    auto call = [](const std::function<void()> &hook) {
        if (hook) {
            hook();
        }
    };
    switch (action) {
    case StatusBarMenuAction::none:
        break;
    case StatusBarMenuAction::settings:
        call(settingsAction);
        break;
    case StatusBarMenuAction::insights:
        call(insightsAction);
        break;
    case StatusBarMenuAction::quit:
        call(quitAction);
        break;
    case StatusBarMenuAction::snooze30Minutes:
        if (snoozeAlertsAction) {
            snoozeAlertsAction(1800);
        }
        break;
    case StatusBarMenuAction::snooze2Hours:
        if (snoozeAlertsAction) {
            snoozeAlertsAction(7200);
        }
        break;
    case StatusBarMenuAction::resumeAlerts:
        call(clearSnoozeAlertsAction);
        break;
    case StatusBarMenuAction::downloadUpdate:
        if (!updateChecker_.installPendingUpdate()) {
            updateChecker_.checkForUpdates();
        }
        break;
    }
}

void StatusBarViewModel::prepareForMenuOpen()
{
    requireMainThread("StatusBarViewModel::prepareForMenuOpen");
    if (!glucoseHistory_.empty()) {
        present(glucoseHistory_.back(), clock_->now());
    }
}

} // namespace quillby
