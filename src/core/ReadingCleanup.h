#pragma once

#include "core/GlucoseReading.h"

#include <cstdint>
#include <vector>

namespace quillby {

// The cleaned reading list that saved history and Insights share: only finite, positive values
// with finite dates; one reading per exact timestamp (the later one in the input); sorted oldest
// first; a reading no more than 30 s after the last kept one with the same value and trend
// text is dropped.
GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings);

// The same clean-up as indices into `readings`, in date order.
std::vector<std::uint32_t> normalizedReadingIndices(const GlucoseReadings &readings);

} // namespace quillby
