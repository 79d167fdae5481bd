#pragma once

#include <algorithm>
#include <array>

namespace quillby {

// The owner of the low alert repeat setting: minutes between repeats of an active low alert,
// 0 for none.
struct LowAlertRepeatSetting {
    static constexpr int defaultMinutes = 0;
    // The intervals a save keeps, shortest first (the Settings picker's rows).
    static constexpr std::array<int, 5> allowedMinutes = {0, 5, 15, 30, 60};

    static constexpr bool isAllowed(int minutes)
    {
        return std::find(allowedMinutes.begin(), allowedMinutes.end(), minutes) != allowedMinutes.end();
    }
    // An allowed interval stays; any other gives the default.
    static constexpr int snapped(int minutes) { return isAllowed(minutes) ? minutes : defaultMinutes; }
};

static_assert(LowAlertRepeatSetting::isAllowed(LowAlertRepeatSetting::defaultMinutes));

} // namespace quillby
