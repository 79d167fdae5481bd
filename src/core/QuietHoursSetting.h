#pragma once

#include <algorithm>

namespace quillby {

// The owner of the quiet-hours settings: the switch, the start and end as minutes after local
// midnight, and whether low alerts still come during the period.
struct QuietHoursSetting {
    static constexpr bool defaultEnabled = false;
    static constexpr int defaultStartMinutes = 22 * 60;
    static constexpr int defaultEndMinutes = 7 * 60;
    static constexpr bool defaultAllowsLowAlerts = false;

    // A time of day: the first and the last minute a start or end may hold.
    static constexpr int firstMinute = 0;
    static constexpr int lastMinute = 24 * 60 - 1;

    // Held to a minute of the day; nothing wraps around (1500 is the last minute, not 01:00).
    static constexpr int clamped(int minutes) { return std::clamp(minutes, firstMinute, lastMinute); }
};

static_assert(QuietHoursSetting::clamped(QuietHoursSetting::defaultStartMinutes) == QuietHoursSetting::defaultStartMinutes);
static_assert(QuietHoursSetting::clamped(QuietHoursSetting::defaultEndMinutes) == QuietHoursSetting::defaultEndMinutes);

} // namespace quillby
