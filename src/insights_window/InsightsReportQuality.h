#pragma once

#include "insights/InsightsSummary.h"

#include <QString>

#include <optional>

namespace quillby {

// The data-quality notice under a report.
struct InsightsReportQuality {
    enum class Kind { early, limited, missingNights };

    Kind kind = Kind::limited;
    QString text;
    QString systemImage;   // the symbol's design name ("chart.bar.xaxis", "moon.zzz.fill")

    // The notice for a report, or none (no readings, or nothing to say).
    static std::optional<InsightsReportQuality> make(const InsightsSummary &summary,
                                                     std::optional<Date> collectionStartedAt);
    // "insightsEarlyDataNotice", "insightsLimitedDataNotice", "insightsMissingNightWarning".
    static QString identifier(Kind kind);

    bool operator==(const InsightsReportQuality &) const = default;
};

} // namespace quillby
