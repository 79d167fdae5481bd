#pragma once

#include "core/GlucoseReading.h"

#include <QUuid>

#include <functional>
#include <optional>
#include <string>

namespace quillby {

// Account scope and epoch of an account's saved-history configuration. A batch is stored
// only while both still match.
struct GlucoseHistoryCollectionToken {
    std::string accountScope;
    QUuid epoch;
    bool operator==(const GlucoseHistoryCollectionToken &) const = default;
};

// Whether saved readings (clean, oldest first), a collection start and the current time show the
// minimum dataset that unlocks Insights. The Insights engine owns the rule
// (insightsMinimumDatasetReached); whoever builds the store hands it in.
using InsightsUnlockRule =
    std::function<bool(const GlucoseReadings &readings, std::optional<Date> collectionStartedAt, Date now)>;

// Saved readings of the last 24 hours that refill the menu graph.
struct SavedGraphHistory {
    QUuid revision;               // the coordinator's graph revision when the extract was made
    std::string accountScope;
    GlucoseReadings readings;
    bool operator==(const SavedGraphHistory &) const = default;
};

} // namespace quillby
