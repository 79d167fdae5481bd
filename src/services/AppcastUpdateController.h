#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/ScopedLogger.h"
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
// not or the check fails. A user-started check shows its result. It never downloads or replaces
// the program (the package manager does): there is never a pending install. Main thread only.
class AppcastUpdateController final : public QObject, public SparkleUpdateControlling {
    Q_OBJECT
public:
    static inline const QString kAutomaticallyDownloadsKey = QStringLiteral("QuillbyAutomaticallyDownloadsUpdates");
    static inline const QString kLastCheckKey = QStringLiteral("QuillbyLastUpdateCheckAt");
    static constexpr double kCheckInterval = 86400;
    // A feed is a few kilobytes per release; a larger reply is not read.
    static constexpr qint64 kMaximumFeedBytes = 2 * 1024 * 1024;

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
    };

    explicit AppcastUpdateController(Dependencies dependencies, QObject *parent = nullptr);
    ~AppcastUpdateController() override;

    bool automaticallyChecksForUpdates() const override { return deps_.automaticallyChecksForUpdates; }
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool enabled) override;
    std::optional<Date> lastUpdateCheckDate() const override;
    bool hasPendingInstallOnQuit() const override { return false; }
    void start() override;
    void checkForUpdates() override;
    bool installPendingUpdate() override { return false; }

    // One check of the feed; reports the state and records the check date.
    QCoro::Task<UpdateCheckOutcome> check(std::stop_token stop = {});
    const std::optional<UpdateCheckOutcome> &lastOutcome() const { return lastOutcome_; }

signals:
    void checkFinished();

private:
    static QCoro::Task<void> runSchedule(QPointer<AppcastUpdateController> self, std::stop_token stop);
    static QCoro::Task<void> runUserCheck(QPointer<AppcastUpdateController> self, std::stop_token stop);
    QCoro::Task<UpdateCheckOutcome> fetch(std::stop_token stop);

    Dependencies deps_;
    ScopedLogger logger_{"SparkleUpdateController"};
    bool didStart_ = false;
    std::stop_source stop_;
    std::optional<UpdateCheckOutcome> lastOutcome_;
};

} // namespace quillby
