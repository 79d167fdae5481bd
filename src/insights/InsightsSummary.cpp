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
    double total = 0;
    double weightedSum = 0;
    std::size_t weightedCount = 0;
    std::array<int, kInsightsBandCount> bandCounts{};
    std::array<double, kInsightsBandCount> bandDurations{};
    // The range of the last sample, its count and time so far: values move little from one
    // sample to the next, so the sums stay in locals while the range does not change.
    std::size_t runBand = kInsightsBandCount;
    int runCount = 0;
    double runDuration = 0;
    const auto flushBand = [&] {
        if (runBand < kInsightsBandCount) {
            bandCounts[runBand] = runCount;
            bandDurations[runBand] = runDuration;
        }
    };
    DistinctValues distinct;
    WeightCheck check;
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
            std::copy(narrowIds.get(), narrowIds.get() + weightedCount, wideIds.get());
        }
        if (wideIds) {
            wideIds[weightedCount] = id;
        } else {
            narrowIds[weightedCount] = static_cast<std::uint16_t>(id);
        }
    };
    // Each walk has a short path that calls nothing (a value seen before, a piece that grows the
    // covered interval, a sample inside the quarter hour of the one before), so that its sums stay
    // in registers; anything else takes the long path. Both do the same arithmetic.
    const auto addSample = [&](const Sample &s, TimeInterval duration) {
        total += duration;
        weightedSum += s.mgdL * duration;
        const auto band = static_cast<std::size_t>(insightsBand(s.mgdL));
        if (band != runBand) {
            flushBand();
            runBand = band;
            runCount = bandCounts[band];
            runDuration = bandDurations[band];
        }
        runCount += 1;
        runDuration += duration;
        check.add(duration, s.fixedCadence());
    };
    forEachWeightSplit(
        relevant, interval, firstWeighted,
        [&](std::size_t i, Date start, TimeInterval duration) {
            if (!covered.extends(start)) {
                return false;
            }
            const Sample &s = relevant[i];
            if (s.date >= interval.start) {
                std::uint32_t id = 0;
                if (wideIds || !distinct.tryCount(s.mgdL, duration, id, kNarrowIdLimit)) {
                    return false;
                }
                narrowIds[weightedCount++] = static_cast<std::uint16_t>(id);
                addSample(s, duration);
            }
            covered.extend(start, duration);
            return true;
        },
        [&](std::size_t i, Date start, TimeInterval duration) {
            covered.add(start, duration);
            const Sample &s = relevant[i];
            if (s.date >= interval.start) {
                keepId(distinct.count(s.mgdL, duration));
                ++weightedCount;
                addSample(s, duration);
            }
        });
    flushBand();
    distinct.adoptCheck(check);

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
    forEachWeightSplit(
        relevant, interval, firstWeighted,
        [&](std::size_t i, Date, TimeInterval duration) {
            const Sample &s = relevant[i];
            if (s.date >= interval.start) {
                if (!profile.tryAdd(s.date, duration, idAt(next), s.fixedCadence())) {
                    return false;
                }
                ++next;
                addDeviation(s, duration);
            }
            return true;
        },
        [&](std::size_t i, Date, TimeInterval duration) {
            const Sample &s = relevant[i];
            if (s.date >= interval.start) {
                profile.add(s.date, duration, idAt(next++), s.fixedCadence());
                addDeviation(s, duration);
            }
        });
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
