#pragma once

#include <algorithm>
#include <array>
#include <optional>

namespace quillby {

// The owner of the graph window setting: how many hours of readings the tray graph shows.
struct GraphTimeWindowSetting {
    static constexpr int defaultHours = 6;
    // The windows a save keeps, shortest first (the Settings picker's rows).
    static constexpr std::array<int, 5> allowedHours = {1, 3, 6, 12, 24};

    static constexpr bool isAllowed(int hours)
    {
        return std::find(allowedHours.begin(), allowedHours.end(), hours) != allowedHours.end();
    }
    // An allowed window stays; one that is absent or not allowed gives the default.
    static constexpr int snapped(std::optional<int> hours)
    {
        return hours && isAllowed(*hours) ? *hours : defaultHours;
    }
};

static_assert(GraphTimeWindowSetting::isAllowed(GraphTimeWindowSetting::defaultHours));

} // namespace quillby
