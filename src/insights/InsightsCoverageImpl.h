#pragma once

// Coverage over the engine's clean samples, with one calendar cursor for the whole calculation.

#include "insights/InsightsCoverage.h"
#include "insights/InsightsSample.h"

namespace quillby::insights_detail {

std::vector<DateInterval> coveredIntervalsOfSamples(std::span<const Sample> sorted, const DateInterval &interval);
std::vector<DateInterval> dayIntervals(const DateInterval &interval, LocalCalendar::Cursor &calendar);
std::vector<InsightsHourCoverage> hourCoverage(std::span<const DateInterval> days,
                                               std::span<const DateInterval> covered,
                                               LocalCalendar::Cursor &calendar);
bool hasMissingNightCoverage(std::span<const DateInterval> days, const DateInterval &interval,
                             std::span<const DateInterval> covered, LocalCalendar::Cursor &calendar);
InsightsCoverage coverageOfSamples(std::span<const Sample> sorted, const DateInterval &interval,
                                   LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
