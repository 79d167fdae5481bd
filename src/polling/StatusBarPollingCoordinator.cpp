#include "polling/StatusBarPollingCoordinator.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "providers/GlucoseProviderDescription.h"
#include "providers/ProviderFailure.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <utility>

namespace quillby {

namespace {

const ErrorInfo kSignInRequired{
    "Sign in required",
    "Sign in to your glucose account to see glucose readings.",
    "Open Settings to enter your glucose account details.",
};

} // namespace

StatusBarPollingCoordinator::StatusBarPollingCoordinator(Dependencies dependencies, QObject *parent)
    : QObject(parent),
      configurationManager_(dependencies.configurationManager),
      statusBar_(dependencies.statusBar),
      makeAPIClient_(std::move(dependencies.makeAPIClient)),
      historyCoordinator_(dependencies.historyCoordinator),
      networkMonitor_(dependencies.networkMonitor),
      alertDelivery_(std::move(dependencies.alertDelivery)),
      clock_(std::move(dependencies.clock)),
      sleeper_(std::move(dependencies.sleeper)),
      defaults_(dependencies.defaults ? std::move(dependencies.defaults)
                                      : std::make_shared<QSettings>(QStringLiteral("Quillby"), QStringLiteral("Quillby"))),
      timeZone_(std::move(dependencies.timeZone))
{
    Q_ASSERT(configurationManager_ && statusBar_ && networkMonitor_ && alertDelivery_ && clock_ && sleeper_);
    if (!makeAPIClient_) {
        makeAPIClient_ = &makeGlucoseAPIClient;
    }
    if (dependencies.randomUnit) {
        pollingSchedule_.randomUnit = std::move(dependencies.randomUnit);
    }
    pollingSchedule_.readingInterval = 300;
    makeAlertController();
    networkMonitor_->observeReachability(this, [this](bool reachable) {
        if (reachable) {
            networkBecameReachable();
        }
    });
}

StatusBarPollingCoordinator::~StatusBarPollingCoordinator()
{
    // Coroutines still suspended see the coordinator gone (their QPointer is cleared) and end
    // at their next check; the stop requests make their sleeps and fetches return early.
    lifetime_.request_stop();
    cancelUpdateLoop();
    if (refreshRun_) {
        refreshRun_->stop.request_stop();
        refreshRun_.reset();
    }
    historyObservation_.reset();
}

// --- Lifecycle ---

void StatusBarPollingCoordinator::resetPollingState()
{
    retryNotBefore_.reset();
    requiresAccountAction_ = false;
    pollingSchedule_.reset();
    lastWakeRefreshAt_.reset();
    lastReconnectRefreshAt_.reset();
    alertController_->reset();
}

void StatusBarPollingCoordinator::showSignInRequiredState(bool fromStop)
{
    // The emptied graph takes a presentation number like every other graph list, so a list
    // computed earlier for the signed-out account can never be shown after it.
    glucoseHistory_.clear();
    if (graphPresentationOrder_.admit(++graphPresentationRevision_)) {
        statusBar_->updateGlucoseHistory({});
    }
    statusBar_->setNextRetryAt(std::nullopt);
    statusBar_->setError(kSignInRequired);
    if (fromStop) {
        statusBar_->setAlertsSnoozedUntil(alertController_->alertsSnoozedUntil());
        statusBar_->rebuildMenuIfBuilt();
    }
}

QCoro::Task<void> StatusBarPollingCoordinator::start(std::shared_ptr<GlucoseAPIProtocol> apiClient,
                                                     std::optional<std::string> historyAccountScope,
                                                     GlucoseProvider provider, std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return;
    }
    invalidateGeneration();
    apiClient_ = std::move(apiClient);
    historyAccountScope_ = std::move(historyAccountScope);
    provider_ = provider;
    resetPollingState();
    pollingSchedule_.readingInterval = describeProvider(provider).readingInterval;
    // A loop still asleep on the previous account's plan follows the new one.
    replanUpdateLoop();

    resetGraphHistory();
    restoreGraphHistory();

    statusBar_->setError(std::nullopt);
    statusBar_->setActivity(StatusBarActivity::refreshing, now());
    statusBar_->setAlertsSnoozedUntil(alertController_->alertsSnoozedUntil());
    statusBar_->rebuildMenuIfBuilt();
    statusBar_->setNextRetryAt(std::nullopt);
    statusBar_->rebuildMenuIfBuilt();

    startHistoryObservation(historyAccountScope_);
}

QCoro::Task<void> StatusBarPollingCoordinator::stop(std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return;
    }
    apiClient_.reset();
    historyAccountScope_.reset();
    cancelUpdateLoop();
    invalidateGeneration();
    resetPollingState();
    resetGraphHistory();
    showSignInRequiredState(true);
}

void StatusBarPollingCoordinator::invalidateGeneration()
{
    generation_ = nextGeneration_++;
    if (refreshRun_) {
        refreshRun_->stop.request_stop();
        refreshRun_.reset();
    }
}

