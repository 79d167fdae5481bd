#pragma once

#include "services/UpdateChecker.h"
#include "settings/UpdateChecking.h"

namespace quillby {

// The update checker as the settings model sees it: the installed version, the update
// controller's automatic-download setting and last check date, and republishing whether an
// update is ready.
class UpdateCheckerSettingsAdapter final : public UpdateChecking {
public:
    explicit UpdateCheckerSettingsAdapter(UpdateChecker &checker) : checker_(checker) {}

    QString installedVersion() const override { return checker_.installedVersion(); }
    bool automaticallyDownloadsUpdates() const override { return checker_.automaticallyDownloadsUpdates(); }
    void setAutomaticallyDownloadsUpdates(bool enabled) override { checker_.setAutomaticallyDownloadsUpdates(enabled); }
    std::optional<Date> lastUpdateCheckDate() const override { return checker_.lastUpdateCheckDate(); }
    void republishUpdateAvailability() override { checker_.republishUpdateAvailability(); }

private:
    UpdateChecker &checker_;
};

} // namespace quillby
