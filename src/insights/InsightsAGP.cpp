#include "insights/InsightsAGP.h"

#include "insights/InsightsAGPImpl.h"
#include "insights/InsightsStatisticsImpl.h"

#include <array>
#include <bit>
#include <cmath>

namespace quillby {

namespace insights_detail {

namespace {

// Where the local minute of a calendar answer starts and where its quarter hour ends (minutes
// are added as elapsed time, as a calendar adds them).
struct QuarterHourEdges {
    Date minuteStart;
    Date boundary;
};

QuarterHourEdges quarterHourEdges(const LocalCalendar::Cursor::Clock &fields)
{
    const Date minuteStart = minuteFloor(fields.localSeconds) - fields.utcOffset;
    return {minuteStart, minuteStart + (15 - fields.minute % 15) * 60.0};
}

// Walks one weighted span from `date` for `duration` seconds and calls
// onPiece(start, length, fields of start) for each quarter-hour piece.
template <class Emit>
void sliceAtQuarterHours(Date date, TimeInterval duration, LocalCalendar::Cursor &calendar, Emit &&onPiece)
{
    Date cursor = date;
    const Date end = date + duration;
    while (cursor < end) {
        const auto fields = calendar.clock(cursor);
        if (!fields) {
            return;
        }
        const Date boundary = quarterHourEdges(*fields).boundary;
        if (!(boundary > cursor)) {
            return;
        }
        const Date pieceEnd = std::min(boundary, end);
        onPiece(cursor, pieceEnd - cursor, *fields);
        cursor = pieceEnd;
    }
}

// One piece of a quarter hour: the number of its value among all the report's values.
struct Piece {
    std::uint32_t id;
    TimeInterval length;
};

// One quarter hour: its pieces in the order they came, and the local days they came from.
class Bin {
public:
    void reserve(std::size_t pieces) { pieces_.reserve(pieces); }

    void add(std::uint32_t id, TimeInterval length, bool fixedCadence, std::int64_t day)
    {
        check_.add(length, fixedCadence);
        pieces_.push_back(Piece{id, length});
        if (days_.empty() || days_.back() != day) {
            days_.push_back(day);
        }
    }

    const WeightCheck &check() const { return check_; }
    const std::vector<Piece> &pieces() const { return pieces_; }
    std::vector<std::int64_t> &days() { return days_; }

private:
    WeightCheck check_;
    std::vector<Piece> pieces_;
    std::vector<std::int64_t> days_;
};

} // namespace

// The values are numbered once for the whole report (by the caller's ValueIds), so that they are
// sorted once rather than in every quarter hour.
struct AGPBuilder::Bins {
    std::array<Bin, kInsightsAGPBinCount> bins;
    std::vector<std::int64_t> allDays;
};

AGPBuilder::AGPBuilder(LocalCalendar::Cursor &calendar, std::size_t expectedSamples)
    : calendar_(calendar), bins_(std::make_unique<Bins>())
{
    // Samples spread over the quarter hours; one in a few is cut in two at a quarter's end.
    const std::size_t perBin = expectedSamples / kInsightsAGPBinCount;
    if (perBin > 0) {
        for (Bin &bin : bins_->bins) {
            bin.reserve(perBin + perBin / 8 + 4);
        }
    }
}
AGPBuilder::~AGPBuilder() = default;

namespace {

// A whole number of seconds below 2^53: the calendar's clock then works in exact integers.
bool isWholeSecond(double seconds)
{
    return std::fabs(seconds) < 9007199254740992.0 && seconds == floorOf(seconds);
}

} // namespace

void AGPBuilder::add(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence)
{
    // The pieces of sliceAtQuarterHours. Samples come in time order, most of them inside the
    // quarter hour of the one before: such a piece takes the bin, day and boundary remembered
    // from the calendar's answer for that quarter instead of asking again. That memo is kept only
    // where the calendar's arithmetic is exact (whole seconds, one UTC offset), so the pieces are
    // the very ones slicing would give.
    Date cursor = date;
    const Date end = date + duration;
    while (cursor < end) {
        if (!(quarter_.start <= cursor && cursor < quarter_.end && isWholeSecond(cursor))) {
            const auto fields = calendar_.clock(cursor);
            if (!fields) {
                return;
            }
            const auto [minuteStart, boundary] = quarterHourEdges(*fields);
            if (!(boundary > cursor)) {
                return;
            }
            const auto bin = static_cast<std::size_t>((fields->hour * 60 + fields->minute) / 15);
            if (isWholeSecond(cursor) && isWholeSecond(fields->localSeconds)) {
                const Date quarterStart = minuteStart - (fields->minute % 15) * 60.0;
                quarter_ = Quarter{std::max(quarterStart, calendar_.offsetSpanStart()),
                                   std::min(boundary, calendar_.offsetSpanEnd()), boundary, bin, fields->dayNumber};
            } else {
                quarter_ = Quarter{};
                const Date pieceEnd = std::min(boundary, end);
                addPiece(bin, fields->dayNumber, pieceEnd - cursor, valueId, fixedCadence);
                cursor = pieceEnd;
                continue;
            }
        }
        const Date pieceEnd = std::min(quarter_.boundary, end);
        addPiece(quarter_.bin, quarter_.day, pieceEnd - cursor, valueId, fixedCadence);
        cursor = pieceEnd;
    }
}

void AGPBuilder::addPiece(std::size_t bin, std::int64_t day, TimeInterval length, std::uint32_t valueId,
                          bool fixedCadence)
{
    Bins &all = *bins_;
    all.bins[bin].add(valueId, length, fixedCadence, day);
    if (all.allDays.empty() || all.allDays.back() != day) {
        all.allDays.push_back(day);
    }
}

namespace {

// The distinct values of each quarter hour, sorted ascending, each with its count and summed
// weight (both summed in the order the pieces came), exactly as DistinctValues gives them.
class BinValues {
public:
    explicit BinValues(const ValueIds &ids) : ids_(ids)
    {
        // A NaN or a zero (equal to a negative zero) keeps the quarter hour's own rules.
        perBin_ = ids.hasNaNOrZero();
        if (perBin_) {
            return;
        }
        const std::vector<double> &values = ids.values();
        order_.resize(values.size());
        for (std::uint32_t id = 0; id < order_.size(); ++id) {
            order_[id] = id;
        }
        if (!ids.forEachInOrder([&, next = std::size_t{0}](std::uint32_t id) mutable { order_[next++] = id; })) {
            std::sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
        }
        rank_.resize(values.size());
        for (std::uint32_t r = 0; r < order_.size(); ++r) {
            rank_[order_[r]] = r;
        }
        sums_.assign(values.size(), Sums{});
        touched_.assign((values.size() + 63) / 64, 0);
    }

