#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/ConfigurationManager.h"
#include "menubar/StatusBarMenuModel.h"
#include "menubar/StatusBarTypes.h"
#include "menubar/StatusItemControlling.h"
#include "menubar/StatusText.h"
#include "core/UpdateAvailabilityProviding.h"
#include "polling/StatusBarPollingPresenting.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

// The observable state of the status item and the one place that decides how the newest
// reading is shown: title, colour style, staleness warning, badge and the icon shown while no
// reading is available. The poller writes into it; the status item controller, which it owns,
// draws it. It re-checks a reading's freshness on a timer so the title turns stale on its own.
// Main thread only.
class StatusBarViewModel : public QObject, public StatusBarPollingPresenting {
    Q_OBJECT
public:
    using ControllerFactory = std::function<std::unique_ptr<StatusItemControlling>(StatusBarViewModel &)>;

    // Sets up the status item at once when onboarding is already complete, and follows the
    // update checker. `makeController` defaults to the tray controller (StatusBarController).
    StatusBarViewModel(ConfigurationManager &configurationManager, UpdateAvailabilityProviding &updateChecker,
                       std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper,
                       ControllerFactory makeController = {}, QObject *parent = nullptr);
    ~StatusBarViewModel() override;

    // --- Published state (stateChanged() follows every change) ---
    const QString &statusTitle() const { return statusTitle_; }
    std::optional<StatusBarIconState> iconState() const { return iconState_; }
    std::optional<StatusBarActivity> activity() const override { return activity_; }
    // The colour style of the title; titleColor() is its colour (primary, red or orange).
    StatusStyle titleStyle() const { return titleStyle_; }
    QColor titleColor() const;
    const GlucoseReadings &glucoseHistory() const override { return glucoseHistory_; }
    std::optional<ErrorInfo> currentError() const override { return currentError_; }
    const std::optional<ErrorInfo> &freshnessWarning() const { return freshnessWarning_; }
    bool hasWarning() const { return hasWarning_; }
    std::optional<Date> alertsSnoozedUntil() const override { return alertsSnoozedUntil_; }
    std::optional<Date> nextRetryAt() const override { return nextRetryAt_; }
    StatusIndicator indicatorState() const { return indicatorState_; }
    const std::optional<GlucoseReading> &presentedReading() const { return presentedReading_; }
    bool isFreshnessCheckScheduled() const { return freshnessStop_.has_value(); }

    ConfigurationManager &configurationManager() const { return configurationManager_; }
    UpdateAvailabilityProviding &updateChecker() const { return updateChecker_; }
    const std::shared_ptr<Clock> &clock() const { return clock_; }

    // The status item controller, made on first use and kept for the view model's life.
    StatusItemControlling &controller();
    bool hasController() const { return controller_ != nullptr; }
    // The desktop's reduced-motion wish; handed to the controller now or when it is made.
    void setReduceMotion(bool reduce);
    bool reduceMotion() const { return reduceMotion_; }

    // --- Action hooks, wired by the application (an empty hook does nothing) ---
    std::function<void()> settingsAction;
    std::function<void()> insightsAction;
    std::function<void()> quitAction;
    std::function<void(double seconds)> snoozeAlertsAction;
    std::function<void()> clearSnoozeAlertsAction;

    // --- Written by the poller ---
    void setActivity(std::optional<StatusBarActivity> activity, Date now) override;
    void setError(std::optional<ErrorInfo> error) override;
    void present(const GlucoseReading &reading, Date now) override;
    void refreshStatusItem() override;
    void updateGlucoseHistory(const GlucoseReadings &readings) override;
    void setNextRetryAt(std::optional<Date> date) override;
    void setAlertsSnoozedUntil(std::optional<Date> date) override;
    void rebuildMenuIfBuilt() override;

    // Shows the waiting or attention icon instead of a title.
    void showEmptyState(StatusBarIconState state);
    // Badge: warning while a warning is shown, else update available, else none.
    void updateIndicatorState();

    // The spoken status text for a title at `now` (tooltip and accessible description).
    QString statusAccessibilityText(const QString &title, Date now) const;
    // What the menu shows, at `now`.
    StatusBarMenuState menuState() const;
    // Runs the hook behind a menu entry.
    void performMenuAction(StatusBarMenuAction action);
    // Evaluates the newest graph reading again for the moment the menu opens.
    void prepareForMenuOpen();

public slots:
    // The app settings were saved: present the reading, graph and menu again with the new
    // thresholds and unit (loading the configuration first when none is loaded).
    void appSettingsDidUpdate();

signals:
    void stateChanged();

private:
    void applyAppearance(const QString &trend, double value);
    void scheduleFreshnessCheck(const GlucoseReading &reading, Freshness freshness, Date now);
    void cancelFreshnessCheck();
    void rebuildMenu();
    GlucoseUnits displayUnit() const;
    std::pair<double, double> thresholds() const;
    static QCoro::Task<void> runFreshnessCheck(QPointer<StatusBarViewModel> self, QUuid generation, double delay,
                                               GlucoseReading reading, std::shared_ptr<Sleeper> sleeper,
                                               std::stop_token stop);
    static QCoro::Task<void> runSettingsUpdate(QPointer<StatusBarViewModel> self);

    ConfigurationManager &configurationManager_;
    UpdateAvailabilityProviding &updateChecker_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    ControllerFactory makeController_;
    std::unique_ptr<StatusItemControlling> controller_;
    bool reduceMotion_ = false;

    QString statusTitle_;
    std::optional<StatusBarIconState> iconState_ = StatusBarIconState::waiting;
    std::optional<StatusBarActivity> activity_ = StatusBarActivity::loading;
    StatusStyle titleStyle_ = StatusStyle::normal;
    GlucoseReadings glucoseHistory_;
    std::optional<ErrorInfo> currentError_;
    std::optional<ErrorInfo> freshnessWarning_;
    bool hasWarning_ = false;
    std::optional<Date> alertsSnoozedUntil_;
    std::optional<Date> nextRetryAt_;
    std::optional<GlucoseReading> presentedReading_;
    std::optional<std::stop_source> freshnessStop_;
    QUuid freshnessGeneration_ = QUuid::createUuid();
    StatusIndicator indicatorState_ = StatusIndicator::none;
};

} // namespace quillby
