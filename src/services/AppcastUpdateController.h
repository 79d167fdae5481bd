#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/ScopedLogger.h"
#include "platform/PackageKitClient.h"
#include "services/SparkleUpdateControlling.h"
#include "services/UpdateCheckOutcome.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QThreadPool>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

// The update controller on Linux. It reads an update feed in the appcast format from an address
// fixed at build time, on start and then daily while automatic checks are on, and reports
// `updateReady` when the feed offers a newer version than the running one, `none` when it does
// not or the check fails. A user-started check shows its result.
//
// Where updates are installed here (a build with the signing key, running from its installed
// package, PackageKit on the system bus), a newer version's package for this architecture is
// downloaded in the background while automatic download is on (or when the person asks from
// the menu) into a private cache folder, checked (Ed25519 signature of the whole file against
// the key fixed at build time; the package's own name, architecture and version) and kept as the
// pending install. Installing it hands the file to PackageKit; after a successful install the
// program starts the new version. A file that fails a check is deleted and never installed; a
// later check that finds nothing, or a failed check, drops the pending install. Main thread only.
class AppcastUpdateController final : public QObject, public SparkleUpdateControlling {
    Q_OBJECT
public:
    static inline const QString kAutomaticallyDownloadsKey = QStringLiteral("QuillbyAutomaticallyDownloadsUpdates");
    static inline const QString kLastCheckKey = QStringLiteral("QuillbyLastUpdateCheckAt");
    static constexpr double kCheckInterval = 86400;
    // A feed is a few kilobytes per release; a larger reply is not read.
    static constexpr qint64 kMaximumFeedBytes = 2 * 1024 * 1024;
    // No package of this program comes near this, whatever a feed states.
    static constexpr qint64 kMaximumPackageBytes = 256 * 1024 * 1024;

    struct Dependencies {
        QNetworkAccessManager *network = nullptr;
        QUrl feedURL;
        QString currentVersion;
        std::shared_ptr<QSettings> defaults;
        bool automaticallyChecksForUpdates = true;
        std::chrono::milliseconds timeout{60000};
        std::shared_ptr<Clock> clock;       // required
        std::shared_ptr<Sleeper> sleeper;   // required
        // Where the feed is read, off the main thread (default: the global pool).
        QThreadPool *parsePool = nullptr;
        // Shows the result of a user-started check (the composition root hands in the result
        // dialog; none: the result is not shown).
        std::function<void(const UpdateCheckOutcome &)> presentUserCheckResult;

        // --- Installing (all needed; any missing: newer versions are only reported) ---
        QByteArray publicKey;              // the raw 32-byte Ed25519 key the packages are signed with
        QString packageName;               // this program's Debian package
        QString architecture;              // this build's Debian architecture ("amd64")
        QString downloadFolder;            // private folder for downloads (made 0700)
        std::shared_ptr<PackageKitClient> packageKit;
        QString executablePath;            // the running program
        // The package that owns a file (blocking; runs on the pool). Default: dpkg -S.
        std::function<std::optional<QString>(const QString &)> owningPackage;
        // Starts the new version after an install (the composition root ends this process).
        std::function<void()> relaunch;
        std::chrono::milliseconds downloadStallTimeout{60000};
        std::chrono::milliseconds installTimeout{30 * 60 * 1000};
    };

    explicit AppcastUpdateController(Dependencies dependencies, QObject *parent = nullptr);
    ~AppcastUpdateController() override;

    bool automaticallyChecksForUpdates() const override { return deps_.automaticallyChecksForUpdates; }
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool enabled) override;
    std::optional<Date> lastUpdateCheckDate() const override;
    bool hasPendingInstallOnQuit() const override { return pending_.has_value(); }
    void start() override;
    void checkForUpdates() override;
    bool installPendingUpdate() override;
    bool downloadAndInstallUpdate() override;
    QCoro::Task<bool> installPendingUpdateWithoutPrompt(bool relaunch) override;
    UpdateInstallSupport installSupport() const override { return support_; }
    QString installFailure() const override { return installFailure_; }

    // Finds out once whether updates are installed here (start() does this before its first check).
    QCoro::Task<UpdateInstallSupport> resolveInstallSupport();
    bool isDownloading() const { return download_.has_value(); }
    bool isInstalling() const { return installing_; }
    QString pendingInstallPath() const { return pending_ ? pending_->path : QString(); }

    // One check of the feed; reports the state and records the check date.
    QCoro::Task<UpdateCheckOutcome> check(std::stop_token stop = {});
    const std::optional<UpdateCheckOutcome> &lastOutcome() const { return lastOutcome_; }

signals:
    void checkFinished();
    // A download ended: kept as the pending install, or dropped (failed, refused or cancelled).
    void downloadFinished(bool pending);
    // An install ended.
    void installFinished(bool succeeded);

private:
    static QCoro::Task<void> runSchedule(QPointer<AppcastUpdateController> self, std::stop_token stop);
    static QCoro::Task<void> runUserCheck(QPointer<AppcastUpdateController> self, std::stop_token stop);
    QCoro::Task<UpdateCheckOutcome> fetch(std::stop_token stop);

    struct PendingInstall {
        QString path;
        QString version;
    };
    void afterCheck(const UpdateCheckOutcome &outcome);
    bool canDownload() const;
    void startDownload(const AppcastItem &item, bool installAfterwards);
    void cancelDownload();
    void dropPending();
    void setInstallFailure(const QString &failure);
    static QCoro::Task<void> runDownload(QPointer<AppcastUpdateController> self, AppcastItem item,
                                         std::stop_token stop);
    static QCoro::Task<bool> runInstall(QPointer<AppcastUpdateController> self, PendingInstall install,
                                        bool interactive, bool relaunch);

    Dependencies deps_;
    ScopedLogger logger_{"SparkleUpdateController"};
    bool didStart_ = false;
    std::stop_source stop_;
    std::optional<UpdateCheckOutcome> lastOutcome_;
    UpdateInstallSupport support_ = UpdateInstallSupport::checking;
    std::optional<std::stop_source> download_;
    QString downloadingVersion_;
    bool installAfterDownload_ = false;
    std::optional<PendingInstall> pending_;
    bool installing_ = false;
    QString installFailure_;
};

} // namespace quillby
