#pragma once

#include "core/ChoiceSetting.h"

namespace quillby {

// The owner of the graph window setting: how many hours of readings the tray graph shows.
struct GraphTimeWindowSetting : ChoiceSetting<6, 1, 3, 6, 12, 24> {
    static constexpr int defaultHours = defaultValue;
    static constexpr auto allowedHours = allowedValues;   // shortest first
};

} // namespace quillby
