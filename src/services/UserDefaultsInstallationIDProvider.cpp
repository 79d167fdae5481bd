#include "services/UserDefaultsInstallationIDProvider.h"

#include <QUuid>

namespace quillby {

namespace {
QString newIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
} // namespace

UserDefaultsInstallationIDProvider::UserDefaultsInstallationIDProvider(std::shared_ptr<QSettings> defaults, QString key)
    : defaults_(std::move(defaults)), key_(std::move(key))
{
}

QString UserDefaultsInstallationIDProvider::installationID()
{
    const QVariant stored = defaults_->value(key_);
    if (stored.isValid() && !stored.toString().isEmpty()) {
        return stored.toString();
    }
    const QString made = newIdentifier();
    defaults_->setValue(key_, made);
    defaults_->sync();
    return made;
}

void UserDefaultsInstallationIDProvider::resetInstallationID(const QString &rejected)
{
    const QVariant stored = defaults_->value(key_);
    if (!stored.isValid() || stored.toString() != rejected) {
        return;
    }
    defaults_->setValue(key_, newIdentifier());
    defaults_->sync();
}

} // namespace quillby
