#pragma once

#include "core/GlucoseReading.h"

namespace quillby {

// The cleaned reading list that saved history and Insights share: only finite, positive values
// with finite dates; one reading per exact timestamp (the later one in the input); sorted oldest
// first; a reading no more than 30 s after the last kept one with the same value and trend
// text is dropped.
GlucoseReadings normalizedGlucoseReadings(const GlucoseReadings &readings);

} // namespace quillby
