// The exclusive operations of the history coordinator: enable, disable, retention, delete all,
// and the account service's account change and sign-out.

#include "history/HistoryCoordinator.h"

#include "core/ConfigurationManager.h"

#include <utility>

namespace quillby {

QCoro::Task<void> HistoryCoordinator::runExclusive(Work work)
{
    // Tested and set with no suspension in between: two operations never overlap.
    if (isBusy_) {
        throw HistoryCoordinationError::operationInProgress();
    }
    setBusy(true);
    setRevision(QUuid::createUuid());   // refreshes and batches in flight drop their results
    clearPending();                     // batches queued under the previous token are never saved
    setStoredSnapshot(std::nullopt);

    QPointer<HistoryCoordinator> self(this);
    std::optional<GlucoseHistorySnapshot> result;
    std::exception_ptr error;
    try {
        result = co_await work();
    } catch (...) {
        error = std::current_exception();
    }
    if (!self) {
        if (error) {
            std::rethrow_exception(error);
        }
        co_return;
    }
    if (result) {
        setStoredSnapshot(std::move(result));
        setErrorMessage(std::nullopt);
        setBusy(false);
        co_return;
    }

    // Publish what the store holds after the failure, and the failure's own message.
    std::optional<GlucoseHistorySnapshot> fallback;
    auto store = store_;
    try {
        fallback = co_await store->snapshot(clock_->now());
    } catch (...) {
        // The fallback's error is never shown.
    }
    if (self) {
        setStoredSnapshot(std::move(fallback));
        setErrorMessage(messageOf(error));
        setBusy(false);
    }
    std::rethrow_exception(error);
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::operationWork(Operation operation, bool *completed)
{
    QPointer<HistoryCoordinator> self(this);
    co_await operation();
    if (completed) {
        *completed = true;
    }
    if (!self) {
        co_return GlucoseHistorySnapshot{};
    }
    // The operation may have changed the account, and with it the scope.
    co_return co_await activateConfiguredAccount();
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::enableWork()
{
    QPointer<HistoryCoordinator> self(this);
    co_await activateConfiguredAccount();
    if (!self) {
        co_return GlucoseHistorySnapshot{};
    }
    auto store = store_;
    co_return co_await store->enableCollection(clock_->now());
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::disableWork()
{
    QPointer<HistoryCoordinator> self(this);
    co_await activateConfiguredAccount();
    if (!self) {
        co_return GlucoseHistorySnapshot{};
    }
    auto store = store_;
    co_return co_await store->disableCollection(clock_->now());
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::retentionWork(int days)
{
    QPointer<HistoryCoordinator> self(this);
    co_await activateConfiguredAccount();
    if (!self) {
        co_return GlucoseHistorySnapshot{};
    }
    auto store = store_;
    co_return co_await store->setRetentionDays(days, clock_->now());
}

QCoro::Task<GlucoseHistorySnapshot> HistoryCoordinator::deleteAllWork()
{
    // No account activation: the selection stays as it is.
    auto store = store_;
    co_return co_await store->deleteAllHistory(clock_->now());
}

QCoro::Task<void> HistoryCoordinator::performExclusive(Operation operation, bool *completed)
{
    co_await runExclusive([this, operation = std::move(operation), completed] {
        return operationWork(operation, completed);
    });
}

QCoro::Task<void> HistoryCoordinator::performAccountOperation(Operation operation)
{
    bool completed = false;
    try {
        co_await performExclusive(std::move(operation), &completed);
    } catch (...) {
        // Once the caller's own work succeeded, a failed activation after it is not the
        // caller's failure: its message stays in errorMessage.
        if (!completed) {
            throw;
        }
    }
}

QCoro::Task<void> HistoryCoordinator::performAccountChange(Operation operation)
{
    co_await performAccountOperation(std::move(operation));
}

QCoro::Task<void> HistoryCoordinator::performSignOut(Operation operation)
{
    co_await performAccountOperation(std::move(operation));
}

QCoro::Task<void> HistoryCoordinator::enableHistory()
{
    QPointer<HistoryCoordinator> self(this);
    if (needsConfigurationLoad()) {
        co_await configurationManager_.loadConfiguration();
        if (!self) {
            co_return;
        }
    }
    const auto &configuration = configurationManager_.configuration();
    if (!configuration || !configuration->account.isComplete()) {
        setErrorMessage(kSignInBeforeEnablingMessage);
        co_return;
    }
    try {
        co_await runExclusive([this] { return enableWork(); });
    } catch (...) {
        if (self) {
            setErrorMessage(messageOf(std::current_exception()));
        }
    }
}

QCoro::Task<void> HistoryCoordinator::disableSaving()
{
    if (!configuredAccountScope()) {
        co_return;
    }
    QPointer<HistoryCoordinator> self(this);
    try {
        co_await runExclusive([this] { return disableWork(); });
    } catch (...) {
        if (self) {
            setErrorMessage(messageOf(std::current_exception()));
        }
    }
}

QCoro::Task<void> HistoryCoordinator::setSavingEnabled(bool enabled)
{
    if (enabled) {
        co_await enableHistory();
    } else {
        co_await disableSaving();
    }
}

QCoro::Task<void> HistoryCoordinator::setRetentionDays(int days)
{
    if (!configuredAccountScope()) {
        co_return;
    }
    QPointer<HistoryCoordinator> self(this);
    try {
        co_await runExclusive([this, days] { return retentionWork(days); });
    } catch (...) {
        if (self) {
            setErrorMessage(messageOf(std::current_exception()));
        }
    }
}

QCoro::Task<void> HistoryCoordinator::deleteAllHistory()
{
    co_await runExclusive([this] { return deleteAllWork(); });
}

} // namespace quillby
