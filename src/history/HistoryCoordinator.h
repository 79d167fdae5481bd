#pragma once

#include "core/AppConfiguration.h"
#include "core/AppError.h"
#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "history/GlucoseHistorySnapshot.h"
#include "history/GlucoseHistoryStoring.h"
#include "history/HistoryCoordinating.h"

#include <QPointer>
#include <QUuid>

#include <QCoroTask>

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

class ConfigurationManager;
class HistoryCoordinator;

// Thrown when a history operation or an account selection is asked for while another runs.
class HistoryCoordinationError : public AppError {
public:
    enum class Case { operationInProgress };

    explicit HistoryCoordinationError(Case c);
    static HistoryCoordinationError operationInProgress() { return HistoryCoordinationError(Case::operationInProgress); }
    static const char *message(Case c);

    Case kind;
};

// One open stream of graph updates. It holds at most one element: however many changes happen
// before the reader asks again, it reads them as one. A new stream has one element waiting, so
// its reader sees the current state first. Destroying the stream unregisters it. Main thread.
class HistoryGraphUpdates : public QObject {
    Q_OBJECT
public:
    ~HistoryGraphUpdates() override;

    // Waits for the next element. True: saved history changed (or, first, the current state);
    // false: the stream ended (the coordinator is gone, the stream is being destroyed, or `stop`
    // was requested).
    QCoro::Task<bool> next(std::stop_token stop = {});

    bool hasPendingElement() const { return pending_; }
    bool isFinished() const { return finished_; }
    QUuid identifier() const { return id_; }

signals:
    // Wakes a reader waiting in next(); emitted on a later event-loop turn than the change.
    void elementAvailable();

private:
    friend class HistoryCoordinator;
    HistoryGraphUpdates(HistoryCoordinator *coordinator, QUuid id);
    void yieldElement();
    void finish();
    void wakeReaderLater();

    QPointer<HistoryCoordinator> coordinator_;
    QUuid id_;
    bool pending_ = false;
    bool finished_ = false;
    bool readerWaiting_ = false;
};

// The main-thread face of saved history. It owns the handle of the history store, knows which
// account scope is selected, runs one history operation at a time, writes the poller's batches
// through the store in order, and publishes the snapshot of the configured account, an error
// text, a busy flag and a graph revision for the Insights window, the Settings panes and the
// menu graph.
//
// Every asynchronous operation re-checks what it must after each await (the coordinator still
// exists, the revision, the refresh request, the configured scope) before touching state.
class HistoryCoordinator final : public HistoryCoordinating {
    Q_OBJECT
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool hasSelectedAccount READ hasSelectedAccount NOTIFY hasSelectedAccountChanged)
    Q_PROPERTY(QUuid graphRevision READ graphRevision NOTIFY graphRevisionChanged)
    Q_PROPERTY(QUuid revision READ revision NOTIFY revisionChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorMessageChanged)

