#include "history/HistoryCoordinator.h"

#include "core/async/RunDetached.h"
#include "core/ConfigurationManager.h"
#include "history/AccountScope.h"

#include <utility>

namespace quillby {

HistoryCoordinationError::HistoryCoordinationError(Case c) : AppError(message(c)), kind(c) {}

const char *HistoryCoordinationError::message(Case c)
{
    switch (c) {
    case Case::operationInProgress:
        return "A history operation is still in progress. Please try again when it finishes.";
    }
    return "";
}

HistoryCoordinator::HistoryCoordinator(std::shared_ptr<GlucoseHistoryStoring> store,
                                       ConfigurationManager &configurationManager, std::shared_ptr<Clock> clock,
                                       std::shared_ptr<Sleeper> sleeper, QObject *parent)
    : HistoryCoordinating(parent), store_(std::move(store)), configurationManager_(configurationManager),
      clock_(std::move(clock)), sleeper_(std::move(sleeper))
{
    lastConfiguredScope_ = configuredAccountScope();
    connect(&configurationManager_, &ConfigurationManager::configurationChanged, this,
            &HistoryCoordinator::onConfigurationChanged);
}

HistoryCoordinator::~HistoryCoordinator()
{
    if (maintenanceStop_) {
        maintenanceStop_->request_stop();
    }
    // Readers of open streams learn that the stream ended; the streams stay with their owners.
    auto observers = std::exchange(graphObservers_, {});
    for (auto &[id, stream] : observers) {
        stream->finish();
    }
}

// --- Observed state ---

std::optional<GlucoseHistorySnapshot> HistoryCoordinator::snapshot() const
{
    if (!storedSnapshot_ || storedSnapshot_->configuration.accountScope != configuredAccountScope()) {
        return std::nullopt;
    }
    return storedSnapshot_;
}

QString HistoryCoordinator::errorText() const
{
    return errorMessage_ ? QString::fromStdString(*errorMessage_) : QString();
}

void HistoryCoordinator::setErrorMessage(std::optional<std::string> message)
{
    if (errorMessage_ == message) {
        return;
    }
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

void HistoryCoordinator::setStoredSnapshot(std::optional<GlucoseHistorySnapshot> snapshot)
{
    if (storedSnapshot_ != snapshot) {
        storedSnapshot_ = std::move(snapshot);
        emit snapshotChanged();
    }
    notifyGraphObservers();
}

void HistoryCoordinator::setBusy(bool busy)
{
    if (isBusy_ != busy) {
        isBusy_ = busy;
        emit isBusyChanged(busy);
    }
    notifyGraphObservers();
}

void HistoryCoordinator::setHasSelectedAccount(bool selected)
{
    if (hasSelectedAccount_ == selected) {
        return;
    }
    hasSelectedAccount_ = selected;
    emit hasSelectedAccountChanged(selected);
}

void HistoryCoordinator::setSelectedScope(std::optional<std::string> scope)
{
    if (selectedScope_ == scope) {
        return;
    }
    selectedScope_ = std::move(scope);
    emit selectedScopeChanged();
}

void HistoryCoordinator::setRevision(QUuid revision)
{
    if (revision_ == revision) {
        return;
    }
    revision_ = revision;
    emit revisionChanged(revision);
}

void HistoryCoordinator::clearPending()
{
    pending_.clear();
    emit pendingChanged();
}

void HistoryCoordinator::onConfigurationChanged()
{
    // snapshot() depends on the configured scope: a snapshot of another account disappears
    // (or reappears) as soon as the configuration names another account.
    auto scope = configuredAccountScope();
    if (scope == lastConfiguredScope_) {
        return;
    }
    lastConfiguredScope_ = std::move(scope);
    if (storedSnapshot_) {
        emit snapshotChanged();
    }
}

// --- Account scope ---

std::string HistoryCoordinator::accountScope(const GlucoseAccountConfiguration &account)
{
    return historyAccountScope(account);
}

std::optional<std::string> HistoryCoordinator::configuredAccountScope() const
{
    const auto &configuration = configurationManager_.configuration();
    if (!configuration || !configuration->account.isComplete()) {
        return std::nullopt;
    }
    return accountScope(configuration->account);
}

bool HistoryCoordinator::needsConfigurationLoad() const
{
    return !configurationManager_.configuration() || configurationManager_.configurationLoadFailed();
}

std::string HistoryCoordinator::messageOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return GlucoseHistoryError::message(GlucoseHistoryError::Case::storageFailure);
    }
}

