#pragma once

#include "insights/InsightsAGP.h"
#include "insights/InsightsSample.h"

#include <memory>

namespace quillby::insights_detail {

class ValueIds;

// The profile built piece by piece: add() each weighted sample in time order, with the number
// that `ids` gives its value, then finish() with the same ids.
class AGPBuilder {
public:
    // `expectedSamples`: about how many samples will be added (room is made for them at once).
    explicit AGPBuilder(LocalCalendar::Cursor &calendar, std::size_t expectedSamples = 0);
    ~AGPBuilder();
    AGPBuilder(const AGPBuilder &) = delete;
    AGPBuilder &operator=(const AGPBuilder &) = delete;

    void add(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence);
    InsightsAGP finish(const ValueIds &ids);

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
    void addPiece(std::size_t bin, std::int64_t day, TimeInterval length, std::uint32_t valueId, bool fixedCadence);

    struct Bins;
    LocalCalendar::Cursor &calendar_;
    std::unique_ptr<Bins> bins_;
    Quarter quarter_;
};

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
