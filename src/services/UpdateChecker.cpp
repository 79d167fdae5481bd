#include "services/UpdateChecker.h"

#include <QCoreApplication>

namespace quillby {

UpdateChecker::UpdateChecker(std::unique_ptr<SparkleUpdateControlling> controller, QObject *parent)
    : UpdateAvailabilityProviding(parent)
    , controller_(std::move(controller))
{
}

UpdateChecker &UpdateChecker::shared()
{
    static auto *checker = new UpdateChecker();
    return *checker;
}

QString UpdateChecker::installedVersion() const
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("Unknown") : version;
}

bool UpdateChecker::installPendingUpdate()
{
    const bool installed = controller_->installPendingUpdate();
    if (installed && isUpdateAvailable_) {
        isUpdateAvailable_ = false;
        emit updateAvailabilityChanged(false);
    }
    return installed;
}

void UpdateChecker::checkForUpdates()
{
    controller_->checkForUpdates();
}

void UpdateChecker::start()
{
    if (started_) {
        return;
    }
    started_ = true;
    controller_->start();
}

void UpdateChecker::stop()
{
    started_ = false;
}

void UpdateChecker::installDownloadedUpdateNow(const QString &reason)
{
    Q_UNUSED(reason);
    installPendingUpdate();
}

} // namespace quillby
