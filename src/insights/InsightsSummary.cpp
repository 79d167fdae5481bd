#include "insights/InsightsSummary.h"

#include "insights/InsightsAGPImpl.h"
#include "insights/InsightsCalculationImpl.h"
#include "insights/InsightsCoverageImpl.h"
#include "insights/InsightsStatisticsImpl.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

namespace quillby {

std::optional<double> InsightsGMI::percent() const
{
    if (const double *value = std::get_if<double>(&value_)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<InsightsGMIUnavailableReason> InsightsGMI::unavailableReason() const
{
    if (const auto *reason = std::get_if<InsightsGMIUnavailableReason>(&value_)) {
        return *reason;
    }
    return std::nullopt;
}

double glucoseManagementIndicator(double meanMgdl)
{
    const double product = 0.02392 * meanMgdl;
    return 3.31 + product;
}

namespace insights_detail {

std::optional<Date> recordedCollectionStart(std::optional<Date> collectionStartedAt)
{
    if (collectionStartedAt && std::isfinite(*collectionStartedAt)) {
        return collectionStartedAt;
    }
    return std::nullopt;
}

namespace {

InsightsGMI estimateGMI(const InsightsSummary &summary, std::optional<Date> collectionStart)
{
    using Reason = InsightsGMIUnavailableReason;
    const Date end = summary.interval.end;
    if (!summary.meanMgdl) {
        return InsightsGMI::unavailable(Reason::noReadings);
    }
    if (!collectionStart || end - *collectionStart < kInsightsGMIMinimumDuration) {
        return InsightsGMI::unavailable(Reason::collectingHistory);
    }
    if (summary.interval.duration() < kInsightsGMIMinimumDuration) {
        return InsightsGMI::unavailable(Reason::shortInterval);
    }
    const InsightsCoverage &coverage = summary.coverage;
    if (!(coverage.totalDuration > 0) ||
        coverage.coveredDuration / coverage.totalDuration < kInsightsGMIRequiredCoverageFraction) {
        return InsightsGMI::unavailable(Reason::insufficientCoverage);
    }
    return InsightsGMI::available(glucoseManagementIndicator(*summary.meanMgdl));
}

} // namespace

InsightsSummary summaryOfSamples(std::span<const Sample> sorted, const DateInterval &interval,
                                 std::optional<Date> collectionStartedAt, LocalCalendar::Cursor &calendar)
{
    const std::optional<Date> collectionStart = recordedCollectionStart(collectionStartedAt);
    InsightsSummary summary;
    summary.interval = interval;

    const std::size_t first = lowerBound(sorted, interval.start);
    const std::size_t last = std::max(first, lowerBound(sorted, interval.end));
    summary.readingCount = static_cast<int>(last - first);
    if (last > first) {
        summary.availableInterval = DateInterval(sorted[first].date, sorted[last - 1].date);
    }

    // One walk over the weighted samples gives the mean, the time in ranges and the distinct
    // values for the quartiles; a second one, with every value numbered, the deviation from the
    // mean and the profile. Each figure adds up its samples in time order, exactly as it would on
    // a list of them. A reading from before the period covers its beginning but adds to no
    // statistic.
    const std::size_t firstWeighted = firstWeightedIndex(sorted, interval.start);
    // One reading past the end still bounds the one before it.
    const std::span<const Sample> relevant =
        sorted.subspan(0, std::min(sorted.size(), lowerBound(sorted, interval.end) + 1));
    // The same walk gives the period's covered time, which counts the reading from before it.
    IntervalMerger covered;
    std::array<int, kInsightsBandCount> bandCounts{};
    std::array<double, kInsightsBandCount> bandDurations{};
    // The running sums of the walk. The range of the last sample, its count and time so far ride
    // along: values move little from one sample to the next, so those sums stay out of the arrays
    // while the range does not change.
    struct Sums {
        double total = 0;
        double weightedSum = 0;
        std::size_t weightedCount = 0;
        std::size_t runBand = kInsightsBandCount;
        int runCount = 0;
        double runDuration = 0;
        WeightCheck check;
    };
    Sums sums;
    const auto flushBand = [&](Sums &running) {
        if (running.runBand < kInsightsBandCount) {
            bandCounts[running.runBand] = running.runCount;
            bandDurations[running.runBand] = running.runDuration;
        }
    };
    DistinctValues distinct;
    const std::size_t expectedSamples = relevant.size() - std::min(relevant.size(), firstWeighted);
    // The number of each weighted sample's value, in the order of the walk: two bytes each while
    // the numbers fit (reports have a few thousand values at most), four once one does not.
    const std::size_t idRoom = std::max<std::size_t>(expectedSamples, 1);
    const auto narrowIds = std::make_unique_for_overwrite<std::uint16_t[]>(idRoom);
    std::unique_ptr<std::uint32_t[]> wideIds;
    constexpr std::uint32_t kNarrowIdLimit = std::numeric_limits<std::uint16_t>::max();
    const auto keepId = [&](std::uint32_t id) {
        if (!wideIds && id > kNarrowIdLimit) {
            wideIds = std::make_unique_for_overwrite<std::uint32_t[]>(idRoom);
            std::copy(narrowIds.get(), narrowIds.get() + sums.weightedCount, wideIds.get());
        }
        if (wideIds) {
            wideIds[sums.weightedCount] = id;
        } else {
            narrowIds[sums.weightedCount] = static_cast<std::uint16_t>(id);
        }
    };
    const auto addSample = [&](Sums &running, const Sample &s, TimeInterval duration) __attribute__((always_inline)) {
        running.total += duration;
        running.weightedSum += s.mgdL * duration;
        const auto band = static_cast<std::size_t>(insightsBand(s.mgdL));
        if (band != running.runBand) {
            flushBand(running);
            running.runBand = band;
            running.runCount = bandCounts[band];
            running.runDuration = bandDurations[band];
        }
        running.runCount += 1;
        running.runDuration += duration;
        running.check.add(duration, s.fixedCadence());
        ++running.weightedCount;
    };
    // The pieces of forEachWeight. Most samples take the short path: a value seen before, a piece
    // that grows the covered interval. It calls nothing and runs on a copy of the sums (and of the
    // covered end) that lives in registers, written back when it meets a sample it cannot take;
    // the long path then takes that one with calls, doing the same arithmetic.
    {
        const std::size_t n = relevant.size();
        const Date intervalStart = interval.start;
        const Date intervalEnd = interval.end;
        const auto piece = [&](std::size_t i, Date &start, Date &end) __attribute__((always_inline)) {
            const Date date = relevant[i].date;
            const Date next = i + 1 < n ? relevant[i + 1].date : intervalEnd;
            end = std::min(std::min(date + relevant[i].sampleDuration(), next), intervalEnd);
            start = std::max(date, intervalStart);
        };
        // The short path in a function of its own, which calls nothing: the register allocator
        // then gives every running sum a register, which it does not do across the long path's calls.
        const auto shortPath = [&](std::size_t from) __attribute__((noinline)) {
            std::size_t i = from;
            const Sample *const data = relevant.data();
            const std::size_t count = n;
            const Date periodStart = intervalStart;
            const Date periodEnd = intervalEnd;
            // Every sum in a scalar of its own, so that all of them stay in registers: the
            // count is where the next number goes, the range's count is the one it had when
            // the range began plus the samples since, and the weight check needs only its
            // first weight and whether all so far matched it.
            double total = sums.total;
            double weightedSum = sums.weightedSum;
            std::uint16_t *const idsStart = narrowIds.get();
            std::uint16_t *idsEnd = idsStart + sums.weightedCount;
            std::size_t runBand = sums.runBand;
            int runBase = sums.runCount;
            std::uint16_t *runFrom = idsEnd;
            double runDuration = sums.runDuration;
            const TimeInterval firstWeight = sums.check.firstWeight();
            bool equalWeights = sums.check.equalWeights();
            Date coveredEnd = covered.openEnd();
            for (; i < count; ++i) {
                const Date date = data[i].date;
                const Date next = i + 1 < count ? data[i + 1].date : periodEnd;
                const Date end = std::min(std::min(date + data[i].sampleDuration(), next), periodEnd);
                const Date start = std::max(date, periodStart);
                if (!(start < end)) {
                    continue;
                }
                const TimeInterval duration = end - start;
                if (!(start <= coveredEnd)) {
                    break;
                }
                const Sample &s = data[i];
                if (s.date >= periodStart) {
                    std::uint32_t id = 0;
                    if (!distinct.tryCount(s.mgdL, duration, id, kNarrowIdLimit)) {
                        break;
                    }
                    *idsEnd++ = static_cast<std::uint16_t>(id);
                    total += duration;
                    weightedSum += s.mgdL * duration;
                    const auto band = static_cast<std::size_t>(insightsBand(s.mgdL));
                    if (band != runBand) {
                        if (runBand < kInsightsBandCount) {
                            bandCounts[runBand] = runBase + static_cast<int>(idsEnd - 1 - runFrom);
                            bandDurations[runBand] = runDuration;
                        }
                        runBand = band;
                        runBase = bandCounts[band];
                        runFrom = idsEnd - 1;
                        runDuration = bandDurations[band];
                    }
                    runDuration += duration;
                    if (!s.fixedCadence() || !(std::fabs(duration - firstWeight) < 0.000001)) {
                        equalWeights = false;
                    }
                }
                coveredEnd = std::max(coveredEnd, start + duration);
            }
            const auto added = static_cast<std::size_t>(idsEnd - idsStart) - sums.weightedCount;
            sums.total = total;
            sums.weightedSum = weightedSum;
            sums.weightedCount += added;
            sums.runBand = runBand;
            sums.runCount = runBase + static_cast<int>(idsEnd - runFrom);
            sums.runDuration = runDuration;
            sums.check.addChecked(added, equalWeights);
            covered.setOpenEnd(coveredEnd);
            return i;
        };
        std::size_t i = firstWeighted;
        while (i < n) {
            if (covered.isOpen() && !wideIds && sums.check.pieces() > 0) {
                i = shortPath(i);
                if (i >= n) {
                    break;
                }
            }
            Date start;
            Date end;
            piece(i, start, end);
            if (start < end) {
                const TimeInterval duration = end - start;
                covered.add(start, duration);
                const Sample &s = relevant[i];
                if (s.date >= intervalStart) {
                    keepId(distinct.count(s.mgdL, duration));
                    addSample(sums, s, duration);
                }
            }
            ++i;
        }
    }
    flushBand(sums);
    distinct.adoptCheck(sums.check);
    const double total = sums.total;
    const double weightedSum = sums.weightedSum;
    const std::size_t weightedCount = sums.weightedCount;

    const bool hasMean = weightedCount > 0 && total > 0;
    const double mean = hasMean ? weightedSum / total : 0.0;
    double squaresTotal = 0;
    double squares = 0;
    const auto addDeviation = [&](const Sample &s, TimeInterval duration) {
        const double deviation = s.mgdL - mean;
        squaresTotal += duration;
        squares += duration * (deviation * deviation);
    };
    AGPBuilder profile(calendar, distinct.ids(), expectedSamples);
    std::size_t next = 0;
    const auto idAt = [&](std::size_t k) -> std::uint32_t { return wideIds ? wideIds[k] : narrowIds[k]; };
    // The pieces of forEachWeight again. The short path (a sample inside the quarter hour of the
    // one before) runs in a function of its own that calls nothing, as in the first walk.
    {
        const std::size_t n = relevant.size();
        const auto shortPath = [&](std::size_t from) __attribute__((noinline)) {
            std::size_t i = from;
            const Sample *const data = relevant.data();
            const std::size_t count = n;
            const Date periodStart = interval.start;
            const Date periodEnd = interval.end;
            double runningSquaresTotal = squaresTotal;
            double runningSquares = squares;
            std::size_t k = next;
            for (; i < count; ++i) {
                const Date date = data[i].date;
                const Date nextDate = i + 1 < count ? data[i + 1].date : periodEnd;
                const Date end = std::min(std::min(date + data[i].sampleDuration(), nextDate), periodEnd);
                const Date start = std::max(date, periodStart);
                if (!(start < end)) {
                    continue;
                }
                const TimeInterval duration = end - start;
                const Sample &s = data[i];
                if (s.date >= periodStart) {
                    if (!profile.tryAdd(s.date, duration, idAt(k), s.fixedCadence())) {
                        break;
                    }
                    ++k;
                    const double deviation = s.mgdL - mean;
                    runningSquaresTotal += duration;
                    runningSquares += duration * (deviation * deviation);
                }
            }
            squaresTotal = runningSquaresTotal;
            squares = runningSquares;
            next = k;
            return i;
        };
        std::size_t i = firstWeighted;
        while (i < n) {
            i = shortPath(i);
            if (i >= n) {
                break;
            }
            const Sample &s = relevant[i];
            const Date nextDate = i + 1 < n ? relevant[i + 1].date : interval.end;
            const Date end = std::min(std::min(s.date + s.sampleDuration(), nextDate), interval.end);
            const Date start = std::max(s.date, interval.start);
            const TimeInterval duration = end - start;
            if (s.date >= interval.start) {
                profile.add(s.date, duration, idAt(next++), s.fixedCadence());
                addDeviation(s, duration);
            }
            ++i;
        }
    }
    if (hasMean) {
        summary.meanMgdl = mean;
        if (squaresTotal > 0) {
            summary.standardDeviationMgdl = std::sqrt(squares / squaresTotal);
        }
    }
    summary.agp = profile.finish();
    static constexpr std::array<double, 3> kFractions{0.5, 0.25, 0.75};
    std::array<std::optional<double>, 3> quantiles;
    quantilesOfDistinct(std::move(distinct), kFractions, std::span(quantiles));
    summary.medianMgdl = quantiles[0];
    summary.q1Mgdl = quantiles[1];
    summary.q3Mgdl = quantiles[2];
    if (summary.q1Mgdl && summary.q3Mgdl) {
        summary.iqrMgdl = *summary.q3Mgdl - *summary.q1Mgdl;
    }
    summary.bands.reserve(kInsightsBandCount);
    for (const InsightsBand band : allInsightsBands()) {
        const auto b = static_cast<std::size_t>(band);
        summary.bands.push_back(InsightsBandSummary{band, bandCounts[b], total > 0 ? bandDurations[b] / total : 0.0});
    }

    summary.coverage = coverageOfCovered(covered.take(), interval, calendar);
    const Date collectionFrom =
        std::min(std::max(collectionStart.value_or(interval.start), interval.start), interval.end);
    const DateInterval collectionInterval(collectionFrom, interval.end);
    summary.collectionCoverage = collectionInterval == interval
                                     ? summary.coverage
                                     : coverageOfSamples(sorted, collectionInterval, calendar);

    summary.gmi = estimateGMI(summary, collectionStart);
    return summary;
}

} // namespace insights_detail

InsightsSummary InsightsSummary::calculate(const GlucoseReadings &readings, const DateInterval &interval,
                                           std::optional<Date> collectionStartedAt, const LocalCalendar &calendar,
                                           FixedCadenceRule fixedCadence)
{
    const std::vector<insights_detail::Sample> samples = insights_detail::cleanedSamples(readings, fixedCadence);
    LocalCalendar::Cursor cursor(calendar);
    return insights_detail::summaryOfSamples(samples, interval, collectionStartedAt, cursor);
}

} // namespace quillby
