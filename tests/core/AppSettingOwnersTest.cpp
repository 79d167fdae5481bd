#include "core/GraphTimeWindowSetting.h"
#include "core/LowAlertRepeatSetting.h"
#include "core/MeasurementUnitSetting.h"
#include "core/QuietHoursSetting.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

using namespace quillby;

// Each owner's rule at the edges of what a stored document or a hand edit may hold. The
// configuration's normalization, the Settings model's save and the tray graph all call it.
TEST(AppSettingOwners, IntegerSettingsSnapToWhatASaveKeeps)
{
    struct Case {
        const char *name;
        int (*rule)(int);
        int input;
        int expected;
    };
    const auto window = [](int hours) { return GraphTimeWindowSetting::snapped(hours); };
    const auto repeat = [](int minutes) { return LowAlertRepeatSetting::snapped(minutes); };
    const Case cases[] = {
        {"graph 1 kept", window, 1, 1},
        {"graph 24 kept", window, 24, 24},
        {"graph 0", window, 0, 6},
        {"graph 2", window, 2, 6},
        {"graph 48", window, 48, 6},
        {"graph INT_MIN", window, INT_MIN, 6},
        {"repeat 0 kept", repeat, 0, 0},
        {"repeat 60 kept", repeat, 60, 60},
        {"repeat 10", repeat, 10, 0},
        {"repeat -5", repeat, -5, 0},
        {"repeat INT_MAX", repeat, INT_MAX, 0},
        {"quiet 0 kept", QuietHoursSetting::clamped, 0, 0},
        {"quiet 1439 kept", QuietHoursSetting::clamped, 1439, 1439},
        {"quiet 1440", QuietHoursSetting::clamped, 1440, 1439},
        {"quiet -1", QuietHoursSetting::clamped, -1, 0},
        {"quiet INT_MIN", QuietHoursSetting::clamped, INT_MIN, 0},
        {"quiet INT_MAX", QuietHoursSetting::clamped, INT_MAX, 1439},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rule(c.input), c.expected);
    }
    EXPECT_EQ(GraphTimeWindowSetting::snapped(std::nullopt), 6) << "an absent window";
}

TEST(AppSettingOwners, MeasurementUnitKeepsOnlyExactSymbols)
{
    const std::pair<std::string, std::string> cases[] = {
        {"mmol/L", "mmol/L"}, {"mg/dL", "mg/dL"}, {"mg/dl", "mmol/L"},
        {" mg/dL", "mmol/L"}, {"", "mmol/L"},     {std::string("mg/dL\0", 6), "mmol/L"},
    };
    for (const auto &[input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(MeasurementUnitSetting::snapped(input), expected);
    }
}
