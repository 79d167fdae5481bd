#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/GlucoseReading.h"
#include "core/NetworkReachabilityMonitoring.h"
#include "core/ScopedLogger.h"
#include "history/HistoryCoordinating.h"
#include "core/async/AsyncEvent.h"
#include "polling/ErrorInfo.h"
#include "polling/GlucoseAlertController.h"
#include "polling/GlucoseAlertNotificationDelivering.h"
#include "polling/StatusBarPollingPresenting.h"
#include "polling/StatusBarPollingSchedule.h"
#include "providers/GlucoseAPIProtocol.h"

#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QTimeZone>

#include <QCoroTask>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

class ConfigurationManager;

// Main-thread record of the newest graph list presented; an older list arriving later is dropped.
class GraphPresentationOrder {
public:
    // True (and remembered) when `number` is at least the latest one presented.
    bool admit(std::int64_t number)
    {
        if (number < latest_) {
            return false;
        }
        latest_ = number;
        return true;
    }
    std::int64_t latest() const { return latest_; }

private:
    std::int64_t latest_ = 0;
};

// Keeps the tray reading current for one signed-in account at a time: runs the update loop
// (sleep for the schedule's delay, then refresh), performs each refresh (fetch, show the newest
// reading, feed the menu graph, alerts and saved history, plan the next poll), recovers from
// failures with the menu's error states, and reacts to wake-ups.
//
// An actor on the main loop: its operations are coroutines that interleave only at co_await.
// After every await each operation re-checks that the coordinator still exists, that its own
// stop token was not triggered and, where it matters, that the polling generation is unchanged.
class StatusBarPollingCoordinator : public QObject {
public:
    struct Dependencies {
        ConfigurationManager *configurationManager = nullptr;   // required, outlives this
        StatusBarPollingPresenting *statusBar = nullptr;        // required, outlives this
        GlucoseAPIFactory makeAPIClient;                        // also rebuilds the client on re-sign-in
        NetworkReachabilityMonitoring *networkMonitor = nullptr; // required, outlives this
        std::shared_ptr<GlucoseAlertNotificationDelivering> alertDelivery;   // required
        HistoryCoordinating *historyCoordinator = nullptr;      // optional: none means no saving
        std::shared_ptr<Clock> clock;                           // required
        std::shared_ptr<Sleeper> sleeper;                       // required
        std::function<double()> randomUnit;                     // default: defaultRandomUnit
        std::shared_ptr<QSettings> defaults;                    // holds the snooze end; default QSettings("Quillby", "Quillby")
        std::function<QTimeZone()> timeZone;                    // quiet hours; default the system zone
    };

    // Constants of the recovery and wake steps.
    static constexpr int kNoDataEscalationThreshold = 3;
    static constexpr TimeInterval kNoDataEscalationWindow = 1800;
    static constexpr TimeInterval kWakeRefreshDebounceInterval = 10;
    static constexpr TimeInterval kWakeNetworkSettleDelay = 0.8;
    static constexpr TimeInterval kReconnectSettleDelay = 0.4;
    static constexpr TimeInterval kPostReauthenticationDelay = 0.25;
    static constexpr TimeInterval kNoDataReachabilityTimeout = 5;
    static constexpr TimeInterval kAuthReachabilityTimeout = 10;
    static constexpr TimeInterval kAccountActionPause = 1800;
    static constexpr TimeInterval kMinimumThrottleDelay = 60;
    // How early the loop may wake before a provider's retry time and still poll at that time.
    static constexpr TimeInterval kEarlyWakeAllowance = 1;
    static constexpr TimeInterval kGraphWindow = 86400;
    // How far ahead of this computer's clock a reading may be dated and still be taken at its
    // word (clocks differ); the alert step allows the same.
    static constexpr TimeInterval kFutureReadingAllowance = 60;

    explicit StatusBarPollingCoordinator(Dependencies dependencies, QObject *parent = nullptr);
    ~StatusBarPollingCoordinator() override;

