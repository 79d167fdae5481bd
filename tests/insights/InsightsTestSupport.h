#pragma once

#include "core/GlucoseReading.h"
#include "insights/LocalCalendar.h"
#include "insights/TimeWeighting.h"

#include <string>

namespace quillby::test {

inline GlucoseReading reading(double mgdL, Date date, double sampleDuration = 300,
                              GlucoseProvider source = GlucoseProvider::dexcom, std::string trend = "Flat")
{
    return GlucoseReading(mgdL, std::move(trend), date, sampleDuration, source);
}

inline InsightsWeightedReading weighted(double mgdL, TimeInterval duration,
                                        GlucoseProvider source = GlucoseProvider::dexcom, Date date = 0)
{
    return InsightsWeightedReading{reading(mgdL, date, 300, source), duration};
}

// Readings of one value every `step` seconds in [from, to).
inline GlucoseReadings readingsEvery(TimeInterval step, Date from, Date to, double mgdL = 120,
                                     double sampleDuration = 300, GlucoseProvider source = GlucoseProvider::dexcom)
{
    GlucoseReadings result;
    for (Date date = from; date < to; date += step) {
        result.push_back(reading(mgdL, date, sampleDuration, source));
    }
    return result;
}

inline void append(GlucoseReadings &to, const GlucoseReadings &more) { to.insert(to.end(), more.begin(), more.end()); }

inline constexpr double kMinute = 60;
inline constexpr double kHour = 3600;
inline constexpr double kDay = 86400;

// A local wall time in a zone (fixtures only; the calendar itself is tested against fixed
// instants).
inline Date local(const char *zone, int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return *LocalCalendar(zone).date(year, month, day, hour, minute, second);
}

} // namespace quillby::test
