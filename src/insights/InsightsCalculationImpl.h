#pragma once

#include "insights/InsightsCollectionProgress.h"
#include "insights/InsightsSample.h"
#include "insights/InsightsSummary.h"

namespace quillby::insights_detail {

// A collection start that is absent or not finite is not recorded.
std::optional<Date> recordedCollectionStart(std::optional<Date> collectionStartedAt);

InsightsSummary summaryOfSamples(std::span<const Sample> sorted, const DateInterval &interval,
                                 std::optional<Date> collectionStartedAt, LocalCalendar::Cursor &calendar);
InsightsCollectionProgress progressOfSamples(std::span<const Sample> sorted, Date end,
                                             std::optional<Date> collectionStartedAt);

} // namespace quillby::insights_detail
