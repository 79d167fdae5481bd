#pragma once

#include <QObject>
#include <QString>

namespace quillby {

// What the status item needs of the update checker: whether an update waits to be installed
// (with a signal on every change), the installed version, and the two actions behind the
// menu's "Update available" entry. Main thread only.
class UpdateAvailabilityProviding : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UpdateAvailabilityProviding() override = default;

    virtual bool isUpdateAvailable() const = 0;
    // The installed version text, "Unknown" when it cannot be told.
    virtual QString installedVersion() const = 0;
    // Runs a downloaded update's waiting install step; false when none was waiting.
    virtual bool installPendingUpdate() = 0;
    // Starts a user-initiated update check.
    virtual void checkForUpdates() = 0;
    // Why the last install of the waiting update failed; empty when none failed.
    virtual QString updateInstallFailure() const { return {}; }

signals:
    // Emitted after isUpdateAvailable() has changed.
    void updateAvailabilityChanged(bool available);
    // Emitted after updateInstallFailure() has changed.
    void updateInstallFailureChanged();
};

// Stands in while no update checker is wired: never reports an update and does nothing.
class NoUpdateAvailability final : public UpdateAvailabilityProviding {
    Q_OBJECT
public:
    using UpdateAvailabilityProviding::UpdateAvailabilityProviding;
    bool isUpdateAvailable() const override { return false; }
    QString installedVersion() const override { return QStringLiteral("Unknown"); }
    bool installPendingUpdate() override { return false; }
    void checkForUpdates() override {}
};

} // namespace quillby