public:
    // One refresh's readings on their way to the store.
    struct Batch {
        GlucoseReadings readings;
        Date fetchedAt = 0;
        GlucoseHistoryCollectionToken token;
        QUuid revision;   // the coordinator's revision when the batch was queued
    };

    // An operation run exclusively on behalf of a caller (the account service).
    using Operation = std::function<QCoro::Task<void>()>;

    static constexpr std::size_t kQueueCapacity = 8;
    static constexpr TimeInterval kGraphWindow = 86400;
    static constexpr TimeInterval kMaintenanceInterval = 3600;
    static inline const std::string kFallingBehindMessage =
        "History saving is falling behind. Some readings may be missing.";
    static inline const std::string kSignInBeforeEnablingMessage =
        "Sign in to your glucose account before enabling saved history.";

    HistoryCoordinator(std::shared_ptr<GlucoseHistoryStoring> store, ConfigurationManager &configurationManager,
                       std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper, QObject *parent = nullptr);
    ~HistoryCoordinator() override;

    // --- Observed state ---
    // The stored snapshot when it belongs to the configured account (both absent count as the
    // same); otherwise none.
    std::optional<GlucoseHistorySnapshot> snapshot() const;
    const std::optional<GlucoseHistorySnapshot> &storedSnapshot() const { return storedSnapshot_; }
    const std::optional<std::string> &errorMessage() const { return errorMessage_; }
    QString errorText() const;   // errorMessage, empty when none
    // Views may set it, to clear it.
    void setErrorMessage(std::optional<std::string> message);
    bool isBusy() const { return isBusy_; }
    QUuid graphRevision() const override { return graphRevision_; }
    bool hasSelectedAccount() const { return hasSelectedAccount_; }
    const std::optional<std::string> &selectedScope() const { return selectedScope_; }
    QUuid revision() const { return revision_; }
    const std::optional<QUuid> &latestRefreshRequest() const { return latestRefreshRequest_; }
    const std::deque<Batch> &pending() const { return pending_; }
    bool isDraining() const { return draining_; }
    bool isMaintenanceRunning() const { return maintenanceStop_.has_value(); }

    // --- Account scope ---
    static std::string accountScope(const GlucoseAccountConfiguration &account);
    // The scope of the configured account; none while nothing is loaded or the account is not
    // complete.
    std::optional<std::string> configuredAccountScope() const;

    // --- Maintenance ---
    // Starts the hourly refresh (the first one at once) unless it runs already.
    void start();
    // Ends the maintenance loop; an hourly sleep in progress ends early, with no further refresh.
    void cancelMaintenance();

    // --- Snapshots and account selection ---
    // Reloads the selected account's snapshot, or selects the configured account when the
    // selection is out of date. Never throws; does nothing while busy.
    QCoro::Task<void> requestSnapshotRefresh();
    // Makes the store activate the configured account's scope and publishes its snapshot.
    // Throws HistoryCoordinationError while busy, or the activation's error after publishing it.
    QCoro::Task<void> selectAccountScope();
    // The shared first step of selection and of the operations: activates the configured scope.
    QCoro::Task<GlucoseHistorySnapshot> activateConfiguredAccount();
    // Renews graphRevision and gives every graph observer one element.
    void notifyGraphObservers();

    // --- Exclusive operations ---
    // Runs `operation`, sets *completed (when given) once it returned, then activates the
    // configured account. Throws operationInProgress, the operation's error or the activation's.
    QCoro::Task<void> performExclusive(Operation operation, bool *completed = nullptr);
    // Exclusive runs of the account service's account saving and credential removal. Throw
    // operationInProgress or the operation's own error; a failure of the activation after a
    // successful operation stays in errorMessage only.
    QCoro::Task<void> performAccountChange(Operation operation);
    QCoro::Task<void> performSignOut(Operation operation);
    // Turns saving on after consent. Never throws; failures go to errorMessage.
    QCoro::Task<void> enableHistory();
    // Turns saving off (readings and key stay). Never throws; failures go to errorMessage.
    QCoro::Task<void> disableSaving();
    // true: enableHistory(); false: disableSaving().
    QCoro::Task<void> setSavingEnabled(bool enabled);
    // 30 or 90. Never throws; failures go to errorMessage.
    QCoro::Task<void> setRetentionDays(int days);
    // Deletes every account's saved history. Throws operationInProgress or the store's error.
    QCoro::Task<void> deleteAllHistory();

    // --- Poller side ---
    std::optional<GlucoseHistoryCollectionToken> collectionToken(const std::string &accountScope) const override;
    void enqueue(const GlucoseReadings &readings, Date fetchedAt, const GlucoseHistoryCollectionToken &token) override;
    SavedGraphHistory savedGraphHistory(const std::string &accountScope, Date now) const override;
    // A new graph-update stream with one element waiting.
    std::unique_ptr<HistoryGraphUpdates> graphUpdates();
    std::size_t graphObserverCount() const { return graphObservers_.size(); }

signals:
    void snapshotChanged();
    void errorMessageChanged();
    void isBusyChanged(bool busy);
    void graphRevisionChanged(const QUuid &revision);
    void hasSelectedAccountChanged(bool selected);
    void selectedScopeChanged();
    void revisionChanged(const QUuid &revision);
    void pendingChanged();

private:
    friend class HistoryGraphUpdates;
    using Work = std::function<QCoro::Task<GlucoseHistorySnapshot>()>;

    // Observed-field setters: they notify only on a change; the snapshot and busy setters
    // notify the graph observers on every assignment.
    void setStoredSnapshot(std::optional<GlucoseHistorySnapshot> snapshot);
    void setBusy(bool busy);
    void setHasSelectedAccount(bool selected);
    void setSelectedScope(std::optional<std::string> scope);
    void setRevision(QUuid revision);
    void clearPending();

    bool needsConfigurationLoad() const;
    static std::string messageOf(std::exception_ptr error);

    // The exclusive frame around `work`, shared by selection and every operation.
    QCoro::Task<void> runExclusive(Work work);
    QCoro::Task<GlucoseHistorySnapshot> operationWork(Operation operation, bool *completed);
    QCoro::Task<GlucoseHistorySnapshot> enableWork();
    QCoro::Task<GlucoseHistorySnapshot> disableWork();
    QCoro::Task<GlucoseHistorySnapshot> retentionWork(int days);
    QCoro::Task<GlucoseHistorySnapshot> deleteAllWork();
    QCoro::Task<void> performAccountOperation(Operation operation);

    void startDrain();
    QCoro::Task<void> drainPendingBatches();
    static QCoro::Task<void> runMaintenance(QPointer<HistoryCoordinator> self, std::stop_token stop,
                                            std::shared_ptr<Sleeper> sleeper);
    void removeGraphObserver(const QUuid &id);
    void onConfigurationChanged();

    std::optional<GlucoseHistorySnapshot> storedSnapshot_;
    std::optional<std::string> errorMessage_;
    bool isBusy_ = false;
    QUuid graphRevision_ = QUuid::createUuid();
    std::map<QUuid, HistoryGraphUpdates *> graphObservers_;
    std::shared_ptr<GlucoseHistoryStoring> store_;
    ConfigurationManager &configurationManager_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    bool hasSelectedAccount_ = false;
    std::optional<std::string> selectedScope_;
    QUuid revision_ = QUuid::createUuid();
    std::optional<QUuid> latestRefreshRequest_;
    std::deque<Batch> pending_;
    bool draining_ = false;
    std::optional<std::stop_source> maintenanceStop_;
    std::optional<std::string> lastConfiguredScope_;
};

} // namespace quillby
