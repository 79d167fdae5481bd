#pragma once

#include "core/GlucoseReading.h"

#include <QString>

#include <optional>

namespace quillby {

// Computed doubles become integers (percent, minutes, pixels, bin indices) only through this:
// a value that is not finite gives nothing, and the value is clamped to [low, high] while still
// a double, so the conversion can never overflow.
std::optional<int> clampedInt(double value, int low, int high);
// The same with a fallback for values that are not finite.
int clampedInt(double value, int low, int high, int fallback);

// The number texts of the Insights window, in the current locale.
struct InsightsFormat {
    // "mg/dL" for mgdL, "mmol/L" otherwise.
    static QString unitText(GlucoseUnits unit);
    // mg/dL with no fraction digits; mmol/L (value / 18) with exactly one.
    static QString glucose(double mgdl, GlucoseUnits unit);
    // A fraction (0.5) as percent with at most `maxFractionDigits` fraction digits ("50%",
    // "72.5%"); trailing zeros of the fraction are left out.
    static QString percent(double fraction, int maxFractionDigits = 1);
    // A number with exactly `fractionDigits` fraction digits.
    static QString decimal(double value, int fractionDigits);
    // A number with at most `maxFractionDigits` fraction digits ("1.5", "3").
    static QString shortDecimal(double value, int maxFractionDigits);
    // A whole number in the locale's integer format.
    static QString integer(int value);
    // "1 day", else "<n> days".
    static QString dayCount(int days);
    // Clock time of `minute` after midnight (0...1440; 1440 reads as midnight), in the locale's
    // short time style, without the minutes when `includeMinutes` is false.
    static QString timeLabel(int minute, bool includeMinutes);
};

} // namespace quillby
