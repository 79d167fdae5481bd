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
    // The quarter hour of the last slice: instants in [start, end) that are whole seconds lie in
    // its bin and local day, and their slice ends at `boundary`, exactly as the calendar says.
    struct Quarter {
        Date start = 0;
        Date end = 0;   // empty until a slice fills it
        Date boundary = 0;
        std::size_t bin = 0;
        std::int64_t day = 0;
    };
    void addPiece(std::size_t bin, std::int64_t day, TimeInterval length, double mgdL, GlucoseProvider source);

    struct Bins;
    LocalCalendar::Cursor &calendar_;
    std::unique_ptr<Bins> bins_;
    Quarter quarter_;
};

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
