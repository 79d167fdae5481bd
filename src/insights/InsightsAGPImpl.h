#pragma once

#include "insights/InsightsAGP.h"
#include "insights/InsightsSample.h"
#include "insights/InsightsStatisticsImpl.h"

#include <memory>

namespace quillby::insights_detail {

// The profile built piece by piece: add() each weighted sample in time order, with the number
// that `ids` gives its value, then finish(). `ids` must already number every value that will be
// added, and must outlive the builder.
class AGPBuilder {
public:
    // `expectedSamples`: about how many samples will be added (room is made for them at once).
    AGPBuilder(LocalCalendar::Cursor &calendar, const ValueIds &ids, std::size_t expectedSamples = 0);
    ~AGPBuilder();
    AGPBuilder(const AGPBuilder &) = delete;
    AGPBuilder &operator=(const AGPBuilder &) = delete;

    [[gnu::always_inline]] void add(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence)
    {
        if (!tryAdd(date, duration, valueId, fixedCadence)) {
            addSlow(date, duration, valueId, fixedCadence);
        }
    }
    // add() of a sample that lies wholly inside the quarter hour of the piece before; otherwise
    // nothing and false.
    [[gnu::always_inline]] bool tryAdd(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence)
    {
        // One piece, in the bin and day of that quarter, which the first piece there already
        // noted (see addSlow).
        const Date end = date + duration;
        if (!(quarter_.start <= date && date < quarter_.end && date < end && end <= quarter_.boundary &&
              isWholeSecond(date))) {
            return false;
        }
        quarter_.check->add(end - date, fixedCadence);
        if (quarter_.row != nullptr) {
            Sums &cell = quarter_.row[rank_[valueId]];
            cell.count += 1.0;
            cell.weight += end - date;
        } else {
            quarter_.pieces->push_back(Piece{valueId, end - date});
        }
        return true;
    }
    InsightsAGP finish();

    // One piece of a quarter hour: the number of its value among all the report's values.
    struct Piece {
        std::uint32_t id;
        TimeInterval length;
    };
    // A count and a summed weight of one value in one quarter hour.
    struct Sums {
        double count = 0;
        double weight = 0;
    };

private:
    // A whole number of seconds below 2^53: the calendar's clock then works in exact integers.
    static bool isWholeSecond(double seconds)
    {
        // Below 2^53 the conversion to an integer is exact for whole numbers and drops the
        // fraction of any other: a comparison instead of a floor.
        return std::fabs(seconds) < 9007199254740992.0 &&
               static_cast<double>(static_cast<std::int64_t>(seconds)) == seconds;
    }

    // The quarter hour of the last slice: instants in [start, end) that are whole seconds lie in
    // its bin and local day, and their slice ends at `boundary`, exactly as the calendar says.
    // Where that bin's pieces go rides along.
    struct Quarter {
        Date start = 0;
        Date end = 0;   // empty until a slice fills it
        Date boundary = 0;
        std::size_t bin = 0;
        std::int64_t day = 0;
        Date spanEnd = 0;   // the end of the calendar's offset span it was taken in
        WeightCheck *check = nullptr;
        Sums *row = nullptr;                  // the bin's row of the grid, or
        std::vector<Piece> *pieces = nullptr; // the bin's list of pieces
    };
    void addSlow(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence);
    void addPiece(std::size_t bin, std::int64_t day, TimeInterval length, std::uint32_t valueId, bool fixedCadence);
    Quarter quarterOf(Date start, Date end, Date boundary, std::size_t bin, std::int64_t day);

    struct Bins;
    LocalCalendar::Cursor &calendar_;
    std::unique_ptr<Bins> bins_;
    const std::uint32_t *rank_ = nullptr;   // by value number: place in ascending order of value
    Quarter quarter_;
};

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar);

} // namespace quillby::insights_detail