void StatusBarPollingCoordinator::cancelUpdateLoop()
{
    if (updateLoop_) {
        updateLoop_->stop.request_stop();
        updateLoop_.reset();
    }
}

void StatusBarPollingCoordinator::startUpdateLoopIfNeeded()
{
    if (updateLoop_) {
        return;
    }
    updateLoop_ = std::make_shared<UpdateLoop>();
    runDetached(runUpdateLoop(updateLoop_));
}

void StatusBarPollingCoordinator::replanUpdateLoop()
{
    if (updateLoop_ && updateLoop_->sleep) {
        updateLoop_->sleep->request_stop();
    }
}

QCoro::Task<void> StatusBarPollingCoordinator::runUpdateLoop(std::shared_ptr<UpdateLoop> loop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    const std::shared_ptr<Sleeper> sleeper = sleeper_;
    const std::stop_token stop = loop->stop.get_token();
    while (true) {
        const std::int64_t delay = pollingSchedule_.nextPollDelay(now());
        // The sleep ends early when the loop is cancelled or asked to plan again.
        std::stop_source sleep;
        loop->sleep = sleep;
        {
            std::stop_callback cancel(stop, [sleep]() mutable { sleep.request_stop(); });
            co_await sleeper->sleep(static_cast<double>(delay) / 1000.0, sleep.get_token());
        }
        if (!self || stop.stop_requested()) {
            co_return;
        }
        loop->sleep.reset();
        if (sleep.stop_requested()) {
            continue;   // replanned
        }
        // Something moved the plan further ahead while the loop slept: sleep again instead.
        if (pollingSchedule_.nextPollDate && (*pollingSchedule_.nextPollDate - now()) * 1000.0 >= 5000.0) {
            continue;
        }
        // Woken a moment before a provider's retry time (timers and clocks are not exact to the
        // millisecond): poll at that time instead of giving up this poll.
        if (retryNotBefore_ && !requiresAccountAction_) {
            const TimeInterval early = *retryNotBefore_ - now();
            if (early > 0 && early < kEarlyWakeAllowance) {
                co_await sleeper->sleep(early + 0.001, stop);
                if (!self || stop.stop_requested()) {
                    co_return;
                }
            }
        }
        co_await requestRefresh(false, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
    }
}

// --- Refreshes ---

QCoro::Task<void> StatusBarPollingCoordinator::requestRefresh(bool isRetry, std::stop_token stop)
{
    if (stop.stop_requested() || requiresAccountAction_ || (retryNotBefore_ && *retryNotBefore_ > now())) {
        co_return;
    }
    if (refreshRun_) {
        // Join the refresh in flight instead of starting a second one.
        const AsyncEvent finished = refreshRun_->finished;
        co_await finished.wait(stop);
        co_return;
    }
    auto run = std::make_shared<RefreshRun>();
    refreshRun_ = run;
    runDetached(runRefresh(run, isRetry));
    co_await run->finished.wait(stop);
}

QCoro::Task<void> StatusBarPollingCoordinator::runRefresh(std::shared_ptr<RefreshRun> run, bool isRetry)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    try {
        co_await performRefresh(isRetry, run->stop.get_token());
    } catch (const std::exception &e) {
        if (self) {
            logger_.warning(std::string("Error updating glucose: ") + e.what());
        }
    } catch (...) {
    }
    run->finished.fire();
    // A refresh of an older generation leaves the field to the newer one.
    if (self && refreshRun_ == run) {
        refreshRun_.reset();
        // A refresh the loop did not start (wake, a caller's request) may have changed the plan
        // the loop sleeps on: a success plans by the reading cadence again.
        replanUpdateLoop();
    }
}

QCoro::Task<void> StatusBarPollingCoordinator::performRefresh(bool isRetry, std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    if (stop.stop_requested()) {
        co_return;
    }
    if (!apiClient_) {
        showSignInRequiredState(false);
        co_return;
    }

    statusBar_->setActivity(StatusBarActivity::refreshing, now());
    std::optional<GlucoseHistoryCollectionToken> token;
    if (historyAccountScope_ && historyCoordinator_) {
        token = historyCoordinator_->collectionToken(*historyAccountScope_);
    }

    // The client stays alive for the call even when a re-sign-in or a stop replaces it.
    const std::shared_ptr<GlucoseAPIProtocol> client = apiClient_;
    GlucoseReadings fetched;
    std::exception_ptr error;
    try {
        fetched = co_await client->fetchLatestReadings(stop);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self || stop.stop_requested()) {
        co_return;
    }
    if (error) {
        if (describeProviderFailure(error).kind == ProviderFailure::Kind::noReadings) {
            co_await handleNoData(isRetry, stop);
        } else {
            co_await handleRefreshError(error, isRetry, stop);
        }
        co_return;
    }
    // A reading dated further ahead than clocks plausibly differ is a provider fault, whether
    // the service reports it once or keeps reporting it: it is not shown (it would stay the
    // newest reading, with age 0, until the clock passed it), graphed, alerted on or saved.
    // The readings before it are used as usual; with none left the poll found no data.
    const Date fetchedAt = now();
    std::erase_if(fetched, [fetchedAt](const GlucoseReading &reading) {
        return reading.date > fetchedAt + kFutureReadingAllowance;
    });
    if (fetched.empty()) {
        co_await handleNoData(isRetry, stop);
        co_return;
    }
    co_await applyReadings(std::move(fetched), std::move(token), stop);
}

