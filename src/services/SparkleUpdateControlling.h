#pragma once

#include "core/Date.h"
#include "core/UpdateInstallSupport.h"

#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace quillby {

enum class SparkleUpdateState { none, updateReady };

// The update controller behind the update checker: a few updater settings, the last check, a
// two-state update status reported through one callback, a user-started check, and the install
// step of a downloaded update. Main thread only.
class SparkleUpdateControlling {
public:
    virtual ~SparkleUpdateControlling() = default;

    // Set once by the owner; called with every status the controller reports.
    std::function<void(SparkleUpdateState)> updateStateDidChange;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool enabled) = 0;
    virtual std::optional<Date> lastUpdateCheckDate() const = 0;
    virtual bool hasPendingInstallOnQuit() const = 0;
    virtual void start() = 0;
    // Starts a user-initiated update check.
    virtual void checkForUpdates() = 0;
    // Runs and clears the waiting install step of a downloaded update; false when none waits.
    virtual bool installPendingUpdate() = 0;

    // The person asked for the newer version the last check found and none is downloaded yet:
    // downloads, checks and installs it. False when there is nothing this controller can install.
    virtual bool downloadAndInstallUpdate() { return false; }
    // Installs the waiting update only where no password prompt would appear (the person may be
    // walking away); otherwise it keeps waiting. True when it was installed. `relaunch`: start
    // the new version afterwards.
    virtual QCoro::Task<bool> installPendingUpdateWithoutPrompt(bool relaunch)
    {
        Q_UNUSED(relaunch);
        co_return hasPendingInstallOnQuit() && installPendingUpdate();
    }
    // Whether updates are installed here at all.
    virtual UpdateInstallSupport installSupport() const { return UpdateInstallSupport::notSigned; }
    // Why the last install failed, while its update still waits; empty otherwise.
    virtual QString installFailure() const { return {}; }
    // Set once by the owner; called when installSupport() or installFailure() changed.
    std::function<void()> installStatusDidChange;

protected:
    void report(SparkleUpdateState state) const
    {
        if (updateStateDidChange) {
            updateStateDidChange(state);
        }
    }
};

// The inert controller: stores its settings, reports nothing, installs nothing.
class NoOpSparkleUpdateController final : public SparkleUpdateControlling {
public:
    bool automaticallyChecksForUpdates() const override { return automaticallyChecks; }
    bool automaticallyDownloadsUpdates() const override { return automaticallyDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled) override { automaticallyDownloads = enabled; }
    std::optional<Date> lastUpdateCheckDate() const override { return lastCheck; }
    bool hasPendingInstallOnQuit() const override { return pendingInstallOnQuit; }
    void start() override {}
    void checkForUpdates() override {}
    bool installPendingUpdate() override { return false; }

    bool automaticallyChecks = false;
    bool automaticallyDownloads = false;
    std::optional<Date> lastCheck;
    bool pendingInstallOnQuit = false;
};

} // namespace quillby
