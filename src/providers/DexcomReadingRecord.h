#pragma once

#include "core/GlucoseReading.h"

#include <nlohmann/json.hpp>

namespace quillby {

// Builds a reading from one Dexcom Share reading record ("Value", "Trend" as its name or its
// number, the first of "ST", "WT", "DT" that holds a "/Date(milliseconds[±zone])/" text);
// a Dexcom reading stands for 300 s. Throws GlucoseReadingError.
GlucoseReading glucoseReadingFromDexcomJSON(const nlohmann::json &record);

} // namespace quillby
