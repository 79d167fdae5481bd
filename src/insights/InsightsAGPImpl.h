#pragma once

#include "insights/InsightsAGP.h"
#include "insights/InsightsSample.h"

#include <memory>

namespace quillby::insights_detail {

// The profile built piece by piece: add() each weighted sample in time order, then finish().
class AGPBuilder {
public:
    explicit AGPBuilder(LocalCalendar::Cursor &calendar);
    ~AGPBuilder();
    AGPBuilder(const AGPBuilder &) = delete;
    AGPBuilder &operator=(const AGPBuilder &) = delete;

    void add(Date date, TimeInterval duration, double mgdL, GlucoseProvider source);
    InsightsAGP finish();

private:
    struct Bins;
    LocalCalendar::Cursor &calendar_;
    std::unique_ptr<Bins> bins_;
};

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
