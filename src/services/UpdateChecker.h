#pragma once

#include "menubar/UpdateAvailabilityProviding.h"
#include "services/SparkleUpdateControlling.h"

#include <memory>

namespace quillby {

// Owner of the update controller. Main thread only.
class UpdateChecker final : public UpdateAvailabilityProviding {
    Q_OBJECT
public:
    explicit UpdateChecker(std::unique_ptr<SparkleUpdateControlling> controller =
                               std::make_unique<NoOpSparkleUpdateController>(),
                           QObject *parent = nullptr);

    static UpdateChecker &shared();

    bool isUpdateAvailable() const override { return isUpdateAvailable_; }
    QString installedVersion() const override;
    bool installPendingUpdate() override;
    void checkForUpdates() override;

    void start();
    void stop();
    bool isStarted() const { return started_; }
    // Installs a downloaded update at once when one waits ("system-sleep", "display-sleep").
    void installDownloadedUpdateNow(const QString &reason);

    SparkleUpdateControlling &sparkleController() { return *controller_; }

private:
    std::unique_ptr<SparkleUpdateControlling> controller_;
    bool isUpdateAvailable_ = false;
    bool started_ = false;
};

} // namespace quillby
