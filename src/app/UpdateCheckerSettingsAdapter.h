#pragma once

#include "services/UpdateChecker.h"
#include "settings/UpdateChecking.h"

namespace quillby {

// The update checker as the settings model sees it. The update controller of this version
// keeps no automatic-download setting and no check date of its own: the setting lives here
// for the run, and no check date is known ("Never").
class UpdateCheckerSettingsAdapter final : public UpdateChecking {
public:
    explicit UpdateCheckerSettingsAdapter(UpdateChecker &checker) : checker_(checker) {}

    QString installedVersion() const override { return checker_.installedVersion(); }
    bool automaticallyDownloadsUpdates() const override { return automaticallyDownloadsUpdates_; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override { automaticallyDownloadsUpdates_ = enabled; }
    std::optional<Date> lastUpdateCheckDate() const override { return std::nullopt; }
    void republishUpdateAvailability() override {}

private:
    UpdateChecker &checker_;
    bool automaticallyDownloadsUpdates_ = false;
};

} // namespace quillby
