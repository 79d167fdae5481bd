#include "services/AppcastUpdateController.h"
#include "core/async/RunDetached.h"

#include "core/OperationCancelledError.h"
#include "core/UserDefaults.h"
#include "core/async/BackgroundTask.h"
#include "providers/HttpExchange.h"
#include "services/UpdateDownload.h"
#include "services/UpdatePackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    if (download_) {
        download_->request_stop();
    }
}

namespace {

// The folder the downloads go to, made private to this user; false when it cannot be.
bool makePrivateFolder(const QString &folder)
{
    if (!QDir().mkpath(folder)) {
        return false;
    }
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// A file name from a feed's version: only characters a Debian version uses.
QString downloadFileName(const QString &packageName, const QString &version, const QString &architecture)
{
    QString safe;
    for (const QChar c : version) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
                             c == QLatin1Char('+') || c == QLatin1Char('~') || c == QLatin1Char('-');
        safe += allowed ? c : QLatin1Char('_');
    }
    return packageName + QLatin1Char('_') + safe + QLatin1Char('_') + architecture + QStringLiteral(".deb");
}

struct Verdict {
    bool accepted = false;
    std::string refusal;
};

// Every check a downloaded package must pass before it may reach the installer.
Verdict checkPackage(const QString &path, const QByteArray &publicKey, const AppcastEnclosure &enclosure,
                     const QString &packageName, const QString &architecture, const QString &itemVersion,
                     const QString &currentVersion)
{
    if (!update_package::verifySignature(publicKey, enclosure.edSignature, path,
                                         AppcastUpdateController::kMaximumPackageBytes)) {
        return {false, "its signature does not match"};
    }
    const auto fields = update_package::readFields(path);
    if (!fields) {
        return {false, "it is not a Debian package"};
    }
    if (fields->name != packageName) {
        return {false, "it is the package " + fields->name.toStdString()};
    }
    if (fields->architecture != architecture && fields->architecture != QLatin1String("all")) {
        return {false, "it is built for " + fields->architecture.toStdString()};
    }
    if (appcast::compareVersions(fields->version, itemVersion) != 0) {
        return {false, "it is version " + fields->version.toStdString() + ", not the offered one"};
    }
    if (appcast::compareVersions(fields->version, currentVersion) <= 0) {
        return {false, "it is not newer than the running version"};
    }
    return {true, {}};
}

} // namespace

bool AppcastUpdateController::automaticallyDownloadsUpdates() const
{
    return deps_.defaults && deps_.defaults->value(kAutomaticallyDownloadsKey, false).toBool();
}

void AppcastUpdateController::setAutomaticallyDownloadsUpdates(bool enabled)
{
    if (deps_.defaults) {
        deps_.defaults->setValue(kAutomaticallyDownloadsKey, enabled);
    }
    if (!enabled) {
        // A download the person asked for from the menu goes on.
        if (download_ && !installAfterDownload_) {
            cancelDownload();
        }
    } else if (!pending_ && !download_ && canDownload()) {
        startDownload(*lastOutcome_->item, false);
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
    } else {
        runDetached(resolveInstallSupport());
    }
}

void AppcastUpdateController::checkForUpdates()
{
    runDetached(runUserCheck(QPointer<AppcastUpdateController>(this), stop_.get_token()));
}

