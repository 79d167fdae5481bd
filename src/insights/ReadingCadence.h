#pragma once

#include "core/GlucoseReading.h"

namespace quillby {

// Whether a reading belongs to a series that its source samples on one fixed cadence. Readings
// of such series that all weigh the same are evenly spaced samples, and the quantiles of a list
// of them are the plain percentiles of their values; one other reading in the list, or one
// weight that differs, makes them time-weighted. The engine does not know where readings come
// from: whoever does hands the rule in with them. No rule: no reading is on a fixed cadence.
// The rule answers by the reading's source alone (a source's readings all come on its cadence or
// none do), so a walk over many readings may ask it once for each run of readings from one source.
using FixedCadenceRule = bool (*)(const GlucoseReading &reading);

inline bool isOnFixedCadence(FixedCadenceRule rule, const GlucoseReading &reading)
{
    return rule != nullptr && rule(reading);
}

// The rule's answers, asked again only when the source changes from one reading to the next: a
// report's readings come from one source for long runs, and the clean-up then keeps the call (and
// the registers it would claim) out of its walk.
class FixedCadenceBySource {
public:
    explicit FixedCadenceBySource(FixedCadenceRule rule) : rule_(rule) {}

    [[gnu::always_inline]] bool operator()(const GlucoseReading &reading)
    {
        if (static_cast<int>(reading.source) != source_) [[unlikely]] {
            return ask(reading);
        }
        return answer_;
    }

private:
    [[gnu::noinline]] bool ask(const GlucoseReading &reading)
    {
        source_ = static_cast<int>(reading.source);
        answer_ = isOnFixedCadence(rule_, reading);
        return answer_;
    }

    FixedCadenceRule rule_;
    int source_ = -1;   // no source asked yet
    bool answer_ = false;
};

} // namespace quillby
