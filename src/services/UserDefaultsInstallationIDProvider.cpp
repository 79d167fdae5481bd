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
    if (!store(made)) {
        unsaved_ = made;
    }
    return made;
}

void UserDefaultsInstallationIDProvider::resetInstallationID(const QString &rejected)
{
    const QVariant stored = defaults_->value(key_);
    if (!stored.isValid() || stored.toString() != rejected) {
        return;
    }
    const QString made = newIdentifier();
    unsaved_ = store(made) ? QString() : made;
}

bool UserDefaultsInstallationIDProvider::isInstallationIDSaved() const
{
    return unsaved_.isEmpty() || defaults_->value(key_).toString() != unsaved_;
}

bool UserDefaultsInstallationIDProvider::store(const QString &identifier)
{
    defaults_->setValue(key_, identifier);
    defaults_->sync();
    return defaults_->status() != QSettings::AccessError;
}

} // namespace quillby
