// Recovery steps of the polling coordinator: how a failed or empty refresh ends for the
// schedule, when to poll again, whether to sign in again once, and what the menu shows.

#include "polling/StatusBarPollingCoordinator.h"

#include "core/AppError.h"
#include "core/ConfigurationManager.h"
#include "providers/GlucoseProviderDescription.h"
#include "providers/ProviderFailure.h"

#include <algorithm>

namespace quillby {

void StatusBarPollingCoordinator::recordFailure(StatusBarPollOutcome outcome)
{
    pollingSchedule_.lastOutcome = outcome;
    pollingSchedule_.consecutiveFailures += 1;
}

void StatusBarPollingCoordinator::waitAtLeastUntil(Date retryAt)
{
    retryNotBefore_ = retryAt;
    if (!pollingSchedule_.nextPollDate || *pollingSchedule_.nextPollDate < retryAt) {
        pollingSchedule_.nextPollDate = retryAt;
        statusBar_->setNextRetryAt(retryAt);
        statusBar_->rebuildMenuIfBuilt();
    }
}

void StatusBarPollingCoordinator::logFailure(const std::string &prefix, std::exception_ptr error) const
{
    logger_.warning(prefix + messageOf(error));
}

const GlucoseReading *StatusBarPollingCoordinator::heldReading() const
{
    return observedGlucoseHistory_.empty() ? nullptr : &observedGlucoseHistory_.back();
}

QCoro::Task<void> StatusBarPollingCoordinator::handleRefreshError(std::exception_ptr error, bool isRetry,
                                                                  std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    if (stop.stop_requested()) {
        co_return;
    }
    const Date failedAt = now();

    using Kind = ProviderFailure::Kind;
    const ProviderFailure failure = describeProviderFailure(error);
    switch (failure.kind) {
    case Kind::rateLimited: {
        const Date retryAt = failedAt + std::max(failure.retryAfter.value_or(kMinimumThrottleDelay), kMinimumThrottleDelay);
        retryNotBefore_ = retryAt;
        recordFailure(StatusBarPollOutcome::httpError(429));
        pollingSchedule_.nextPollDate = retryAt;
        presentError({failure.title, failure.message, failure.recoveryHint});
        statusBar_->setNextRetryAt(retryAt);
        statusBar_->rebuildMenuIfBuilt();
        co_return;
    }
    case Kind::accountActionRequired:
        // Nothing the poller does can fix this: wait until the user acts in Settings.
        requiresAccountAction_ = true;
        pollingSchedule_.nextPollDate = failedAt + kAccountActionPause;
        presentError({failure.title, failure.message, failure.recoveryHint});
        statusBar_->setNextRetryAt(std::nullopt);
        statusBar_->rebuildMenuIfBuilt();
        co_return;
    case Kind::sessionExpired:
        recordFailure(StatusBarPollOutcome::sessionExpired());
        rescheduleFromSchedule(failedAt);
        presentAuthenticationFailure();
        co_return;
    case Kind::accountLocked: {
        // Any sign-in before the lock ends, with the right password too, only extends it: wait
        // it out, then sign in again once.
        const Date retryAt = failedAt + failure.retryAfter.value_or(kAccountActionPause);
        retryNotBefore_ = retryAt;
        recordFailure(StatusBarPollOutcome::sessionExpired());
        pollingSchedule_.nextPollDate = retryAt;
        presentError({failure.title, failure.message, failure.recoveryHint});
        statusBar_->setNextRetryAt(retryAt);
        statusBar_->rebuildMenuIfBuilt();
        logFailure("Error updating glucose: ", error);
        co_return;
    }
    case Kind::credentialsRejected:
        // The sign-in was just refused: signing in again at once cannot help. Try again on the
        // schedule's slow interval (a password changed elsewhere and restored, or a service
        // hiccup, must not end monitoring), and nothing else (wake, network back) signs in
        // before then, which keeps the service's lockout far away. Settings start anew.
        recordFailure(StatusBarPollOutcome::sessionExpired());
        rescheduleFromSchedule(failedAt);
        retryNotBefore_ = pollingSchedule_.nextPollDate;
        presentAuthenticationFailure();
        logFailure("Error updating glucose: ", error);
        co_return;
    default:
        break;
    }

    const bool notAuthenticated = failure.kind == Kind::notAuthenticated;
    if (notAuthenticated && !isRetry) {
        co_await reauthenticate(stop);
        co_return;
    }
    if (failure.kind == Kind::transport) {
        recordFailure(StatusBarPollOutcome::networkError());
        rescheduleFromSchedule(failedAt);
        presentOfflineError();
    } else if (notAuthenticated) {
        recordFailure(StatusBarPollOutcome::sessionExpired());
        rescheduleFromSchedule(failedAt);
        presentAuthenticationFailure();
    } else {
        recordFailure(StatusBarPollOutcome::httpError(std::nullopt));
        rescheduleFromSchedule(failedAt);
        if (failure.retryAfter) {
            // The service said how long to wait (Dexcom's 429 with Retry-After): not less.
            waitAtLeastUntil(failedAt + *failure.retryAfter);
        }
        presentUnexpectedError(messageOf(error));
    }
    logFailure("Error updating glucose: ", error);
}

QCoro::Task<void> StatusBarPollingCoordinator::reauthenticate(std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    statusBar_->setActivity(StatusBarActivity::authenticating, now());

    if (!networkMonitor_->isReachable()) {
        const bool reachable = co_await networkMonitor_->waitUntilReachable(kAuthReachabilityTimeout, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        if (!reachable) {
            recordFailure(StatusBarPollOutcome::networkError());
            rescheduleFromSchedule(now());
            presentOfflineError();
            co_return;
        }
    }

    const auto &configuration = configurationManager_->configuration();
    std::shared_ptr<GlucoseAPIProtocol> client =
        configuration ? makeAPIClient_(configuration->account) : std::shared_ptr<GlucoseAPIProtocol>();
    if (!client) {
        recordFailure(StatusBarPollOutcome::sessionExpired());
        rescheduleFromSchedule(now());
        presentAuthenticationFailure();
        co_return;
    }
    apiClient_ = client;

    std::exception_ptr error;
    try {
        co_await client->authenticate(stop);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self || stop.stop_requested()) {
        co_return;
    }
    if (error) {
        co_await handleRefreshError(error, true, stop);
        if (self) {
            logFailure("Reauthentication failed: ", error);
        }
        co_return;
    }
    co_await sleeper_->sleep(kPostReauthenticationDelay, stop);
    if (!self || stop.stop_requested()) {
        co_return;
    }
    co_await performRefresh(true, stop);
}

QCoro::Task<void> StatusBarPollingCoordinator::handleNoData(bool isRetry, std::stop_token stop)
{
    QPointer<StatusBarPollingCoordinator> self(this);
    if (stop.stop_requested()) {
        co_return;
    }
    pollingSchedule_.recordNoData(now(), kNoDataEscalationWindow);
    if (isRetry || describeProvider(provider_).emptyReplyHandling != EmptyReplyHandling::signInAgainThenEscalate) {
        presentNoDataState();
        co_return;
    }

    // A provider whose empty list often means a stale session, on a first try: sign in again
    // once, when the network allows it, and retry.
    if (!networkMonitor_->isReachable()) {
        const bool reachable = co_await networkMonitor_->waitUntilReachable(kNoDataReachabilityTimeout, stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        if (!reachable) {
            presentNoDataState();
            co_return;
        }
    }
    statusBar_->setActivity(StatusBarActivity::authenticating, now());

    if (const std::shared_ptr<GlucoseAPIProtocol> client = apiClient_) {
        std::exception_ptr error;
        try {
            co_await client->authenticate(stop);
        } catch (...) {
            error = std::current_exception();
        }
        if (!self || stop.stop_requested()) {
            co_return;
        }
        const ProviderFailure::Kind kind = error ? describeProviderFailure(error).kind : ProviderFailure::Kind::other;
        if (error && (kind == ProviderFailure::Kind::credentialsRejected || kind == ProviderFailure::Kind::accountLocked)) {
            co_await handleRefreshError(error, true, stop);
            co_return;
        }
        if (error) {
            presentNoDataState();
            co_return;
        }
    }
    co_await sleeper_->sleep(kPostReauthenticationDelay, stop);
    if (!self || stop.stop_requested()) {
        co_return;
    }
    co_await performRefresh(true, stop);
}

void StatusBarPollingCoordinator::presentNoDataState()
{
    if (const GlucoseReading *held = heldReading()) {
        statusBar_->present(*held, now());
        statusBar_->setError(ErrorInfo{
            "No new data",
            "Unable to retrieve new glucose readings from " + describeProvider(provider_).sensorName + ".",
            "Check your internet connection and " + describeProvider(provider_).serviceName + " settings.",
        });
    } else {
        statusBar_->setError(ErrorInfo{
            "No data available",
            "No glucose readings available from " + describeProvider(provider_).sensorName + ".",
            "Ensure your sensor is active and readings appear in " + describeProvider(provider_).serviceName + ".",
        });
    }
    restoreGraphHistory();

    // The next poll, without jitter: a provider whose sensor has nothing new yet backs off by
    // its cadence up to 5 minutes; one whose empty list means a stale session waits one
    // cadence, or 45 minutes once empty polls keep coming.
    const int emptyPolls = pollingSchedule_.consecutiveNoData;
    TimeInterval interval = 0;
    if (describeProvider(provider_).emptyReplyHandling == EmptyReplyHandling::backOffByCadence) {
        pollingSchedule_.lastOutcome = StatusBarPollOutcome::noNewData();
        interval = std::min(pollingSchedule_.readingInterval * std::clamp(emptyPolls, 1, 5), 300.0);
    } else if (emptyPolls < kNoDataEscalationThreshold) {
        pollingSchedule_.lastOutcome = StatusBarPollOutcome::noNewData();
        interval = pollingSchedule_.readingInterval;
    } else {
        pollingSchedule_.lastOutcome = StatusBarPollOutcome::sessionExpired();
        interval = 2700;
    }
    const Date next = now() + interval;
    pollingSchedule_.nextPollDate = next;
    statusBar_->setNextRetryAt(next);
    statusBar_->rebuildMenuIfBuilt();
}

void StatusBarPollingCoordinator::presentError(const ErrorInfo &error)
{
    // The menu keeps showing the last value under the error.
    if (const GlucoseReading *held = heldReading()) {
        statusBar_->present(*held, now());
    }
    statusBar_->setError(error);
}

void StatusBarPollingCoordinator::presentAuthenticationFailure()
{
    const std::string sensor = describeProvider(provider_).sensorName;
    if (heldReading()) {
        presentError({"Authentication failed", "Unable to authenticate with " + sensor + ".",
                      "Check your username and password in Settings."});
    } else {
        presentError({"Authentication required", "Cannot authenticate with " + sensor + " servers.",
                      "Verify your credentials in Settings."});
    }
}

void StatusBarPollingCoordinator::presentOfflineError()
{
    if (heldReading()) {
        presentError({"Network error", "Unable to connect to " + describeProvider(provider_).sensorName + " servers.",
                      "Check your internet connection and try again."});
    } else {
        presentError({"Offline", "No internet connection available.",
                      "Connect to the internet to retrieve glucose data."});
    }
}

void StatusBarPollingCoordinator::presentUnexpectedError(const std::string &description)
{
    if (heldReading()) {
        presentError({"Error", "An unexpected error occurred: " + description, "The app will retry automatically."});
    } else {
        presentError({"Error", "An unexpected error occurred.",
                      "Check Settings and ensure your glucose account is active."});
    }
}

} // namespace quillby
