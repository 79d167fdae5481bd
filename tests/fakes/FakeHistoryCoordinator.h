#pragma once

#include "history/HistoryCoordinating.h"

#include <optional>
#include <string>
#include <vector>

namespace quillby::test {

// The poller-facing side of saved history, in memory. Saved readings belong to one account
// scope; every change renews the graph revision and emits graphUpdated, as the real one does.
class FakeHistoryCoordinator final : public HistoryCoordinating {
public:
    struct Batch {
        GlucoseReadings readings;
        Date fetchedAt = 0;
        GlucoseHistoryCollectionToken token;
    };

    std::optional<GlucoseHistoryCollectionToken> collectionToken(const std::string &accountScope) const override
    {
        ++tokenRequests;
        if (!savingEnabled || busy || accountScope != savedScope) {
            return std::nullopt;
        }
        return GlucoseHistoryCollectionToken{accountScope, epoch};
    }

    void enqueue(const GlucoseReadings &readings, Date fetchedAt, const GlucoseHistoryCollectionToken &token) override
    {
        if (!busy) {
            batches.push_back({readings, fetchedAt, token});
        }
    }

    SavedGraphHistory savedGraphHistory(const std::string &accountScope, Date now) const override
    {
        ++extractRequests;
        SavedGraphHistory extract{revision, accountScope, {}};
        if (!busy && accountScope == savedScope) {
            for (const auto &reading : savedReadings) {
                if (reading.date >= now - 86400 && reading.date <= now) {
                    extract.readings.push_back(reading);
                }
            }
        }
        return extract;
    }

    QUuid graphRevision() const override { return revision; }

    // Saved history changed (new readings stored, deletion, ...): new revision, observers told.
    void changeSavedReadings(GlucoseReadings readings)
    {
        savedReadings = std::move(readings);
        revision = QUuid::createUuid();
        emit graphUpdated();
    }

    std::string savedScope;                 // the account whose history is saved
    GlucoseReadings savedReadings;
    bool savingEnabled = true;
    bool busy = false;
    QUuid epoch = QUuid::createUuid();
    QUuid revision = QUuid::createUuid();

    std::vector<Batch> batches;
    mutable int tokenRequests = 0;
    mutable int extractRequests = 0;
};

} // namespace quillby::test
