#pragma once

#include "history/GlucoseHistoryTypes.h"

#include <QObject>

#include <optional>
#include <string>

namespace quillby {

// The side of the history coordinator that the poller and its menu graph feed use.
// Main thread only.
class HistoryCoordinating : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~HistoryCoordinating() override = default;

    // A token exists only while saving is on for that account and no operation runs.
    virtual std::optional<GlucoseHistoryCollectionToken> collectionToken(const std::string &accountScope) const = 0;
    // Queues one refresh's readings; never waits for the store.
    virtual void enqueue(const GlucoseReadings &readings, Date fetchedAt,
                         const GlucoseHistoryCollectionToken &token) = 0;
    // Saved readings of the last 24 h for the scope (never absent).
    virtual SavedGraphHistory savedGraphHistory(const std::string &accountScope, Date now) const = 0;
    // The current graph revision; renewed on every change of saved history.
    virtual QUuid graphRevision() const = 0;

signals:
    // One element of the graph-update stream: saved history changed.
    void graphUpdated();
};

} // namespace quillby
