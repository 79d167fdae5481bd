#pragma once

#include "core/GlucoseReading.h"
#include "insights/DateInterval.h"
#include "insights/InsightsAGP.h"
#include "insights/InsightsBand.h"
#include "insights/InsightsCoverage.h"
#include "insights/LocalCalendar.h"
#include "insights/ReadingCadence.h"

#include <optional>
#include <variant>
#include <vector>

namespace quillby {

// Why no GMI is estimated, in order of precedence.
enum class InsightsGMIUnavailableReason { noReadings, collectingHistory, shortInterval, insufficientCoverage };

// The estimated glucose management indicator (percent), or why it is withheld.
class InsightsGMI {
public:
    static InsightsGMI available(double percent) { return InsightsGMI(percent); }
    static InsightsGMI unavailable(InsightsGMIUnavailableReason reason) { return InsightsGMI(reason); }

    bool isAvailable() const { return std::holds_alternative<double>(value_); }
    std::optional<double> percent() const;
    std::optional<InsightsGMIUnavailableReason> unavailableReason() const;

    bool operator==(const InsightsGMI &) const = default;

private:
    explicit InsightsGMI(std::variant<double, InsightsGMIUnavailableReason> value) : value_(value) {}
    std::variant<double, InsightsGMIUnavailableReason> value_;
};

// Periods and collections shorter than this give no GMI.
inline constexpr TimeInterval kInsightsGMIMinimumDuration = 1209600;   // 14 days
inline constexpr double kInsightsGMIRequiredCoverageFraction = 0.7;

// 3.31 + 0.02392 × mean (mg/dL).
double glucoseManagementIndicator(double meanMgdl);

// Every figure of one report.
struct InsightsSummary {
    DateInterval interval;                          // the report period [S, E]
    int readingCount = 0;                           // clean readings dated in [S, E)
    std::optional<DateInterval> availableInterval;  // first to last of those readings
    std::optional<double> meanMgdl;                 // time-weighted
    std::optional<double> standardDeviationMgdl;    // time-weighted, population form
    std::optional<double> medianMgdl;
    std::optional<double> q1Mgdl;
    std::optional<double> q3Mgdl;
    std::optional<double> iqrMgdl;                  // q3 - q1
    std::vector<InsightsBandSummary> bands;         // five rows in band order
    InsightsCoverage coverage;                      // of the period
    InsightsCoverage collectionCoverage;            // of the part of the period since collection started
    InsightsAGP agp;
    InsightsGMI gmi = InsightsGMI::unavailable(InsightsGMIUnavailableReason::noReadings);

    // The report of `readings` (any order, unclean) over `interval`; `fixedCadence` tells which
    // readings are on a fixed cadence. A collection start that is absent or not finite counts as
    // not recorded. Never fails.
    static InsightsSummary calculate(const GlucoseReadings &readings, const DateInterval &interval,
                                     std::optional<Date> collectionStartedAt, const LocalCalendar &calendar,
                                     FixedCadenceRule fixedCadence);

    bool operator==(const InsightsSummary &) const = default;
};

} // namespace quillby
