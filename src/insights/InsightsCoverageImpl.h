#pragma once

// Coverage over the engine's clean samples, with one calendar cursor for the whole calculation.

#include "insights/InsightsCoverage.h"
#include "insights/InsightsSample.h"

#include <algorithm>
#include <vector>

namespace quillby::insights_detail {

// Joins spans given in time order into sorted, disjoint, non-touching intervals. The interval
// still growing is kept apart from the list, where a walk can hold it in registers.
class IntervalMerger {
public:
    void add(Date start, TimeInterval duration)
    {
        const Date end = start + duration;
        if (open_ && start <= openEnd_) {
            openEnd_ = std::max(openEnd_, end);
        } else {
            close();
            openStart_ = start;
            openEnd_ = end;
            open_ = true;
        }
    }
    // Whether a span from `start` only grows the interval that is growing (see extend()).
    bool extends(Date start) const { return open_ && start <= openEnd_; }
    void extend(Date start, TimeInterval duration) { openEnd_ = std::max(openEnd_, start + duration); }
    // The interval that is growing: whether there is one, and its end, which a walk may hold in a
    // register and grow itself (as extend() would) and then hand back.
    bool isOpen() const { return open_; }
    Date openEnd() const { return openEnd_; }
    void setOpenEnd(Date end) { openEnd_ = end; }

    std::vector<DateInterval> take()
    {
        close();
        return std::move(intervals_);
    }

private:
    void close()
    {
        if (open_) {
            intervals_.emplace_back(openStart_, openEnd_);
            open_ = false;
        }
    }

    std::vector<DateInterval> intervals_;
    Date openStart_ = 0;
    Date openEnd_ = 0;
    bool open_ = false;
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
