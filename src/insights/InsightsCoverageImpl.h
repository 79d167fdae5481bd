#pragma once

// Coverage over the engine's clean samples, with one calendar cursor for the whole calculation.

#include "insights/InsightsCoverage.h"
#include "insights/InsightsSample.h"

#include <algorithm>
#include <vector>

namespace quillby::insights_detail {

// Joins spans given in time order into sorted, disjoint, non-touching intervals.
class IntervalMerger {
public:
    void add(Date start, TimeInterval duration)
    {
        const Date end = start + duration;
        if (!intervals_.empty() && start <= intervals_.back().end) {
            intervals_.back().end = std::max(intervals_.back().end, end);
        } else {
            intervals_.emplace_back(start, end);
        }
    }
    std::vector<DateInterval> take() { return std::move(intervals_); }

private:
    std::vector<DateInterval> intervals_;
};

std::vector<DateInterval> coveredIntervalsOfSamples(std::span<const Sample> sorted, const DateInterval &interval);
std::vector<DateInterval> dayIntervals(const DateInterval &interval, LocalCalendar::Cursor &calendar);
std::vector<InsightsHourCoverage> hourCoverage(std::span<const DateInterval> days,
                                               std::span<const DateInterval> covered,
                                               LocalCalendar::Cursor &calendar);
bool hasMissingNightCoverage(std::span<const DateInterval> days, const DateInterval &interval,
                             std::span<const DateInterval> covered, LocalCalendar::Cursor &calendar);
InsightsCoverage coverageOfSamples(std::span<const Sample> sorted, const DateInterval &interval,
                                   LocalCalendar::Cursor &calendar);
// The same from the covered intervals of the samples (coveredIntervalsOfSamples).
InsightsCoverage coverageOfCovered(const std::vector<DateInterval> &covered, const DateInterval &interval,
                                   LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
