#include "insights_window/InsightsReadinessPresentation.h"

#include "insights_window/InsightsFormat.h"

#include <cmath>

namespace quillby {

bool InsightsReadinessPresentation::isReady() const
{
    return progress && progress->meetsReadinessGates();
}

QString InsightsReadinessPresentation::title() const
{
    if (!progress) {
        return QStringLiteral("Preparing insights");
    }
    if (isReady()) {
        return QStringLiteral("Your insights are ready");
    }
    if (!isSaving) {
        return hasSavedReadings ? QStringLiteral("History collection is paused")
                                : QStringLiteral("Get started with Insights");
    }
    if (progress->collectionDuration >= kInsightsRequiredCollectionDuration) {
        return QStringLiteral("More readings needed");
    }
    return progress->hasReadings ? QStringLiteral("Building your insights") : QStringLiteral("Waiting for readings");
}

QString InsightsReadinessPresentation::message() const
{
    if (!progress) {
        return QStringLiteral("Checking your saved history.");
    }
    if (isReady()) {
        return QStringLiteral("Your history is ready for insights.");
    }
    if (!isSaving) {
        return hasSavedReadings
                   ? QStringLiteral("Resume saving in Insights settings to keep building your report.")
                   : QStringLiteral("Explore your glucose patterns using readings saved on this computer. Your report "
                                    "will appear once enough history has been collected.");
    }
    if (progress->collectionDuration >= kInsightsRequiredCollectionDuration) {
        return QStringLiteral("Insights needs at least 70% coverage over the latest 3 days.");
    }
    if (!progress->hasReadings) {
        return QStringLiteral("Readings are saved after a successful glucose refresh. Insights needs 3 days of "
                              "collection and at least 70% coverage over the latest 3 days.");
    }
    QString text = QStringLiteral("Keep Quillby running to build your report.");
    if (const auto remaining = remainingText()) {
        text += QLatin1Char(' ') + *remaining;
    }
    return text + QStringLiteral(" Insights also needs at least 70% coverage over the latest 3 days.");
}

std::optional<QString> InsightsReadinessPresentation::remainingText() const
{
    if (!isSaving || !progress || isReady()) {
        return std::nullopt;
    }
    const double remaining = kInsightsRequiredCollectionDuration - progress->collectionDuration;
    if (!(remaining > 0)) {
        return std::nullopt;
    }
    QString text;
    if (remaining >= 86400) {
        const int days = clampedInt(std::ceil(remaining / 86400), 1, 3, 3);
        text = days == 1 ? QStringLiteral("About 1 more day remains")
                         : QStringLiteral("About %1 more days remain").arg(days);
    } else {
        const double hours = std::ceil(remaining / 3600);
        const int shown = std::max(1, clampedInt(hours, 1, 24, 1));
        text = hours < 2 ? QStringLiteral("About %1 more hour remains").arg(shown)
                         : QStringLiteral("About %1 more hours remain").arg(shown);
    }
    return text + QStringLiteral(" in the initial 3-day collection period.");
}

std::optional<InsightsReadinessPresentation::HistoryAction> InsightsReadinessPresentation::historyAction() const
{
    if (!progress || isReady() || isSaving) {
        return std::nullopt;
    }
    return hasSavedReadings ? HistoryAction::settings : HistoryAction::enable;
}

std::optional<double> InsightsReadinessPresentation::progressFraction() const
{
    if (!progress) {
        return std::nullopt;
    }
    return progress->progressFraction();
}

QString InsightsReadinessPresentation::progressAccessibilityValue() const
{
    if (!progress) {
        return QStringLiteral("Checking saved history");
    }
    return InsightsFormat::percent(progress->collectedShare(), 0) + QStringLiteral(" collected");
}

} // namespace quillby
