#include "insights/InsightsAGP.h"

#include "insights/InsightsAGPImpl.h"
#include "insights/InsightsStatisticsImpl.h"

#include <algorithm>
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

using Piece = AGPBuilder::Piece;
using Sums = AGPBuilder::Sums;

// One quarter hour: whether its pieces weigh the same, the local days they came from and, when
// the builder keeps them one by one, its pieces in the order they came.
class Bin {
public:
    void reserve(std::size_t pieces) { pieces_.reserve(pieces); }

    void note(TimeInterval length, bool fixedCadence, std::int64_t day)
    {
        check_.add(length, fixedCadence);
        if (days_.empty() || days_.back() != day) {
            days_.push_back(day);
        }
    }
    void keep(std::uint32_t id, TimeInterval length) { pieces_.push_back(Piece{id, length}); }

    WeightCheck &check() { return check_; }
    std::vector<Piece> &pieces() { return pieces_; }
    std::vector<std::int64_t> &days() { return days_; }

private:
    WeightCheck check_;
    std::vector<Piece> pieces_;
    std::vector<std::int64_t> days_;
};

} // namespace

// The values are numbered once for the whole report (by the caller's ValueIds), so that they are
// sorted once rather than in every quarter hour. When the report has few distinct values (whole
// mg/dL over a bounded range), each quarter hour counts and weighs its values in a row of a
// grid by value as its pieces come, and nothing is kept per piece; otherwise each quarter hour
// lists its pieces and sums them at the end. Both sum each value's weights in the order the
// pieces came, so both give the same bits.
struct AGPBuilder::Bins {
    Bins(const ValueIds &ids, std::size_t expectedSamples) : ids(ids)
    {
        // A NaN or a zero (equal to a negative zero) keeps the quarter hour's own rules.
        perBin = ids.hasNaNOrZero();
        const std::size_t n = ids.size();
        if (!perBin) {
            const std::vector<double> &values = ids.values();
            order.resize(n);
            for (std::uint32_t id = 0; id < n; ++id) {
                order[id] = id;
            }
            if (!ids.forEachInOrder([&, next = std::size_t{0}](std::uint32_t id) mutable { order[next++] = id; })) {
                std::sort(order.begin(), order.end(),
                          [&](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
            }
            rank.resize(n);
            for (std::uint32_t r = 0; r < n; ++r) {
                rank[order[r]] = r;
            }
        }
        // The grid takes no more room than listing the pieces would.
        constexpr std::size_t kMinimumGridCells = 4096;
        if (!perBin && n > 0 && n * kInsightsAGPBinCount <= std::max(expectedSamples, kMinimumGridCells)) {
            grid.assign(n * kInsightsAGPBinCount, Sums{});
            return;
        }
        // Samples spread over the quarter hours; one in a few is cut in two at a quarter's end.
        const std::size_t perBinPieces = expectedSamples / kInsightsAGPBinCount;
        if (perBinPieces > 0) {
            for (Bin &bin : bins) {
                bin.reserve(perBinPieces + perBinPieces / 8 + 4);
            }
        }
    }

    // The distinct values of quarter hour `index`, sorted ascending, each with its count and
    // summed weight (both summed in the order the pieces came), exactly as DistinctValues gives
    // them; into `entries`.
    void sortedValues(std::size_t index, std::vector<DistinctValues::Entry> &entries);
    // With the grid: the quantiles of quarter hour `index` for ascending `fractions`, read off its
    // row with the arithmetic of quantilesOfEntries, without listing its values.
    template <std::size_t N>
    void quantilesOfRow(std::size_t index, bool equalWeights, const std::array<double, N> &fractions,
                        std::array<std::optional<double>, N> &out) const;

    const ValueIds &ids;
    std::array<Bin, kInsightsAGPBinCount> bins;
    std::vector<std::int64_t> allDays;
    bool perBin = false;
    std::vector<std::uint32_t> order;   // ids ascending by value
    std::vector<std::uint32_t> rank;    // by id: place in order
    std::vector<Sums> grid;             // by quarter hour, then rank; empty when pieces are listed
    std::vector<Sums> sums;             // listed pieces: by rank, for the quarter hour at hand
    std::vector<std::uint64_t> touched; // listed pieces: ranks with a count
};

void AGPBuilder::Bins::sortedValues(std::size_t index, std::vector<DistinctValues::Entry> &entries)
{
    entries.clear();
    const std::vector<double> &values = ids.values();
    if (!grid.empty()) {
        const std::size_t n = order.size();
        const Sums *row = grid.data() + index * n;
        for (std::size_t r = 0; r < n; ++r) {
            if (row[r].count != 0) {
                entries.push_back(DistinctValues::Entry{values[order[r]], row[r].count, row[r].weight});
            }
        }
        return;
    }
    const std::vector<Piece> &pieces = bins[index].pieces();
    if (perBin) {
        DistinctValues distinct;
        for (const Piece &piece : pieces) {
            distinct.count(values[piece.id], piece.length);
        }
        entries = std::move(distinct).sorted();
        return;
    }
    if (sums.empty()) {
        sums.assign(values.size(), Sums{});
        touched.assign((values.size() + 63) / 64, 0);
    }
    // Sums start at zero, and 0 + x is x: no branch on whether a value is new, which values
    // with tenths would make unpredictable.
    for (const Piece &piece : pieces) {
        const std::uint32_t r = rank[piece.id];
        touched[r / 64] |= std::uint64_t{1} << (r % 64);
        sums[r].count += 1.0;
        sums[r].weight += piece.length;
    }
    for (std::size_t word = 0; word < touched.size(); ++word) {
        std::uint64_t bits = touched[word];
        touched[word] = 0;
        while (bits != 0) {
            const auto r = static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
            bits &= bits - 1;
            entries.push_back(DistinctValues::Entry{values[order[r]], sums[r].count, sums[r].weight});
            sums[r] = Sums{};
        }
    }
}

template <std::size_t N>
void AGPBuilder::Bins::quantilesOfRow(std::size_t index, bool equalWeights, const std::array<double, N> &fractions,
                                      std::array<std::optional<double>, N> &out) const
{
    const std::vector<double> &values = ids.values();
    const std::size_t n = order.size();
    const Sums *row = grid.data() + index * n;
    // Cells without a count are values the quarter hour does not have; each pass skips them.
    if (equalWeights) {
        double count = 0;
        std::size_t lastRank = 0;
        for (std::size_t r = 0; r < n; ++r) {
            if (row[r].count != 0) {
                count += row[r].count;
                lastRank = r;
            }
        }
        // The value at each rank: the first whose running count passes it, or the last one. The
        // floors ascend with the fractions, and so do the ceilings: one walk over the row each.
        std::array<double, N> h{};
        std::array<double, N> lows{};
        std::array<double, N> highs{};
        std::array<double, N> lowValues{};
        std::array<double, N> highValues{};
        for (std::size_t k = 0; k < N; ++k) {
            h[k] = clampedFraction(fractions[k]) * (count - 1);
            lows[k] = std::floor(h[k]);
            highs[k] = std::ceil(h[k]);
        }
        const auto valuesAtRanks = [&](const std::array<double, N> &ranks, std::array<double, N> &found) {
            std::size_t k = 0;
            double running = 0;
            for (std::size_t r = 0; r < n && k < N; ++r) {
                if (row[r].count != 0) {
                    running += row[r].count;
                    for (; k < N && running > ranks[k]; ++k) {
                        found[k] = values[order[r]];
                    }
                }
            }
            for (; k < N; ++k) {
                found[k] = values[order[lastRank]];
            }
        };
        valuesAtRanks(lows, lowValues);
        valuesAtRanks(highs, highValues);
        for (std::size_t k = 0; k < N; ++k) {
            out[k] = lowValues[k] + (h[k] - lows[k]) * (highValues[k] - lowValues[k]);
        }
        return;
    }

    double total = 0;
    for (std::size_t r = 0; r < n; ++r) {
        if (row[r].count != 0) {
            total += row[r].weight;
        }
    }
    // Each value sits at the middle of its share of time; the targets ascend with the fractions,
    // so one walk over the row meets them in order.
    std::size_t k = 0;
    double before = 0;
    bool first = true;
    double previousValue = 0;
    double previousPosition = 0;
    for (std::size_t r = 0; r < n && k < N; ++r) {
        if (row[r].count == 0) {
            continue;
        }
        const double value = values[order[r]];
        const double position = before + row[r].weight * 0.5;
        before += row[r].weight;
        for (; k < N; ++k) {
            const double target = clampedFraction(fractions[k]) * total;
            if (first) {
                if (!(target <= position)) {
                    break;
                }
                out[k] = value;
            } else {
                if (!(target <= position)) {
                    break;
                }
                out[k] = previousValue + (target - previousPosition) * (value - previousValue) /
                                             (position - previousPosition);
            }
        }
        first = false;
        previousValue = value;
        previousPosition = position;
    }
    for (; k < N; ++k) {
        out[k] = previousValue;   // past the last midpoint: the largest value
    }
}

AGPBuilder::AGPBuilder(LocalCalendar::Cursor &calendar, const ValueIds &ids, std::size_t expectedSamples)
    : calendar_(calendar), bins_(std::make_unique<Bins>(ids, expectedSamples)), rank_(bins_->rank.data())
{
}
AGPBuilder::~AGPBuilder() = default;

AGPBuilder::Quarter AGPBuilder::quarterOf(Date start, Date end, Date boundary, std::size_t bin, std::int64_t day)
{
    Bins &all = *bins_;
    Bin &pieces = all.bins[bin];
    Sums *row = all.grid.empty() ? nullptr : all.grid.data() + bin * all.order.size();
    return Quarter{start, end, boundary, bin, day, calendar_.offsetSpanEnd(), &pieces.check(), row,
                   row ? nullptr : &pieces.pieces()};
}

void AGPBuilder::addSlow(Date date, TimeInterval duration, std::uint32_t valueId, bool fixedCadence)
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
            // The quarter hour right after the remembered one, under the same UTC offset: its
            // bin is the next one (the first of the next local day after the last), and its
            // edges lie a quarter hour further on, exactly as the calendar would answer.
            if (quarter_.check != nullptr && quarter_.end == quarter_.boundary &&
                quarter_.spanEnd == calendar_.offsetSpanEnd() && quarter_.boundary < quarter_.spanEnd &&
                quarter_.boundary <= cursor && cursor < quarter_.boundary + 900 && isWholeSecond(cursor)) {
                const bool nextDay = quarter_.bin + 1 == static_cast<std::size_t>(kInsightsAGPBinCount);
                const Date start = quarter_.boundary;
                quarter_ = quarterOf(start, std::min(start + 900, quarter_.spanEnd), start + 900,
                                     nextDay ? 0 : quarter_.bin + 1, quarter_.day + (nextDay ? 1 : 0));
                const Date pieceEnd = std::min(quarter_.boundary, end);
                addPiece(quarter_.bin, quarter_.day, pieceEnd - cursor, valueId, fixedCadence);
                cursor = pieceEnd;
                continue;
            }
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
                quarter_ = quarterOf(std::max(quarterStart, calendar_.offsetSpanStart()),
                                     std::min(boundary, calendar_.offsetSpanEnd()), boundary, bin, fields->dayNumber);
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
    all.bins[bin].note(length, fixedCadence, day);
    if (!all.grid.empty()) {
        Sums &cell = all.grid[bin * all.order.size() + all.rank[valueId]];
        cell.count += 1.0;
        cell.weight += length;
    } else {
        all.bins[bin].keep(valueId, length);
    }
    if (all.allDays.empty() || all.allDays.back() != day) {
        all.allDays.push_back(day);
    }
}

InsightsAGP AGPBuilder::finish()
{
    const auto distinct = [](std::vector<std::int64_t> &days) {
        // Pieces come in time order, so the days nearly always do too.
        if (!std::is_sorted(days.begin(), days.end())) {
            std::sort(days.begin(), days.end());
        }
        return static_cast<int>(std::unique(days.begin(), days.end()) - days.begin());
    };

    static constexpr std::array<double, 5> kFractions{0.05, 0.25, 0.5, 0.75, 0.95};
    static_assert(std::is_sorted(kFractions.begin(), kFractions.end()), "quantilesOfRow meets them in order");
    InsightsAGP profile;
    profile.bins.reserve(kInsightsAGPBinCount);
    std::vector<DistinctValues::Entry> entries;
    for (int i = 0; i < kInsightsAGPBinCount; ++i) {
        Bin &bin = bins_->bins[static_cast<std::size_t>(i)];
        InsightsAGPBin result;
        result.startMinute = 15 * i;
        result.readingCount = static_cast<int>(bin.check().pieces());
        result.dayCount = distinct(bin.days());
        if (result.dayCount >= kInsightsAGPMinimumDays) {
            std::array<std::optional<double>, 5> q;
            if (!bins_->grid.empty()) {
                bins_->quantilesOfRow(static_cast<std::size_t>(i), bin.check().equalWeights(), kFractions, q);
            } else {
                bins_->sortedValues(static_cast<std::size_t>(i), entries);
                quantilesOfEntries(entries, bin.check().equalWeights(), kFractions, std::span(q));
            }
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
    ValueIds ids;
    std::vector<std::uint32_t> valueIds;
    valueIds.reserve(weighted.size());
    for (const WeightedSample &sample : weighted) {
        bool added = false;
        valueIds.push_back(ids.idOf(sample.mgdL, added));
    }
    AGPBuilder builder(calendar, ids, weighted.size());
    for (std::size_t i = 0; i < weighted.size(); ++i) {
        builder.add(weighted[i].date, weighted[i].duration, valueIds[i], weighted[i].fixedCadence);
    }
    return builder.finish();
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
