#pragma once

#include "core/AppError.h"

namespace quillby {

// Thrown by an operation (a configuration update, a provider request, a wait for a turn) when
// its caller's stop token was triggered before the operation passed the point of no return.
// Callers that cancel do not treat it as a failure.
class OperationCancelledError : public AppError {
public:
    OperationCancelledError() : AppError("The operation was cancelled.") {}
};

} // namespace quillby
