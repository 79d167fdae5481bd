#pragma once

#include "core/GlucoseReading.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace quillby {

// The owner of the measurement unit setting, stored as the unit's symbol.
struct MeasurementUnitSetting {
    // The unit of the fixed first-run record; a new installation takes firstRunUnit() instead.
    static constexpr std::string_view defaultUnit = "mmol/L";
    // The symbols a save keeps, in the order of the units.
    static constexpr std::array<std::string_view, 2> allowedUnits = {"mmol/L", "mg/dL"};

    static constexpr bool isAllowed(std::string_view unit)
    {
        return std::find(allowedUnits.begin(), allowedUnits.end(), unit) != allowedUnits.end();
    }
    // An allowed symbol (exact text) stays; any other gives the default.
    static std::string snapped(const std::string &unit)
    {
        return isAllowed(unit) ? unit : std::string(defaultUnit);
    }
    // The first-run unit for a region identifier ("US", "DE", empty when unknown): "mg/dL" where
    // the region uses it, else "mmol/L".
    static std::string firstRunUnit(const std::string &regionIdentifier)
    {
        return units::symbol(units::localeDefault(regionIdentifier) ? GlucoseUnits::mgdL : GlucoseUnits::mmolL);
    }
};

static_assert(MeasurementUnitSetting::isAllowed(MeasurementUnitSetting::defaultUnit));

} // namespace quillby
