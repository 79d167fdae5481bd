#pragma once

#include "core/ChoiceSetting.h"

namespace quillby {

// The owner of the low alert repeat setting: minutes between repeats of an active low alert,
// 0 for none.
struct LowAlertRepeatSetting : ChoiceSetting<0, 0, 5, 15, 30, 60> {
    static constexpr int defaultMinutes = defaultValue;
    static constexpr auto allowedMinutes = allowedValues;   // shortest first
};

} // namespace quillby
