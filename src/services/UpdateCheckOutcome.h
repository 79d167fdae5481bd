#pragma once

#include "services/AppcastFeed.h"

#include <optional>

namespace quillby {

// What one update check found.
struct UpdateCheckOutcome {
    enum class Kind { newerVersion, upToDate, failed };
    Kind kind = Kind::failed;
    std::optional<AppcastItem> item;   // the newest release offered (newerVersion, upToDate)
    QString currentVersion;
};

} // namespace quillby
