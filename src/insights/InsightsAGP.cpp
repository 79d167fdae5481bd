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

// One piece of a quarter hour: the number of its value among all the profile's values.
struct Piece {
    std::uint32_t id;
    TimeInterval length;
};

// One quarter hour: its pieces in the order they came, and the local days they came from.
struct Bin {
    std::vector<Piece> pieces;
    WeightCheck check;
    std::vector<std::int64_t> days;
};

} // namespace

// The values are numbered once for the whole profile, so that they are sorted once rather than
// in every quarter hour.
struct AGPBuilder::Bins {
    std::array<Bin, kInsightsAGPBinCount> bins;
    std::vector<std::int64_t> allDays;
    ValueIds ids;
};

AGPBuilder::AGPBuilder(LocalCalendar::Cursor &calendar) : calendar_(calendar), bins_(std::make_unique<Bins>()) {}
AGPBuilder::~AGPBuilder() = default;

namespace {

// A whole number of seconds below 2^53: the calendar's clock then works in exact integers.
bool isWholeSecond(double seconds)
{
    return std::fabs(seconds) < 9007199254740992.0 && seconds == floorOf(seconds);
}

} // namespace

void AGPBuilder::add(Date date, TimeInterval duration, double mgdL, GlucoseProvider source)
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
                addPiece(bin, fields->dayNumber, pieceEnd - cursor, mgdL, source);
                cursor = pieceEnd;
                continue;
            }
        }
        const Date pieceEnd = std::min(quarter_.boundary, end);
        addPiece(quarter_.bin, quarter_.day, pieceEnd - cursor, mgdL, source);
        cursor = pieceEnd;
    }
}

void AGPBuilder::addPiece(std::size_t bin, std::int64_t day, TimeInterval length, double mgdL, GlucoseProvider source)
{
    Bins &all = *bins_;
    Bin &target = all.bins[bin];
    target.check.add(length, source);
    bool added = false;
    target.pieces.push_back(Piece{all.ids.idOf(mgdL, added), length});
    if (target.days.empty() || target.days.back() != day) {
        target.days.push_back(day);
    }
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
        counts_.assign(values.size(), 0.0);
        weights_.assign(values.size(), 0.0);
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
        for (const Piece &piece : pieces) {
            const std::uint32_t r = rank_[piece.id];
            if (counts_[r] == 0) {
                touched_[r / 64] |= std::uint64_t{1} << (r % 64);
                counts_[r] = 1.0;
                weights_[r] = piece.length;
            } else {
                counts_[r] += 1.0;
                weights_[r] += piece.length;
            }
        }
        std::vector<DistinctValues::Entry> entries;
        for (std::size_t word = 0; word < touched_.size(); ++word) {
            std::uint64_t bits = touched_[word];
            touched_[word] = 0;
            while (bits != 0) {
                const auto r = static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
                bits &= bits - 1;
                entries.push_back(DistinctValues::Entry{values[order_[r]], counts_[r], weights_[r]});
                counts_[r] = 0;
                weights_[r] = 0;
            }
        }
        return entries;
    }

private:
    const ValueIds &ids_;
    bool perBin_ = false;
    std::vector<std::uint32_t> order_;   // ids ascending by value
    std::vector<std::uint32_t> rank_;    // by id: place in order_
    std::vector<double> counts_;         // by rank, for the quarter hour at hand
    std::vector<double> weights_;
    std::vector<std::uint64_t> touched_; // ranks with a count
};

} // namespace

InsightsAGP AGPBuilder::finish()
{
    const auto distinct = [](std::vector<std::int64_t> &days) {
        std::sort(days.begin(), days.end());
        return static_cast<int>(std::unique(days.begin(), days.end()) - days.begin());
    };

    static constexpr std::array<double, 5> kFractions{0.05, 0.25, 0.5, 0.75, 0.95};
    BinValues binValues(bins_->ids);
    InsightsAGP profile;
    profile.bins.reserve(kInsightsAGPBinCount);
    for (int i = 0; i < kInsightsAGPBinCount; ++i) {
        Bin &bin = bins_->bins[static_cast<std::size_t>(i)];
        InsightsAGPBin result;
        result.startMinute = 15 * i;
        result.readingCount = static_cast<int>(bin.check.pieces());
        result.dayCount = distinct(bin.days);
        if (result.dayCount >= kInsightsAGPMinimumDays) {
            std::array<std::optional<double>, 5> q;
            const std::vector<DistinctValues::Entry> entries = binValues.sorted(bin.pieces);
            quantilesOfEntries(entries, bin.check.equalWeights(), kFractions, std::span(q));
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
    AGPBuilder builder(calendar);
    for (const WeightedSample &sample : weighted) {
        builder.add(sample.date, sample.duration, sample.mgdL, sample.source);
    }
    return builder.finish();
}

} // namespace insights_detail

InsightsAGP InsightsAGP::build(std::span<const InsightsWeightedReading> weightedReadings, const LocalCalendar &calendar)
{
    std::vector<insights_detail::WeightedSample> samples;
    samples.reserve(weightedReadings.size());
    for (const InsightsWeightedReading &r : weightedReadings) {
        samples.push_back({r.reading.date, r.reading.date, r.reading.mgdL, r.duration, r.reading.source});
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