    StatusBarPollingCoordinator(const StatusBarPollingCoordinator &) = delete;
    StatusBarPollingCoordinator &operator=(const StatusBarPollingCoordinator &) = delete;


    // --- Lifecycle, as the application delegate drives it ---
    // Polls `apiClient` for `provider`; saved history of `historyAccountScope` refills the graph.
    QCoro::Task<void> start(std::shared_ptr<GlucoseAPIProtocol> apiClient,
                            std::optional<std::string> historyAccountScope, GlucoseProvider provider,
                            std::stop_token stop = {});
    // Forgets the account, stops the loop and shows the sign-in-required state with an empty graph.
    QCoro::Task<void> stop(std::stop_token stop = {});
    // Starts the update loop unless one runs.
    void startUpdateLoopIfNeeded();
    // A loop asleep on its plan plans again from the schedule as it stands now. The coordinator
    // does this itself after every refresh the loop did not start (wake, a caller's request),
    // on a new start and when the network comes back.
    void replanUpdateLoop();
    // Cancels the update loop (the account step does this before a new generation).
    void cancelUpdateLoop();
    // A new polling generation: the refresh in flight is cancelled and forgotten.
    void invalidateGeneration();

    // --- Refreshes ---
    // Refreshes now unless blocked (account action needed, provider retry time ahead); joins a
    // refresh that is already running. Returns when it has ended or `stop` was requested.
    QCoro::Task<void> requestRefresh(bool isRetry = false, std::stop_token stop = {});
    // The computer woke up: one refresh after the network settles (at most one per 10 s).
    QCoro::Task<void> handleWake(std::stop_token stop = {});

    // --- Alerts ---
    void snoozeAlerts(TimeInterval duration);
    void cancelAlertSnooze();
    std::optional<Date> alertsSnoozedUntil() const { return alertController_->alertsSnoozedUntil(); }

    // --- State, for the application and tests ---
    const StatusBarPollingSchedule &pollingSchedule() const { return pollingSchedule_; }
    std::optional<Date> retryNotBefore() const { return retryNotBefore_; }
    bool requiresAccountAction() const { return requiresAccountAction_; }
    bool isUpdateLoopRunning() const { return updateLoop_ != nullptr; }
    bool isRefreshing() const { return refreshRun_ != nullptr; }
    GlucoseProvider provider() const { return provider_; }
    const GlucoseReadings &glucoseHistory() const { return glucoseHistory_; }
    const GlucoseReadings &observedGlucoseHistory() const { return observedGlucoseHistory_; }
    std::size_t lastFetchedHistoryCount() const { return lastFetchedHistoryCount_; }
    const std::optional<SavedGraphHistory> &restoredGraphHistory() const { return restoredGraphHistory_; }
    const GlucoseAlertEvaluator &alertEvaluator() const { return alertController_->evaluator(); }

    // One fetch joined with the observed readings (the fetch itself where it reports the whole window).
    static GlucoseReadings mergeObservedReadings(const GlucoseReadings &observed, const GlucoseReadings &fetched,
                                                 GlucoseProvider provider, Date now);

private:
    struct RefreshRun {
        std::stop_source stop;
        AsyncEvent finished;
    };
    struct UpdateLoop {
        std::stop_source stop;
        std::optional<std::stop_source> sleep;   // the sleep in progress: stopped to replan
    };

    // Polling (StatusBarPollingCoordinator.cpp)
    void resetPollingState();
    void showSignInRequiredState(bool fromStop);
    QCoro::Task<void> runUpdateLoop(std::shared_ptr<UpdateLoop> loop);
    QCoro::Task<void> runRefresh(std::shared_ptr<RefreshRun> run, bool isRetry);
    QCoro::Task<void> performRefresh(bool isRetry, std::stop_token stop);
    QCoro::Task<void> applyReadings(GlucoseReadings fetched, std::optional<GlucoseHistoryCollectionToken> token,
                                    std::stop_token stop);
    void rescheduleFromSchedule(Date now);
    // The network is back: polls that failed for want of it are retried now.
    void networkBecameReachable();
    QCoro::Task<void> refreshAfterReconnect();
    Date now() const { return clock_->now(); }