QCoro::Task<void> StatusBarPollingCoordinator::applyReadings(GlucoseReadings fetched,
                                                             std::optional<GlucoseHistoryCollectionToken> token,
                                                             std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    const Date fetchedAt = now();
    retryNotBefore_.reset();
    const GlucoseUnits units = units::fromMeasurementUnit(configurationManager_->appSettings().measurementUnit);

    lastFetchedHistoryCount_ = fetched.size();
    observedGlucoseHistory_ = mergeObservedReadings(observedGlucoseHistory_, fetched, provider_, fetchedAt);
    const GlucoseReading shown = observedGlucoseHistory_.empty() ? fetched.back() : observedGlucoseHistory_.back();

    statusBar_->present(shown, now());
    statusBar_->refreshStatusItem();
    statusBar_->setError(std::nullopt);
    statusBar_->setNextRetryAt(std::nullopt);
    statusBar_->rebuildMenuIfBuilt();

    restoreGraphHistory();

    const auto &lastReadingDate = pollingSchedule_.lastReadingDate;
    const bool isNew = !lastReadingDate || shown.date > *lastReadingDate + 1.0;
    if (isNew) {
        co_await evaluateAlerts(shown, units, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
    }
    // A reading dated further ahead than clocks plausibly differ (a provider fault) is
    // remembered as dated at most that far ahead of now. Otherwise it would keep every correct
    // reading that follows from counting as new, and from alerting, until the clock caught up
    // with it. Within the allowance nothing changes, so a reading fetched twice stays one reading.
    const Date recordedAt = now();
    pollingSchedule_.recordReading(std::min(shown.date, recordedAt + kFutureReadingAllowance), isNew, recordedAt);

    if (token && historyCoordinator_) {
        historyCoordinator_->enqueue(fetched, fetchedAt, *token);
    }
}

void StatusBarPollingCoordinator::rescheduleFromSchedule(Date at)
{
    const Date next = at + pollingSchedule_.adaptiveBackoff(at);
    pollingSchedule_.nextPollDate = next;
    statusBar_->setNextRetryAt(next);
    statusBar_->rebuildMenuIfBuilt();
}

// --- Wake ---

QCoro::Task<void> StatusBarPollingCoordinator::handleWake(std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    const std::uint64_t generation = generation_;
    const Date wokeAt = now();
    if (lastWakeRefreshAt_ && wokeAt - *lastWakeRefreshAt_ < kWakeRefreshDebounceInterval) {
        co_return;
    }
    lastWakeRefreshAt_ = wokeAt;

    if (networkMonitor_->isReachable()) {
        co_await sleeper_->sleep(kWakeNetworkSettleDelay, stop);
    } else {
        const bool reachable = co_await networkMonitor_->waitUntilReachable(kAuthReachabilityTimeout, stop);
        if (!self || !reachable) {
            co_return;
        }
        co_await sleeper_->sleep(kReconnectSettleDelay, stop);
    }
    if (!self || stop.stop_requested() || generation != generation_) {
        co_return;
    }
    co_await requestRefresh(false, stop);
}

// --- Network back ---

void StatusBarPollingCoordinator::networkBecameReachable()
{
    // Only a poll that failed for want of a network has a reason to be retried now; any
    // other plan stands.
    if (!apiClient_ || !updateLoop_ || pollingSchedule_.lastOutcome.kind != StatusBarPollOutcome::Kind::networkError) {
        return;
    }
    runDetached(refreshAfterReconnect());
}

QCoro::Task<void> StatusBarPollingCoordinator::refreshAfterReconnect()
{
    QPointer<StatusBarPollingCoordinator> self(this);
    const std::shared_ptr<Sleeper> sleeper = sleeper_;
    const std::uint64_t generation = generation_;
    const Date at = now();
    // A network that comes and goes causes at most one such refresh per debounce interval.
    if (lastReconnectRefreshAt_ && at - *lastReconnectRefreshAt_ < kWakeRefreshDebounceInterval) {
        co_return;
    }
    lastReconnectRefreshAt_ = at;
    const std::stop_token stop = lifetime_.get_token();
    co_await sleeper->sleep(kReconnectSettleDelay, stop);
    if (!self || stop.stop_requested() || generation != generation_ || !updateLoop_) {
        co_return;
    }
    co_await requestRefresh(false, stop);
}

} // namespace quillby
