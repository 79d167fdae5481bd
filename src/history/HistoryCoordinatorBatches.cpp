// The poller-facing side of the history coordinator: collection tokens, the batch queue and its
// drain, the graph-update streams and the saved-graph extracts.

#include "history/HistoryCoordinator.h"
#include "core/async/RunDetached.h"

#include <QMetaObject>

#include <QCoroSignal>

#include <algorithm>
#include <utility>

namespace quillby {

std::optional<GlucoseHistoryCollectionToken> HistoryCoordinator::collectionToken(const std::string &accountScope) const
{
    if (isBusy_ || !hasSelectedAccount_ || !storedSnapshot_) {
        return std::nullopt;
    }
    const auto &configuration = storedSnapshot_->configuration;
    if (!configuration.isEnabled || configuration.pendingDeletion) {
        return std::nullopt;
    }
    if (!configuration.accountScope || *configuration.accountScope != accountScope) {
        return std::nullopt;
    }
    return GlucoseHistoryCollectionToken{accountScope, configuration.epoch};
}

void HistoryCoordinator::enqueue(const GlucoseReadings &readings, Date fetchedAt,
                                 const GlucoseHistoryCollectionToken &token)
{
    if (isBusy_) {
        return;
    }
    if (pending_.size() >= kQueueCapacity) {
        pending_.pop_front();
        setErrorMessage(kFallingBehindMessage);
    }
    pending_.push_back(Batch{readings, fetchedAt, token, revision_});
    emit pendingChanged();
    startDrain();
}

void HistoryCoordinator::startDrain()
{
    if (draining_) {
        return;
    }
    draining_ = true;
    // Starts on a later event-loop turn, like a task started from the main thread: batches
    // queued in the same turn wait in the queue (and count against its capacity) meanwhile.
    QMetaObject::invokeMethod(
        this, [this] { runDetached(drainPendingBatches()); }, Qt::QueuedConnection);
}

QCoro::Task<void> HistoryCoordinator::drainPendingBatches()
{
    QPointer<HistoryCoordinator> self(this);
    while (!pending_.empty()) {
        Batch batch = std::move(pending_.front());
        pending_.pop_front();
        emit pendingChanged();
        if (batch.revision != revision_) {
            continue;   // an operation ran since it was queued
        }
        auto store = store_;
        std::exception_ptr error;
        try {
            co_await store->append(std::move(batch.readings), batch.fetchedAt, batch.token, clock_->now());
        } catch (...) {
            error = std::current_exception();
        }
        if (!self) {
            co_return;
        }
        if (batch.revision != revision_) {
            continue;   // overtaken while it was written: neither its refresh nor its error counts
        }
        if (error) {
            setErrorMessage(messageOf(error));   // not retried; the next batch follows
            continue;
        }
        co_await requestSnapshotRefresh();
        if (!self) {
            co_return;
        }
    }
    draining_ = false;
}

SavedGraphHistory HistoryCoordinator::savedGraphHistory(const std::string &accountScope, Date now) const
{
    SavedGraphHistory extract{graphRevision_, accountScope, {}};
    if (isBusy_ || !storedSnapshot_) {
        return extract;
    }
    const auto &configuration = storedSnapshot_->configuration;
    if (!configuration.accountScope || *configuration.accountScope != accountScope || configuration.pendingDeletion) {
        return extract;
    }
    // Whether saving is still on does not matter: kept readings still refill the graph.
    // Saved readings are ascending by date: start at the window.
    const Date cutoff = now - kGraphWindow;
    const GlucoseReadings &saved = storedSnapshot_->readings;
    const auto first = std::lower_bound(saved.begin(), saved.end(), cutoff,
                                        [](const GlucoseReading &reading, Date date) { return reading.date < date; });
    for (auto reading = first; reading != saved.end() && reading->date <= now; ++reading) {
        extract.readings.push_back(*reading);
    }
    return extract;
}

std::unique_ptr<HistoryGraphUpdates> HistoryCoordinator::graphUpdates()
{
    const QUuid id = QUuid::createUuid();
    std::unique_ptr<HistoryGraphUpdates> stream(new HistoryGraphUpdates(this, id));
    graphObservers_[id] = stream.get();
    stream->yieldElement();   // a new subscriber reads the current state first
    return stream;
}

void HistoryCoordinator::removeGraphObserver(const QUuid &id)
{
    graphObservers_.erase(id);
}

// --- HistoryGraphUpdates ---

HistoryGraphUpdates::HistoryGraphUpdates(HistoryCoordinator *coordinator, QUuid id)
    : coordinator_(coordinator), id_(id)
{
}

HistoryGraphUpdates::~HistoryGraphUpdates()
{
    if (coordinator_) {
        coordinator_->removeGraphObserver(id_);
    }
    // A reader still waiting would otherwise never resume.
    finished_ = true;
    pending_ = false;
    if (readerWaiting_) {
        emit elementAvailable();
    }
}

void HistoryGraphUpdates::yieldElement()
{
    if (finished_) {
        return;
    }
    pending_ = true;
    wakeReaderLater();
}

void HistoryGraphUpdates::finish()
{
    coordinator_ = nullptr;
    finished_ = true;
    wakeReaderLater();
}

void HistoryGraphUpdates::wakeReaderLater()
{
    if (!readerWaiting_) {
        return;
    }
    // Queued, so the reader never runs inside the coordinator's state changes.
    QMetaObject::invokeMethod(
        this, [this] { emit elementAvailable(); }, Qt::QueuedConnection);
}

QCoro::Task<bool> HistoryGraphUpdates::next(std::stop_token stop)
{
    QPointer<HistoryGraphUpdates> self(this);
    while (true) {
        if (pending_) {
            pending_ = false;
            co_return true;
        }
        if (finished_ || stop.stop_requested()) {
            co_return false;
        }
        readerWaiting_ = true;
        {
            std::stop_callback onStop(stop, [this] {
                QMetaObject::invokeMethod(
                    this, [this] { emit elementAvailable(); }, Qt::QueuedConnection);
            });
            co_await qCoro(this, &HistoryGraphUpdates::elementAvailable);
        }
        if (!self) {
            co_return false;
        }
        readerWaiting_ = false;
    }
}

} // namespace quillby
