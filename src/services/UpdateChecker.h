#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/UpdateAvailabilityProviding.h"
#include "services/AlivePingService.h"
#include "core/UpdateInstallSupport.h"
#include "services/SparkleUpdateControlling.h"

#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

// The one owner of the update controller and the daily heartbeat: runs the heartbeat task,
// publishes whether an update is ready, gives the installed version, and installs a downloaded
// update on demand. Built by the composition root. Main thread only.
class UpdateChecker final : public UpdateAvailabilityProviding {
    Q_OBJECT
public:
    struct Dependencies {
        std::unique_ptr<SparkleUpdateControlling> sparkleController;   // default: the inert one
        std::shared_ptr<AlivePingService> alivePingService;            // none: no heartbeat
        // Required with a heartbeat (they time its attempts).
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Sleeper> sleeper;
        QString shortVersion;   // the program's version; empty when unknown
        QString buildVersion;   // a build number, when there is one
    };

    // The inert checker: no update controller, no heartbeat.
    explicit UpdateChecker(QObject *parent = nullptr);
    explicit UpdateChecker(Dependencies dependencies, QObject *parent = nullptr);
    ~UpdateChecker() override;

    // --- What the status item uses ---
    bool isUpdateAvailable() const override { return isUpdateAvailable_; }
    // Short version, with the build in parentheses when there is a different one; "Unknown"
    // when the short version is missing.
    QString installedVersion() const override;
    // The menu's "Update available": installs the waiting update, or downloads and installs the
    // newer version found; false when neither can be done here.
    bool installPendingUpdate() override;
    void checkForUpdates() override;
    QString updateInstallFailure() const override { return sparkleController_->installFailure(); }
    UpdateInstallSupport updateInstallSupport() const { return sparkleController_->installSupport(); }

    // --- Life ---
    // Starts the update controller and the heartbeat task (an attempt at once, then at each UTC
    // midnight or pending retry). A second start() without stop() changes nothing.
    void start();
    // Cancels the heartbeat task.
    void stop();
    bool isStarted() const { return heartbeat_.has_value(); }
    // Installs a downloaded update at once when one waits ("system-sleep", "display-sleep"),
    // where that needs no password; the program then starts the new version.
    void installDownloadedUpdateNow(const QString &reason);
    // The same before the program quits (no new start afterwards); ends when the install does.
    QCoro::Task<void> installDownloadedUpdateBeforeQuit();

    // One heartbeat attempt and its retry bookkeeping.
    QCoro::Task<void> sendAlivePing(std::stop_token stop = {});

    // --- What the settings model uses ---
    SparkleUpdateControlling &sparkleController() { return *sparkleController_; }
    SparkleUpdateState currentSparkleUpdateState() const { return currentSparkleUpdateState_; }
    bool automaticallyDownloadsUpdates() const { return sparkleController_->automaticallyDownloadsUpdates(); }
    void setAutomaticallyDownloadsUpdates(bool enabled) { sparkleController_->setAutomaticallyDownloadsUpdates(enabled); }
    std::optional<Date> lastUpdateCheckDate() const { return sparkleController_->lastUpdateCheckDate(); }
    // Publishes isUpdateAvailable again from the current update state.
    void republishUpdateAvailability();

    void sparkleStateDidChange(SparkleUpdateState state);

    // The heartbeat's defaults: a uniform draw from the system's random source, and the
    // user's first preferred language.
    static std::uint64_t randomUInt64(std::uint64_t lower, std::uint64_t upper);
    static std::optional<QString> systemLanguage();

    std::optional<AlivePingResult> lastAlivePingResult() const { return lastAlivePingResult_; }
    AlivePingService *alivePingService() const { return alivePingService_.get(); }

signals:
    // After each heartbeat attempt and its retry bookkeeping.
    void alivePingAttemptFinished();
    // After updateInstallSupport() changed.
    void updateInstallSupportChanged();

private:
    static QCoro::Task<void> runHeartbeat(QPointer<UpdateChecker> self, std::stop_token stop);
    QString heartbeatAppVersion() const;
    void setUpdateAvailable(bool available);

    std::unique_ptr<SparkleUpdateControlling> sparkleController_;
    std::shared_ptr<AlivePingService> alivePingService_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    QString shortVersion_;
    QString buildVersion_;
    bool isUpdateAvailable_ = false;
    SparkleUpdateState currentSparkleUpdateState_ = SparkleUpdateState::none;
    std::optional<std::stop_source> heartbeat_;
    std::optional<AlivePingResult> lastAlivePingResult_;
};

} // namespace quillby
