#include "insights_window/InsightsViewState.h"

#include "history/HistoryCoordinator.h"

namespace quillby {

InsightsViewState selectInsightsViewState(const InsightsStateFacts &facts)
{
    if (!facts.hasSnapshot) {
        return facts.busy || facts.refreshing ? InsightsViewState::loading : InsightsViewState::historyUnavailable;
    }
    if (facts.hasProgress && !facts.unlocked) {
        return InsightsViewState::collecting;
    }
    if (facts.unlocked && !facts.snapshotHasReadings) {
        return InsightsViewState::emptyPeriod;
    }
    if (facts.unlocked && facts.summaryReadingCount) {
        return *facts.summaryReadingCount == 0 ? InsightsViewState::emptyPeriod : InsightsViewState::report;
    }
    return InsightsViewState::calculating;
}

bool showsInsightsErrorBanner(bool hasError, bool unlocked, bool hasProgress)
{
    return hasError && (unlocked || !hasProgress);
}

QString insightsEmptyPeriodMessage(bool hasSnapshot, bool saving, int selectedDays, int retentionDays)
{
    if (hasSnapshot && !saving) {
        return QStringLiteral("Saving is off. Choose another period to see older readings, or resume saving in "
                              "Insights settings.");
    }
    if (selectedDays < retentionDays) {
        return QStringLiteral("Choose a longer period to see older readings, or keep Quillby running to collect more.");
    }
    return QStringLiteral("New readings will appear here as they’re saved. You can manage saved history in Insights "
                          "settings.");
}

const GlucoseHistorySnapshot *currentHistorySnapshot(const HistoryCoordinator &history)
{
    const auto &stored = history.storedSnapshot();
    if (!stored || stored->configuration.accountScope != history.configuredAccountScope()) {
        return nullptr;
    }
    return &*stored;
}

} // namespace quillby
