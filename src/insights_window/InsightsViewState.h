#pragma once

#include "history/GlucoseHistorySnapshot.h"

#include <QString>

#include <optional>

namespace quillby {

class HistoryCoordinator;

// The one content state the Insights window shows.
enum class InsightsViewState { loading, historyUnavailable, collecting, emptyPeriod, report, calculating };

// What the state choice reads.
struct InsightsStateFacts {
    bool hasSnapshot = false;
    bool busy = false;
    bool refreshing = false;
    bool hasProgress = false;
    bool unlocked = false;
    bool snapshotHasReadings = false;
    std::optional<int> summaryReadingCount;   // none: no summary for the current input
};

// The first rule that holds decides.
InsightsViewState selectInsightsViewState(const InsightsStateFacts &facts);
// The history error banner stands above every state but the collecting card, which shows the
// error itself.
bool showsInsightsErrorBanner(bool hasError, bool unlocked, bool hasProgress);
// The explanation of the empty-period card.
QString insightsEmptyPeriodMessage(bool hasSnapshot, bool saving, int selectedDays, int retentionDays);

// The coordinator's snapshot when it belongs to the configured account, without copying it.
const GlucoseHistorySnapshot *currentHistorySnapshot(const HistoryCoordinator &history);

} // namespace quillby
