#include "insights/InsightsAGP.h"

#include "insights/InsightsAGPImpl.h"
#include "insights/InsightsStatisticsImpl.h"

#include <array>
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

// One quarter hour: its pieces folded into their distinct values as they come, and the local
// days they came from.
struct Bin {
    DistinctValues values;
    std::vector<std::int64_t> days;
};

} // namespace

struct AGPBuilder::Bins {
    std::array<Bin, kInsightsAGPBinCount> bins;
    std::vector<std::int64_t> allDays;
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
    target.values.add(mgdL, length, source);
    if (target.days.empty() || target.days.back() != day) {
        target.days.push_back(day);
    }
    if (all.allDays.empty() || all.allDays.back() != day) {
        all.allDays.push_back(day);
    }
}

InsightsAGP AGPBuilder::finish()
{
    const auto distinct = [](std::vector<std::int64_t> &days) {
        std::sort(days.begin(), days.end());
        return static_cast<int>(std::unique(days.begin(), days.end()) - days.begin());
    };

    static constexpr std::array<double, 5> kFractions{0.05, 0.25, 0.5, 0.75, 0.95};
    InsightsAGP profile;
    profile.bins.reserve(kInsightsAGPBinCount);
    for (int i = 0; i < kInsightsAGPBinCount; ++i) {
        Bin &bin = bins_->bins[static_cast<std::size_t>(i)];
        InsightsAGPBin result;
        result.startMinute = 15 * i;
        result.readingCount = static_cast<int>(bin.values.pieces());
        result.dayCount = distinct(bin.days);
        if (result.dayCount >= kInsightsAGPMinimumDays) {
            std::array<std::optional<double>, 5> q;
            quantilesOfDistinct(std::move(bin.values), kFractions, std::span(q));
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
