#include "core/async/RunDetached.h"

#include "core/ScopedLogger.h"

namespace quillby::async_detail {

void reportDetachedFailure()
{
    // The error's text may hold server or user text: only the fact is logged.
    static const ScopedLogger logger("RunDetached");
    logger.error("A task nobody awaited ended with an error");
}

} // namespace quillby::async_detail
