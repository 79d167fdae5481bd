#pragma once

#include "core/KeyringWatching.h"

#include <QString>

class QDBusServiceWatcher;

namespace quillby {

// Watches the Secret Service (org.freedesktop.secrets) on the session bus: its name gaining an
// owner (the keyring daemon started or restarted), a collection created or changed, and a change
// of a collection's properties (its "Locked" flag when it is unlocked). Each is reported as
// keyringMayHaveChanged(). The service name is injectable for tests.
class SecretServiceWatcher final : public KeyringWatching {
    Q_OBJECT
public:
    static inline const QString kDefaultService = QStringLiteral("org.freedesktop.secrets");

    explicit SecretServiceWatcher(QString service = kDefaultService, QObject *parent = nullptr);
    ~SecretServiceWatcher() override;

private slots:
    void onSecretServiceSignal();

private:
    QString service_;
    QDBusServiceWatcher *registration_ = nullptr;
};

} // namespace quillby
