#pragma once

#include "core/SharedGlucoseReadings.h"
#include "history/GlucoseHistoryConfiguration.h"

namespace quillby {

// One account's saved history as the store hands it out: its configuration and its retained
// readings, ascending by date. With no active account: the default configuration carrying the
// manifest's collection cutoff and pending-deletion flag, and no readings. Copies share the
// readings: the store hands the same list out again while the saved days are unchanged.
struct GlucoseHistorySnapshot {
    GlucoseHistoryConfiguration configuration;
    SharedGlucoseReadings readings;

    bool operator==(const GlucoseHistorySnapshot &) const = default;
};

} // namespace quillby
