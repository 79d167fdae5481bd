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
    bool isInstallationIDSaved() const override;

private:
    // Stores `identifier`; false when the settings file could not be written.
    bool store(const QString &identifier);

    std::shared_ptr<QSettings> defaults_;
    QString key_;
    QString unsaved_;   // made in this run and not saved: kept so this run uses one identifier
};

} // namespace quillby
