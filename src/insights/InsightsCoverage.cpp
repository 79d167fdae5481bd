#include "insights/InsightsCoverage.h"

#include "insights/InsightsCoverageImpl.h"

#include <algorithm>
#include <array>

namespace quillby {

namespace insights_detail {

std::vector<DateInterval> coveredIntervalsOfSamples(std::span<const Sample> sorted, const DateInterval &interval)
{
    IntervalMerger merger;
    const std::size_t last = lowerBound(sorted, interval.end);
    const std::span<const Sample> relevant = sorted.subspan(0, std::min(sorted.size(), last + 1));
    forEachWeight(relevant, interval, firstWeightedIndex(sorted, interval.start),
                  [&](std::size_t, Date start, TimeInterval duration) { merger.add(start, duration); });
    return merger.take();
}

std::vector<DateInterval> dayIntervals(const DateInterval &interval, LocalCalendar::Cursor &calendar)
{
    std::vector<DateInterval> days;
    if (!(interval.start < interval.end)) {
        return days;
    }
    Date cursor = interval.start;
    do {
        const auto day = calendar.dayInterval(cursor);
        if (!day) {
            break;
        }
        days.emplace_back(std::max(day->start, interval.start), std::min(day->end, interval.end));
        if (!(day->end > cursor)) {
            break;
        }
        cursor = day->end;
    } while (cursor < interval.end);
    return days;
}

std::vector<InsightsHourCoverage> hourCoverage(std::span<const DateInterval> days,
                                               std::span<const DateInterval> covered,
                                               LocalCalendar::Cursor &calendar)
{
    std::array<TimeInterval, 24> coveredSums{};
    std::array<TimeInterval, 24> totalSums{};
    for (const DateInterval &day : days) {
        Date cursor = day.start;
        while (cursor < day.end) {
            const auto hour = calendar.hourInterval(cursor);
            const auto fields = calendar.clock(cursor);   // only the hour: no calendar date needed
            if (!hour || !fields) {
                break;
            }
            const Date sliceEnd = std::min(hour->end, day.end);
            if (!(sliceEnd > cursor)) {
                break;
            }
            totalSums[fields->hour] += sliceEnd - cursor;
            coveredSums[fields->hour] += quillby::coveredDuration(covered, DateInterval(cursor, sliceEnd));
            cursor = sliceEnd;
        }
    }
    std::vector<InsightsHourCoverage> rows;
    rows.reserve(24);
    for (int h = 0; h < 24; ++h) {
        rows.push_back(InsightsHourCoverage{h, coveredSums[h], totalSums[h]});
    }
    return rows;
}

bool hasMissingNightCoverage(std::span<const DateInterval> days, const DateInterval &interval,
                             std::span<const DateInterval> covered, LocalCalendar::Cursor &calendar)
{
    int nights = 0;
    int poor = 0;
    for (const DateInterval &day : days) {
        const auto dayStart = calendar.startOfDay(day.start);
        const auto sixOClock = calendar.dateBySettingTime(6, 0, 0, day.start);
        if (!dayStart || !sixOClock) {
            continue;
        }
        if (!(*dayStart >= interval.start && *sixOClock <= interval.end && *sixOClock > *dayStart)) {
            continue;
        }
        nights += 1;
        const DateInterval night(*dayStart, *sixOClock);
        if (quillby::coveredDuration(covered, night) / night.duration() < 0.7) {
            poor += 1;
        }
    }
    return poor >= 3 && nights <= 2 * poor;
}

InsightsCoverage coverageOfSamples(std::span<const Sample> sorted, const DateInterval &interval,
                                   LocalCalendar::Cursor &calendar)
{
    return coverageOfCovered(coveredIntervalsOfSamples(sorted, interval), interval, calendar);
}

InsightsCoverage coverageOfCovered(const std::vector<DateInterval> &covered, const DateInterval &interval,
                                   LocalCalendar::Cursor &calendar)
{
    InsightsCoverage coverage;
    const std::vector<DateInterval> days = dayIntervals(interval, calendar);
    for (const DateInterval &span : covered) {
        coverage.coveredDuration += span.duration();
    }
    coverage.totalDuration = interval.duration();
    coverage.days.reserve(days.size());
    for (const DateInterval &day : days) {
        coverage.days.push_back(InsightsDayCoverage{day, quillby::coveredDuration(covered, day)});
    }
    coverage.hours = hourCoverage(days, covered, calendar);
    coverage.hasMissingNightWarning = hasMissingNightCoverage(days, interval, covered, calendar);
    return coverage;
}

} // namespace insights_detail

double InsightsCoverage::fraction() const
{
    return totalDuration > 0 ? coveredDuration / totalDuration : 0.0;
}

InsightsCoverage insightsCoverage(const GlucoseReadings &readings, const DateInterval &interval,
                                  const LocalCalendar &calendar)
{
    const std::vector<insights_detail::Sample> samples = insights_detail::cleanedSamples(readings, nullptr);   // no quantiles here
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::coverageOfSamples(samples, interval, cursor);
}

std::vector<DateInterval> coveredIntervals(const GlucoseReadings &sortedReadings, const DateInterval &interval)
{
    insights_detail::IntervalMerger merger;
    insights_detail::forEachWeight(std::span<const GlucoseReading>(sortedReadings), interval, 0,
                                   [&](std::size_t, Date start, TimeInterval duration) { merger.add(start, duration); });
    return merger.take();
}

std::vector<DateInterval> dayIntervals(const DateInterval &interval, const LocalCalendar &calendar)
{
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::dayIntervals(interval, cursor);
}

TimeInterval coveredDuration(std::span<const DateInterval> covered, const DateInterval &within)
{
    auto it = std::upper_bound(covered.begin(), covered.end(), within.start,
                               [](Date start, const DateInterval &span) { return start < span.end; });
    TimeInterval total = 0;
    for (; it != covered.end() && it->start < within.end; ++it) {
        total += std::max(0.0, std::min(it->end, within.end) - std::max(it->start, within.start));
    }
    return total;
}

std::vector<InsightsHourCoverage> hourCoverage(std::span<const DateInterval> days,
                                               std::span<const DateInterval> covered, const LocalCalendar &calendar)
{
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::hourCoverage(days, covered, cursor);
}

bool hasMissingNightCoverage(std::span<const DateInterval> days, const DateInterval &interval,
                             std::span<const DateInterval> covered, const LocalCalendar &calendar)
{
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::hasMissingNightCoverage(days, interval, covered, cursor);
}

} // namespace quillby
