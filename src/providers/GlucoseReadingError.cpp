#include "providers/GlucoseReadingError.h"

#include <string>

namespace quillby {

namespace {

std::string readingErrorMessage(GlucoseReadingError::Case c)
{
    switch (c) {
    case GlucoseReadingError::Case::invalidFormat:
        return "Invalid glucose reading format";
    case GlucoseReadingError::Case::missingValue:
        return "Missing glucose value";
    case GlucoseReadingError::Case::missingTrend:
        return "Missing trend information";
    case GlucoseReadingError::Case::invalidTimestamp:
        return "Missing or invalid glucose reading timestamp";
    }
    return "Invalid glucose reading format";
}

} // namespace

GlucoseReadingError::GlucoseReadingError(Case c) : AppError(readingErrorMessage(c)), kind(c) {}

} // namespace quillby
