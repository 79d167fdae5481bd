#pragma once

#include "services/InstallationIDProviding.h"

#include <QSettings>

#include <memory>

namespace quillby {

// The identifier in the settings file under "QuillbyInstallationID". Main thread only.
class UserDefaultsInstallationIDProvider final : public InstallationIDProviding {
public:
    static inline const QString kDefaultKey = QStringLiteral("QuillbyInstallationID");

    UserDefaultsInstallationIDProvider(std::shared_ptr<QSettings> defaults, QString key = kDefaultKey);

    QString installationID() override;
    void resetInstallationID(const QString &rejected) override;

private:
    std::shared_ptr<QSettings> defaults_;
    QString key_;
};

} // namespace quillby
