#include "insights/InsightsAGP.h"

#include "insights/InsightsAGPImpl.h"
#include "insights/InsightsStatisticsImpl.h"

#include <array>
#include <cmath>

namespace quillby {

namespace insights_detail {

namespace {

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
        // The start of the local minute, then on to the next quarter hour (minutes are added as
        // elapsed time, as a calendar adds them).
        const Date minuteStart = std::floor(fields->localSeconds / 60.0) * 60.0 - fields->utcOffset;
        const Date boundary = minuteStart + (15 - fields->minute % 15) * 60.0;
        if (!(boundary > cursor)) {
            return;
        }
        const Date pieceEnd = std::min(boundary, end);
        onPiece(cursor, pieceEnd - cursor, *fields);
        cursor = pieceEnd;
    }
}

struct Bin {
    std::vector<WeightedSample> pieces;
    std::vector<std::int64_t> days;
};

} // namespace

InsightsAGP buildAGP(std::span<const WeightedSample> weighted, LocalCalendar::Cursor &calendar)
{
    std::array<Bin, kInsightsAGPBinCount> bins;
    std::vector<std::int64_t> allDays;
    for (const WeightedSample &sample : weighted) {
        sliceAtQuarterHours(sample.date, sample.duration, calendar,
                            [&](Date start, TimeInterval length, const LocalCalendar::Cursor::Clock &fields) {
                                Bin &bin = bins[static_cast<std::size_t>((fields.hour * 60 + fields.minute) / 15)];
                                bin.pieces.push_back(WeightedSample{sample.date, start, sample.mgdL, length, sample.source});
                                if (bin.days.empty() || bin.days.back() != fields.dayNumber) {
                                    bin.days.push_back(fields.dayNumber);
                                }
                                if (allDays.empty() || allDays.back() != fields.dayNumber) {
                                    allDays.push_back(fields.dayNumber);
                                }
                            });
    }

    const auto distinct = [](std::vector<std::int64_t> &days) {
        std::sort(days.begin(), days.end());
        return static_cast<int>(std::unique(days.begin(), days.end()) - days.begin());
    };

    static constexpr std::array<double, 5> kFractions{0.05, 0.25, 0.5, 0.75, 0.95};
    InsightsAGP profile;
    profile.bins.reserve(kInsightsAGPBinCount);
    for (int i = 0; i < kInsightsAGPBinCount; ++i) {
        Bin &bin = bins[static_cast<std::size_t>(i)];
        InsightsAGPBin result;
        result.startMinute = 15 * i;
        result.readingCount = static_cast<int>(bin.pieces.size());
        result.dayCount = distinct(bin.days);
        if (result.dayCount >= kInsightsAGPMinimumDays) {
            std::array<std::optional<double>, 5> q;
            weightedQuantilesInto(std::span<const WeightedSample>(bin.pieces), kFractions, std::span(q));
            result.percentiles = InsightsAGPPercentiles{*q[0], *q[1], *q[2], *q[3], *q[4]};
        }
        profile.bins.push_back(std::move(result));
    }
    profile.contributingDayCount = distinct(allDays);
    profile.timeZoneIdentifier = calendar.timeZoneIdentifier();
    return profile;
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
