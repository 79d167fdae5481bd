#pragma once

#include "core/AppError.h"

namespace quillby {

// A Dexcom Share reading record that does not make a reading.
class GlucoseReadingError : public AppError {
public:
    enum class Case { invalidFormat, missingValue, missingTrend, invalidTimestamp };
    explicit GlucoseReadingError(Case c);
    Case kind;
};

} // namespace quillby