    std::vector<DistinctValues::Entry> sorted(const std::vector<Piece> &pieces)
    {
        const std::vector<double> &values = ids_.values();
        if (perBin_) {
            DistinctValues distinct;
            for (const Piece &piece : pieces) {
                distinct.count(values[piece.id], piece.length);
            }
            return std::move(distinct).sorted();
        }
        // Sums start at zero, and 0 + x is x: no branch on whether a value is new, which values
        // with tenths would make unpredictable.
        for (const Piece &piece : pieces) {
            const std::uint32_t r = rank_[piece.id];
            touched_[r / 64] |= std::uint64_t{1} << (r % 64);
            sums_[r].count += 1.0;
            sums_[r].weight += piece.length;
        }
        std::vector<DistinctValues::Entry> entries;
        entries.reserve(std::min(pieces.size(), sums_.size()));
        for (std::size_t word = 0; word < touched_.size(); ++word) {
            std::uint64_t bits = touched_[word];
            touched_[word] = 0;
            while (bits != 0) {
                const auto r = static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
                bits &= bits - 1;
                entries.push_back(DistinctValues::Entry{values[order_[r]], sums_[r].count, sums_[r].weight});
                sums_[r] = Sums{};
            }
        }
        return entries;
    }

private:
    const ValueIds &ids_;
    bool perBin_ = false;
    std::vector<std::uint32_t> order_;   // ids ascending by value
    std::vector<std::uint32_t> rank_;    // by id: place in order_
    struct Sums {
        double count = 0;
        double weight = 0;
    };
    std::vector<Sums> sums_;             // by rank, for the quarter hour at hand
    std::vector<std::uint64_t> touched_; // ranks with a count
};

} // namespace

InsightsAGP AGPBuilder::finish(const ValueIds &ids)
{
    const auto distinct = [](std::vector<std::int64_t> &days) {
        std::sort(days.begin(), days.end());
        return static_cast<int>(std::unique(days.begin(), days.end()) - days.begin());
    };

    static constexpr std::array<double, 5> kFractions{0.05, 0.25, 0.5, 0.75, 0.95};
    BinValues binValues(ids);
    InsightsAGP profile;
    profile.bins.reserve(kInsightsAGPBinCount);
    for (int i = 0; i < kInsightsAGPBinCount; ++i) {
        Bin &bin = bins_->bins[static_cast<std::size_t>(i)];
        InsightsAGPBin result;
        result.startMinute = 15 * i;
        result.readingCount = static_cast<int>(bin.check().pieces());
        result.dayCount = distinct(bin.days());
        if (result.dayCount >= kInsightsAGPMinimumDays) {
            std::array<std::optional<double>, 5> q;
            const std::vector<DistinctValues::Entry> entries = binValues.sorted(bin.pieces());
            quantilesOfEntries(entries, bin.check().equalWeights(), kFractions, std::span(q));
            result.percentiles = InsightsAGPPercentiles{*q[0], *q[1], *q[2], *q[3], *q[4]};
        }
        profile.bins.push_back(std::move(result));
    }
    profile.contributingDayCount = distinct(bins_->allDays);
    profile.timeZoneIdentifier = calendar_.timeZoneIdentifier();
    return profile;
}

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar)
{
    AGPBuilder builder(calendar, weighted.size());
    ValueIds ids;
    for (const WeightedSample &sample : weighted) {
        bool added = false;
        builder.add(sample.date, sample.duration, ids.idOf(sample.mgdL, added), sample.fixedCadence);
    }
    return builder.finish(ids);
}

} // namespace insights_detail

InsightsAGP InsightsAGP::build(std::span<const InsightsWeightedReading> weightedReadings, const LocalCalendar &calendar,
                               FixedCadenceRule fixedCadence)
{
    std::vector<insights_detail::WeightedSample> samples;
    samples.reserve(weightedReadings.size());
    for (const InsightsWeightedReading &r : weightedReadings) {
        samples.push_back({r.reading.date, r.reading.date, r.reading.mgdL, r.duration,
                           isOnFixedCadence(fixedCadence, r.reading)});
    }
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::buildAGP(samples, cursor);
}

std::vector<InsightsAGPPiece> quarterHourSlices(const InsightsWeightedReading &reading, const LocalCalendar &calendar)
{
    std::vector<InsightsAGPPiece> pieces;
    LocalCalendar::Cursor cursor(calendar);
    insights_detail::sliceAtQuarterHours(reading.reading.date, reading.duration, cursor,
                                         [&](Date start, TimeInterval length, const LocalCalendar::Cursor::Clock &) {
                                             pieces.push_back(InsightsAGPPiece{{reading.reading, length}, start});
                                         });
    return pieces;
}

} // namespace quillby
