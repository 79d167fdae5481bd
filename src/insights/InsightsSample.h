#pragma once

// Internal working forms of the Insights engine: the calculation reads the trend text only while
// cleaning, so every later step works on small plain samples instead of whole readings.

#include "core/GlucoseReading.h"
#include "insights/DateInterval.h"
#include "insights/ReadingCadence.h"
#include "insights/TimeWeighting.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace quillby::insights_detail {

// Three numbers, 24 bytes: the report walks its samples several times, so whether the reading
// is on a fixed cadence (see FixedCadenceRule) rides in the sign of the duration, which is
// always positive.
struct Sample {
    Sample(Date date, double mgdL, double sampleDuration, bool fixedCadence)
        : date(date), mgdL(mgdL), signedDuration_(fixedCadence ? sampleDuration : -sampleDuration)
    {
    }

    Date date;
    double mgdL;
    double sampleDuration() const { return std::fabs(signedDuration_); }   // bounded to (0, 900]
    bool fixedCadence() const { return !std::signbit(signedDuration_); }

private:
    double signedDuration_;
};

struct WeightedSample {
    Date date;               // the sample time
    Date start;              // the later of the sample time and the interval's start
    double mgdL;
    TimeInterval duration;
    bool fixedCadence;
};

// The reading type's bounds on the time one sample stands for: 60 s when not finite or not
// positive, at most 900 s.
double boundedSampleDuration(double seconds);
// The clean-up, as samples; `fixedCadence` tells which readings are on a fixed cadence.
std::vector<Sample> cleanedSamples(const GlucoseReadings &readings, FixedCadenceRule fixedCadence);
// The part of cleanedSamples(readings) that a calculation over [from, to) reads, in the same
// order: the samples dated in it, the last one before it (it may reach into it) and the first
// one at or after its end (it bounds the one before it). Everything when the bounds are not
// finite or not in order.
std::vector<Sample> cleanedSamples(const GlucoseReadings &readings, FixedCadenceRule fixedCadence, Date from,
                                   Date to);

inline Date dateOf(const Sample &s) { return s.date; }
inline Date dateOf(const GlucoseReading &r) { return r.date; }
inline double sampleDurationOf(const Sample &s) { return s.sampleDuration(); }
inline double sampleDurationOf(const GlucoseReading &r) { return boundedSampleDuration(r.sampleDuration); }

inline double valueOf(const WeightedSample &s) { return s.mgdL; }
inline double valueOf(const InsightsWeightedReading &r) { return r.reading.mgdL; }
inline TimeInterval weightOf(const WeightedSample &s) { return s.duration; }
inline TimeInterval weightOf(const InsightsWeightedReading &r) { return r.duration; }

// Calls onPiece(index, start, duration) for every reading among `sorted[first...]` that covers part
// of `interval`. Starting past readings that lie wholly before the interval, and stopping at the
// first reading dated at or after its end, gives the same weights as walking the whole list.
template <class R, class Emit>
void forEachWeight(std::span<const R> sorted, const DateInterval &interval, std::size_t first, Emit &&onPiece)
{
    const std::size_t n = sorted.size();
    for (std::size_t i = first; i < n; ++i) {
        const Date date = dateOf(sorted[i]);
        const Date next = i + 1 < n ? dateOf(sorted[i + 1]) : interval.end;
        const Date end = std::min(std::min(date + sampleDurationOf(sorted[i]), next), interval.end);
        const Date start = std::max(date, interval.start);
        if (start < end) {
            onPiece(i, start, end - start);
        }
    }
}

// The index from which forEachWeight over sorted samples may start: the last sample dated
// before the interval's start (it may reach into the interval), or 0.
std::size_t firstWeightedIndex(std::span<const Sample> sorted, Date intervalStart);
// The index of the first sample dated at or after `date`.
std::size_t lowerBound(std::span<const Sample> sorted, Date date);

// Weighted samples over the interval, from sorted clean samples.
std::vector<WeightedSample> weightSamples(std::span<const Sample> sorted, const DateInterval &interval);

} // namespace quillby::insights_detail
