#include "services/AppcastUpdateController.h"
#include "core/async/RunDetached.h"

#include "core/OperationCancelledError.h"
#include "core/UserDefaults.h"
#include "core/async/BackgroundTask.h"
#include "providers/HttpExchange.h"

#include <QNetworkRequest>

#include <algorithm>
#include <exception>

namespace quillby {

AppcastUpdateController::AppcastUpdateController(Dependencies dependencies, QObject *parent)
    : QObject(parent), deps_(std::move(dependencies))
{
    Q_ASSERT(deps_.clock && deps_.sleeper);
    if (!deps_.parsePool) {
        deps_.parsePool = QThreadPool::globalInstance();
    }
}

AppcastUpdateController::~AppcastUpdateController()
{
    stop_.request_stop();
}

bool AppcastUpdateController::automaticallyDownloadsUpdates() const
{
    return deps_.defaults && deps_.defaults->value(kAutomaticallyDownloadsKey, false).toBool();
}

void AppcastUpdateController::setAutomaticallyDownloadsUpdates(bool enabled)
{
    if (deps_.defaults) {
        deps_.defaults->setValue(kAutomaticallyDownloadsKey, enabled);
    }
}

std::optional<Date> AppcastUpdateController::lastUpdateCheckDate() const
{
    return deps_.defaults ? defaults::readDate(*deps_.defaults, kLastCheckKey) : std::nullopt;
}

void AppcastUpdateController::start()
{
    if (didStart_) {
        return;
    }
    didStart_ = true;
    if (deps_.automaticallyChecksForUpdates) {
        runDetached(runSchedule(QPointer<AppcastUpdateController>(this), stop_.get_token()));
    }
}

void AppcastUpdateController::checkForUpdates()
{
    runDetached(runUserCheck(QPointer<AppcastUpdateController>(this), stop_.get_token()));
}

QCoro::Task<void> AppcastUpdateController::runSchedule(QPointer<AppcastUpdateController> self, std::stop_token stop)
{
    while (self && !stop.stop_requested()) {
        co_await self->check(stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        std::shared_ptr<Sleeper> sleeper = self->deps_.sleeper;
        co_await sleeper->sleep(kCheckInterval, stop);
    }
}

QCoro::Task<void> AppcastUpdateController::runUserCheck(QPointer<AppcastUpdateController> self, std::stop_token stop)
{
    if (!self) {
        co_return;
    }
    const UpdateCheckOutcome outcome = co_await self->check(stop);
    if (self && !stop.stop_requested() && self->deps_.presentUserCheckResult) {
        self->deps_.presentUserCheckResult(outcome);
    }
}

QCoro::Task<UpdateCheckOutcome> AppcastUpdateController::check(std::stop_token stop)
{
    QPointer<AppcastUpdateController> self(this);
    UpdateCheckOutcome outcome = co_await fetch(stop);
    if (!self || stop.stop_requested()) {
        co_return outcome;
    }
    if (deps_.defaults) {
        defaults::writeDate(*deps_.defaults, kLastCheckKey, deps_.clock->now());
    }
    lastOutcome_ = outcome;
    report(outcome.kind == UpdateCheckOutcome::Kind::newerVersion ? SparkleUpdateState::updateReady
                                                                   : SparkleUpdateState::none);
    emit checkFinished();
    co_return outcome;
}

QCoro::Task<UpdateCheckOutcome> AppcastUpdateController::fetch(std::stop_token stop)
{
    UpdateCheckOutcome outcome;
    outcome.currentVersion = deps_.currentVersion;
    if (!deps_.network || !isAllowedServiceURL(deps_.feedURL)) {
        logger_.error("Update check failed: the update feed address is not usable");
        co_return outcome;
    }
    QNetworkRequest request(deps_.feedURL);
    // A feed may move to another https address; it never moves down to plain http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setRawHeader("User-Agent", ("Quillby/" + deps_.currentVersion).toLatin1());
    HttpReply reply;
    try {
        reply = co_await sendHttpRequest(deps_.network, request, "GET", {}, deps_.timeout, stop, kMaximumFeedBytes);
    } catch (const OperationCancelledError &) {
        co_return outcome;
    } catch (const std::exception &error) {
        logger_.error(std::string("Update check failed: ") + error.what());
        co_return outcome;
    }
    if (!reply.isHttp || reply.status < 200 || reply.status > 299) {
        logger_.error("Update check failed: status " + std::to_string(reply.status));
        co_return outcome;
    }
    // Reading the feed is work on text from the network: it runs on the pool, so the main loop
    // (polling, alerts) goes on meanwhile.
    struct Read {
        bool readable = false;
        std::optional<AppcastItem> newest;
    };
    const QString currentVersion = deps_.currentVersion;
    const Read read = co_await runInThreadPool(*deps_.parsePool, [body = reply.body] {
        const auto items = appcast::parse(body);
        return items ? Read{true, appcast::newest(*items)} : Read{};
    });
    if (stop.stop_requested()) {
        co_return outcome;
    }
    if (!read.readable) {
        logger_.error("Update check failed: the update feed could not be read");
        co_return outcome;
    }
    outcome.item = read.newest;
    outcome.kind = outcome.item && appcast::compareVersions(outcome.item->version, currentVersion) > 0
                       ? UpdateCheckOutcome::Kind::newerVersion
                       : UpdateCheckOutcome::Kind::upToDate;
    co_return outcome;
}

} // namespace quillby
