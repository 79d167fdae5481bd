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
    // The newer version can be installed from the Quillby menu (this program installs updates).
    bool installable = false;
};

} // namespace quillby
