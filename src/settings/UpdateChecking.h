#pragma once

#include "core/Date.h"

#include <QString>

#include <optional>

namespace quillby {

// What the settings model uses of the update checker: the installed version, the updater's
// automatic-download setting and last check date, and republishing whether an update is ready.
// Main thread only.
class UpdateChecking {
public:
    virtual ~UpdateChecking() = default;
    // The installed version text; "Unknown" when it cannot be told.
    virtual QString installedVersion() const = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool enabled) = 0;
    virtual std::optional<Date> lastUpdateCheckDate() const = 0;
    // Publishes the checker's isUpdateAvailable again from its current update state
    // (available exactly when the state is "update ready").
    virtual void republishUpdateAvailability() = 0;
};

} // namespace quillby