    // Recovery (StatusBarPollingCoordinatorRecovery.cpp)
    QCoro::Task<void> handleRefreshError(std::exception_ptr error, bool isRetry, std::stop_token stop);
    QCoro::Task<void> handleNoData(bool isRetry, std::stop_token stop);
    QCoro::Task<void> reauthenticate(std::stop_token stop);
    void recordFailure(StatusBarPollOutcome outcome);
    // Nothing polls before `retryAt`, and the plan is no earlier than that.
    void waitAtLeastUntil(Date retryAt);
    void presentError(const ErrorInfo &error);
    void presentNoDataState();
    void presentAuthenticationFailure();
    void presentOfflineError();
    void presentUnexpectedError(const std::string &description);
    void logFailure(const std::string &prefix, std::exception_ptr error) const;
    const GlucoseReading *heldReading() const;

    // Menu graph feed (StatusBarPollingCoordinatorGraphHistory.cpp)
    void resetGraphHistory();
    void restoreGraphHistory();
    void presentGraph(std::int64_t number, const GlucoseReadings &merged);
    void startHistoryObservation(const std::optional<std::string> &scope);
    void scheduleSavedGraphRefresh(std::uint64_t generation, std::string scope);
    void applySavedGraphHistory(const SavedGraphHistory &extract, std::uint64_t generation);
    bool isSavedGraphHistoryCurrent(const SavedGraphHistory &extract) const;
    std::optional<std::string> configuredAccountScope() const;

    // Alerts (StatusBarPollingCoordinatorAlerts.cpp)
    void makeAlertController();
    QCoro::Task<void> evaluateAlerts(GlucoseReading reading, GlucoseUnits units, std::stop_token stop);

    ConfigurationManager *configurationManager_;
    StatusBarPollingPresenting *statusBar_;
    GlucoseAPIFactory makeAPIClient_;
    QPointer<HistoryCoordinating> historyCoordinator_;
    std::optional<std::string> historyAccountScope_;
    NetworkReachabilityMonitoring *networkMonitor_;
    std::shared_ptr<GlucoseAlertNotificationDelivering> alertDelivery_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    std::shared_ptr<QSettings> defaults_;
    std::function<QTimeZone()> timeZone_;

    std::shared_ptr<GlucoseAPIProtocol> apiClient_;
    GlucoseProvider provider_ = GlucoseProvider::dexcom;
    std::optional<Date> retryNotBefore_;
    bool requiresAccountAction_ = false;

    GlucoseReadings glucoseHistory_;
    GlucoseReadings observedGlucoseHistory_;
    std::size_t lastFetchedHistoryCount_ = 0;
    std::optional<SavedGraphHistory> restoredGraphHistory_;
    std::unique_ptr<QObject> historyObservation_;   // context of the graph-update connection
    bool savedGraphRefreshScheduled_ = false;
    std::uint64_t historyRestorationGeneration_ = 0;
    std::int64_t graphPresentationRevision_ = 0;
    GraphPresentationOrder graphPresentationOrder_;

    StatusBarPollingSchedule pollingSchedule_;
    std::optional<Date> lastWakeRefreshAt_;
    std::optional<Date> lastReconnectRefreshAt_;
    std::shared_ptr<GlucoseAlertController> alertController_;

    std::uint64_t generation_ = 1;
    std::uint64_t nextGeneration_ = 2;
    std::shared_ptr<RefreshRun> refreshRun_;
    std::shared_ptr<UpdateLoop> updateLoop_;
    std::stop_source lifetime_;   // stopped when the coordinator goes: ends its own detached work
    ScopedLogger logger_{"StatusBarPollingCoordinator"};
};

} // namespace quillby