// --- Maintenance ---

void HistoryCoordinator::start()
{
    if (maintenanceStop_) {
        return;
    }
    maintenanceStop_.emplace();
    runDetached(runMaintenance(QPointer<HistoryCoordinator>(this), maintenanceStop_->get_token(), sleeper_));
}

void HistoryCoordinator::cancelMaintenance()
{
    if (!maintenanceStop_) {
        return;
    }
    maintenanceStop_->request_stop();
    maintenanceStop_.reset();
}

QCoro::Task<void> HistoryCoordinator::runMaintenance(QPointer<HistoryCoordinator> self, std::stop_token stop,
                                                     std::shared_ptr<Sleeper> sleeper)
{
    // Holds the coordinator weakly: the loop ends once it is gone.
    while (!stop.stop_requested()) {
        if (!self) {
            co_return;
        }
        co_await self->requestSnapshotRefresh();
        if (stop.stop_requested()) {
            co_return;
        }
        co_await sleeper->sleep(kMaintenanceInterval, stop);
    }
}

// --- Snapshots and account selection ---

QCoro::Task<void> HistoryCoordinator::requestSnapshotRefresh()
{
    QPointer<HistoryCoordinator> self(this);
    if (needsConfigurationLoad()) {
        co_await configurationManager_.loadConfiguration();
        if (!self) {
            co_return;
        }
    }
    if (isBusy_) {
        co_return;   // the running operation publishes its own snapshot
    }
    const auto scope = configuredAccountScope();
    if (!hasSelectedAccount_ || selectedScope_ != scope) {
        try {
            co_await selectAccountScope();
        } catch (...) {
            // Already published in errorMessage.
        }
        co_return;
    }

    const QUuid revision = revision_;
    const QUuid request = QUuid::createUuid();
    latestRefreshRequest_ = request;
    auto store = store_;
    std::optional<GlucoseHistorySnapshot> result;
    std::exception_ptr error;
    try {
        result = co_await store->snapshot(clock_->now());
    } catch (...) {
        error = std::current_exception();
    }
    if (!self || revision_ != revision || latestRefreshRequest_ != request || configuredAccountScope() != scope) {
        co_return;   // overtaken: an operation started, a newer refresh ran or the account changed
    }
    if (result) {
        setStoredSnapshot(std::move(result));
        setErrorMessage(std::nullopt);
    } else {
        setErrorMessage(messageOf(error));
    }
}

QCoro::Task<void> HistoryCoordinator::selectAccountScope()
{
    co_await runExclusive([this] { return activateConfiguredAccount(); });
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::activateConfiguredAccount()
{
    QPointer<HistoryCoordinator> self(this);
    setHasSelectedAccount(false);
    const auto scope = configuredAccountScope();
    auto store = store_;
    auto snapshot = co_await store->activateAccount(scope, clock_->now());
    if (self) {
        setSelectedScope(scope);
        setHasSelectedAccount(true);
    }
    co_return snapshot;
}

void HistoryCoordinator::notifyGraphObservers()
{
    graphRevision_ = QUuid::createUuid();
    emit graphRevisionChanged(graphRevision_);
    for (auto &[id, stream] : graphObservers_) {
        stream->yieldElement();
    }
    emit graphUpdated();
}

} // namespace quillby
