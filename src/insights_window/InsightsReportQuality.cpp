#include "insights_window/InsightsReportQuality.h"

namespace quillby {

namespace {

bool coveredBelowRequired(const InsightsCoverage &coverage)
{
    return !(coverage.totalDuration > 0) ||
           coverage.coveredDuration / coverage.totalDuration < kInsightsGMIRequiredCoverageFraction;
}

} // namespace

std::optional<InsightsReportQuality> InsightsReportQuality::make(const InsightsSummary &summary,
                                                                 std::optional<Date> collectionStartedAt)
{
    if (summary.readingCount < 1) {
        return std::nullopt;
    }
    const bool early =
        !collectionStartedAt || summary.interval.end - *collectionStartedAt < kInsightsGMIMinimumDuration;
    const bool nights = summary.collectionCoverage.hasMissingNightWarning;
    const QString chart = QStringLiteral("chart.bar.xaxis");
    const auto limited = [&] {
        return InsightsReportQuality{
            Kind::limited,
            nights ? QStringLiteral("Limited data. Overnight readings are often missing; these insights may not "
                                    "reflect your usual glucose.")
                   : QStringLiteral("Limited data. Gaps in the selected period may affect these insights."),
            chart};
    };
    if (coveredBelowRequired(summary.collectionCoverage)) {
        return limited();
    }
    if (early) {
        return InsightsReportQuality{
            Kind::early,
            nights ? QStringLiteral("Early insights. Overnight readings are often missing; patterns may change as "
                                    "more history is saved.")
                   : QStringLiteral("Early insights. Patterns may change as more history is saved."),
            chart};
    }
    if (coveredBelowRequired(summary.coverage)) {
        return limited();
    }
    if (nights) {
        return InsightsReportQuality{Kind::missingNights,
                                     QStringLiteral("Overnight readings are often missing. These insights may not "
                                                    "represent your usual glucose."),
                                     QStringLiteral("moon.zzz.fill")};
    }
    return std::nullopt;
}

QString InsightsReportQuality::identifier(Kind kind)
{
    switch (kind) {
    case Kind::early:
        return QStringLiteral("insightsEarlyDataNotice");
    case Kind::limited:
        return QStringLiteral("insightsLimitedDataNotice");
    case Kind::missingNights:
        return QStringLiteral("insightsMissingNightWarning");
    }
    return {};
}

} // namespace quillby
