#include "services/UpdateChecker.h"
#include "core/async/RunDetached.h"

#include <QLocale>
#include <QRandomGenerator>

#include <limits>

namespace quillby {

UpdateChecker::UpdateChecker(QObject *parent) : UpdateChecker(Dependencies{}, parent) {}

UpdateChecker::UpdateChecker(Dependencies dependencies, QObject *parent)
    : UpdateAvailabilityProviding(parent)
    , sparkleController_(std::move(dependencies.sparkleController))
    , alivePingService_(std::move(dependencies.alivePingService))
    , clock_(std::move(dependencies.clock))
    , sleeper_(std::move(dependencies.sleeper))
    , shortVersion_(std::move(dependencies.shortVersion))
    , buildVersion_(std::move(dependencies.buildVersion))
{
    Q_ASSERT(!alivePingService_ || (clock_ && sleeper_));
    if (!sparkleController_) {
        sparkleController_ = std::make_unique<NoOpSparkleUpdateController>();
    }
    QPointer<UpdateChecker> self(this);
    sparkleController_->updateStateDidChange = [self](SparkleUpdateState state) {
        if (self) {
            self->sparkleStateDidChange(state);
        }
    };
    sparkleController_->installStatusDidChange = [self] {
        if (self) {
            emit self->updateInstallFailureChanged();
            emit self->updateInstallSupportChanged();
        }
    };
}

UpdateChecker::~UpdateChecker()
{
    stop();
    sparkleController_->updateStateDidChange = nullptr;
    sparkleController_->installStatusDidChange = nullptr;
}

QString UpdateChecker::installedVersion() const
{
    const QString shortText = shortVersion_.isEmpty() ? QStringLiteral("Unknown") : shortVersion_;
    if (!buildVersion_.isEmpty() && buildVersion_ != shortText) {
        return shortText + QStringLiteral(" (") + buildVersion_ + QLatin1Char(')');
    }
    return shortText;
}

bool UpdateChecker::installPendingUpdate()
{
    return sparkleController_->installPendingUpdate() || sparkleController_->downloadAndInstallUpdate();
}

void UpdateChecker::checkForUpdates()
{
    sparkleController_->checkForUpdates();
}

void UpdateChecker::start()
{
    if (heartbeat_) {
        return;
    }
    sparkleController_->start();
    heartbeat_.emplace();
    if (alivePingService_) {
        runDetached(runHeartbeat(QPointer<UpdateChecker>(this), heartbeat_->get_token()));
    }
}

void UpdateChecker::stop()
{
    if (heartbeat_) {
        heartbeat_->request_stop();
        heartbeat_.reset();
    }
}

void UpdateChecker::installDownloadedUpdateNow(const QString &reason)
{
    Q_UNUSED(reason);
    if (sparkleController_->hasPendingInstallOnQuit()) {
        runDetached(sparkleController_->installPendingUpdateWithoutPrompt(true));
    }
}

QCoro::Task<void> UpdateChecker::installDownloadedUpdateBeforeQuit()
{
    if (sparkleController_->hasPendingInstallOnQuit()) {
        co_await sparkleController_->installPendingUpdateWithoutPrompt(false);
    }
}

QString UpdateChecker::heartbeatAppVersion() const
{
    return shortVersion_.isEmpty() ? QStringLiteral("0.0.0") : shortVersion_;
}

QCoro::Task<void> UpdateChecker::sendAlivePing(std::stop_token stop)
{
    QPointer<UpdateChecker> self(this);
    std::shared_ptr<AlivePingService> service = alivePingService_;
    if (!service) {
        co_return;
    }
    const AlivePingResult result = co_await service->sendIfNeeded(heartbeatAppVersion(), stop);
    if (!self || stop.stop_requested()) {
        co_return;
    }
    service->scheduleRetry(result, clock_->now());
    lastAlivePingResult_ = result;
    emit alivePingAttemptFinished();
}

// The heartbeat task: an attempt, then a sleep until the next UTC midnight or the pending retry,
// until stopped. The first attempt runs here too, so its failure schedules the retry at once.
QCoro::Task<void> UpdateChecker::runHeartbeat(QPointer<UpdateChecker> self, std::stop_token stop)
{
    while (self && !stop.stop_requested()) {
        co_await self->sendAlivePing(stop);
        if (!self || stop.stop_requested()) {
            co_return;
        }
        std::shared_ptr<Sleeper> sleeper = self->sleeper_;
        const double delay = self->alivePingService_->delayUntilNextAttempt(self->clock_->now());
        co_await sleeper->sleep(delay, stop);
    }
}

void UpdateChecker::sparkleStateDidChange(SparkleUpdateState state)
{
    currentSparkleUpdateState_ = state;
    setUpdateAvailable(state == SparkleUpdateState::updateReady);
}

void UpdateChecker::republishUpdateAvailability()
{
    setUpdateAvailable(currentSparkleUpdateState_ == SparkleUpdateState::updateReady);
}

void UpdateChecker::setUpdateAvailable(bool available)
{
    if (isUpdateAvailable_ == available) {
        return;
    }
    isUpdateAvailable_ = available;
    emit updateAvailabilityChanged(available);
}

std::uint64_t UpdateChecker::randomUInt64(std::uint64_t lower, std::uint64_t upper)
{
    if (upper < lower) {
        std::swap(lower, upper);
    }
    QRandomGenerator *generator = QRandomGenerator::system();
    if (lower == 0 && upper == std::numeric_limits<std::uint64_t>::max()) {
        return generator->generate64();
    }
    return lower + generator->bounded(static_cast<quint64>(upper - lower + 1));
}

std::optional<QString> UpdateChecker::systemLanguage()
{
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty()) {
        return std::nullopt;
    }
    return languages.constFirst();
}

} // namespace quillby