QCoro::Task<void> AppcastUpdateController::runSchedule(QPointer<AppcastUpdateController> self, std::stop_token stop)
{
    if (self) {
        co_await self->resolveInstallSupport();
    }
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
    co_await self->resolveInstallSupport();
    if (!self || stop.stop_requested()) {
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
    // canDownload() reads the outcome just stored.
    outcome.installable = canDownload() || (pending_ && outcome.item && pending_->version == outcome.item->version);
    lastOutcome_->installable = outcome.installable;
    report(outcome.kind == UpdateCheckOutcome::Kind::newerVersion ? SparkleUpdateState::updateReady
                                                                   : SparkleUpdateState::none);
    afterCheck(outcome);
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

// --- Download, checks and install ---

QCoro::Task<UpdateInstallSupport> AppcastUpdateController::resolveInstallSupport()
{
    QPointer<AppcastUpdateController> self(this);
    if (support_ != UpdateInstallSupport::checking) {
        co_return support_;
    }
    UpdateInstallSupport support = UpdateInstallSupport::installs;
    if (deps_.publicKey.size() != 32 || deps_.packageName.isEmpty() || deps_.architecture.isEmpty() ||
        deps_.downloadFolder.isEmpty() || !deps_.network) {
        support = UpdateInstallSupport::notSigned;
    } else {
        auto owner = deps_.owningPackage ? deps_.owningPackage
                                         : std::function<std::optional<QString>(const QString &)>(
                                               &update_package::owningPackage);
        const std::optional<QString> package =
            co_await runInThreadPool(*deps_.parsePool, [owner, path = deps_.executablePath] { return owner(path); });
        if (!self) {
            co_return UpdateInstallSupport::checking;
        }
        if (package != deps_.packageName) {
            support = UpdateInstallSupport::notFromPackage;
        } else {
            std::shared_ptr<PackageKitClient> packageKit = deps_.packageKit;
            const bool available = packageKit && co_await packageKit->isAvailable();
            if (!self) {
                co_return UpdateInstallSupport::checking;
            }
            support = available ? UpdateInstallSupport::installs : UpdateInstallSupport::noPackageKit;
        }
    }
    if (support_ == UpdateInstallSupport::checking) {
        support_ = support;
        if (installStatusDidChange) {
            installStatusDidChange();
        }
    }
    co_return support_;
}

void AppcastUpdateController::afterCheck(const UpdateCheckOutcome &outcome)
{
    if (outcome.kind != UpdateCheckOutcome::Kind::newerVersion || !outcome.item) {
        cancelDownload();
        dropPending();
        return;
    }
    const QString version = outcome.item->version;
    if (pending_ && pending_->version != version) {
        dropPending();
    }
    if (download_ && downloadingVersion_ != version) {
        cancelDownload();
    }
    if (!pending_ && !download_ && automaticallyDownloadsUpdates() && canDownload()) {
        startDownload(*outcome.item, false);
    }
}

bool AppcastUpdateController::canDownload() const
{
    if (support_ != UpdateInstallSupport::installs || installing_ || !lastOutcome_ ||
        lastOutcome_->kind != UpdateCheckOutcome::Kind::newerVersion || !lastOutcome_->item) {
        return false;
    }
    const auto enclosure = appcast::enclosureFor(*lastOutcome_->item, deps_.architecture);
    return enclosure && enclosure->length >= 0 && enclosure->edSignature.size() == 64;
}

void AppcastUpdateController::startDownload(const AppcastItem &item, bool installAfterwards)
{
    cancelDownload();
    download_.emplace();
    downloadingVersion_ = item.version;
    installAfterDownload_ = installAfterwards;
    runDetached(runDownload(QPointer<AppcastUpdateController>(this), item, download_->get_token()));
}

void AppcastUpdateController::cancelDownload()
{
    if (download_) {
        download_->request_stop();
        download_.reset();
        downloadingVersion_.clear();
        installAfterDownload_ = false;
    }
}

void AppcastUpdateController::dropPending()
{
    if (pending_) {
        QFile::remove(pending_->path);
        pending_.reset();
    }
    setInstallFailure({});
}

void AppcastUpdateController::setInstallFailure(const QString &failure)
{
    if (installFailure_ == failure) {
        return;
    }
    installFailure_ = failure;
    if (installStatusDidChange) {
        installStatusDidChange();
    }
}

QCoro::Task<void> AppcastUpdateController::runDownload(QPointer<AppcastUpdateController> self, AppcastItem item,
                                                       std::stop_token stop)
{
    const std::optional<AppcastEnclosure> enclosure = appcast::enclosureFor(item, self->deps_.architecture);
    const Dependencies &d = self->deps_;
    const QString folder = d.downloadFolder;
    const QString path = QDir(folder).filePath(downloadFileName(d.packageName, item.version, d.architecture));
    QThreadPool *pool = d.parsePool;
    const auto finish = [&self, &stop](bool pending) {
        if (self && !stop.stop_requested()) {
            self->download_.reset();
            self->downloadingVersion_.clear();
            emit self->downloadFinished(pending);
        }
    };

    const bool ready = co_await runInThreadPool(*pool, [folder] { return makePrivateFolder(folder); });
    if (!self || stop.stop_requested()) {
        co_return;
    }
    if (!ready) {
        self->logger_.error("Update download failed: the download folder could not be made");
        finish(false);
        co_return;
    }
    UpdateDownloadLimits limits;
    limits.expectedBytes = enclosure->length;
    limits.maximumBytes = kMaximumPackageBytes;
    limits.stallTimeout = d.downloadStallTimeout;
    const UpdateDownloadResult result = co_await downloadFile(
        d.network, enclosure->url, path, limits, ("Quillby/" + d.currentVersion).toLatin1(), stop);
    if (!self || stop.stop_requested()) {
        if (result.kind == UpdateDownloadResult::Kind::complete) {
            QFile::remove(path);
        }
        co_return;
    }
    if (result.kind != UpdateDownloadResult::Kind::complete) {
        self->logger_.error("Update download failed: " + result.failure.toStdString());
        finish(false);
        co_return;
    }

    const Verdict verdict = co_await runInThreadPool(
        *pool, [path, key = d.publicKey, enclosure = *enclosure, name = d.packageName, architecture = d.architecture,
                version = item.version, current = d.currentVersion] {
            Verdict checked = checkPackage(path, key, enclosure, name, architecture, version, current);
            if (!checked.accepted) {
                QFile::remove(path);
            }
            return checked;
        });
    if (!self || stop.stop_requested()) {
        QFile::remove(path);
        co_return;
    }
    if (!verdict.accepted) {
        self->logger_.error("Update package refused and deleted: " + verdict.refusal);
        finish(false);
        co_return;
    }
    const bool installNow = self->installAfterDownload_;
    self->installAfterDownload_ = false;
    self->pending_ = PendingInstall{path, item.version};
    finish(true);
    self->report(SparkleUpdateState::updateReady);
    if (installNow && self) {
        self->installPendingUpdate();
    }
}

bool AppcastUpdateController::installPendingUpdate()
{
    if (!pending_ || installing_) {
        return false;
    }
    const PendingInstall install = *pending_;
    pending_.reset();
    runDetached(runInstall(QPointer<AppcastUpdateController>(this), install, true, true));
    return true;
}

bool AppcastUpdateController::downloadAndInstallUpdate()
{
    if (installing_) {
        return true;   // already on its way
    }
    if (download_) {
        installAfterDownload_ = true;
        return true;
    }
    if (!canDownload()) {
        return false;
    }
    startDownload(*lastOutcome_->item, true);
    return true;
}

QCoro::Task<bool> AppcastUpdateController::installPendingUpdateWithoutPrompt(bool relaunch)
{
    QPointer<AppcastUpdateController> self(this);
    if (!pending_ || installing_ || !deps_.packageKit) {
        co_return false;
    }
    std::shared_ptr<PackageKitClient> packageKit = deps_.packageKit;
    const PackageKitAuthorization authorization =
        co_await packageKit->canAuthorize(PackageKitClient::kInstallUntrustedAction);
    if (!self || !pending_ || installing_) {
        co_return false;
    }
    if (authorization != PackageKitAuthorization::yes) {
        // A password prompt would wait for someone who may be walking away: the update waits
        // for the menu.
        co_return false;
    }
    const PendingInstall install = *pending_;
    pending_.reset();
    co_return co_await runInstall(self, install, false, relaunch);
}

QCoro::Task<bool> AppcastUpdateController::runInstall(QPointer<AppcastUpdateController> self, PendingInstall install,
                                                      bool interactive, bool relaunch)
{
    self->installing_ = true;
    std::shared_ptr<PackageKitClient> packageKit = self->deps_.packageKit;
    const PackageKitInstallResult result =
        packageKit ? co_await packageKit->installFile(install.path, interactive, self->deps_.installTimeout,
                                                      self->stop_.get_token())
                   : PackageKitInstallResult{false, QStringLiteral("PackageKit is not available")};
    if (!self) {
        co_return result.succeeded;
    }
    self->installing_ = false;
    if (result.succeeded) {
        QFile::remove(install.path);
        self->setInstallFailure({});
        self->lastOutcome_.reset();
        self->report(SparkleUpdateState::none);
        emit self->installFinished(true);
        if (relaunch && self && self->deps_.relaunch) {
            self->deps_.relaunch();
        }
        co_return true;
    }
    self->logger_.error("Update install failed: " + result.failure.toStdString());
    if (!self->pending_) {
        self->pending_ = install;
    } else {
        QFile::remove(install.path);
    }
    self->setInstallFailure(result.failure);
    self->report(SparkleUpdateState::updateReady);
    emit self->installFinished(false);
    co_return false;
}

} // namespace quillby
