#pragma once

#include "core/SharedGlucoseReadings.h"
#include "insights/InsightsCollectionProgress.h"
#include "insights/InsightsSummary.h"
#include "insights/LocalCalendar.h"
#include "insights/ReadingCadence.h"

#include <QUuid>

#include <optional>
#include <string>

namespace quillby {

// What the Insights window hands to the engine.
struct InsightsCalculationInput {
    SharedGlucoseReadings readings;            // the account's saved readings (shared, not copied), any order, unclean
    DateInterval interval;                     // the report period [S, E]
    std::optional<Date> collectionStartedAt;   // not recorded: absent
    LocalCalendar calendar;                    // days, hours and the profile
    std::optional<std::string> accountScope;   // the saved history the readings belong to
    std::optional<QUuid> historyEpoch;
    FixedCadenceRule fixedCadence = nullptr;   // which readings are on a fixed cadence

    // Same account scope and same epoch (absent equals absent).
    bool hasSameHistoryIdentity(const InsightsCalculationInput &other) const;

    bool operator==(const InsightsCalculationInput &) const = default;
};

// The report and the progress of the first collection.
struct InsightsCalculationResult {
    InsightsSummary summary;
    InsightsCollectionProgress collectionProgress;

    // The whole calculation; accountScope and historyEpoch only tag the input. Never fails.
    static InsightsCalculationResult calculate(const InsightsCalculationInput &input);

    bool operator==(const InsightsCalculationResult &) const = default;
};

} // namespace quillby
