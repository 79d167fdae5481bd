#pragma once

#include "insights/InsightsAGP.h"
#include "insights/InsightsSample.h"

namespace quillby::insights_detail {

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
