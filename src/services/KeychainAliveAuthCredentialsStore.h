#pragma once

#include "core/KeychainItemStoring.h"
#include "services/AliveAuthCredentialsStoring.h"

#include <QThreadPool>

#include <memory>

namespace quillby {

// The credentials of each installation in one keyring item: service "Quillby", account
// "alive-auth-" + the full installation identifier, data the credentials JSON. Keyring calls run
// on the store's own worker thread, one at a time, and are awaited.
class KeychainAliveAuthCredentialsStore final : public AliveAuthCredentialsStoring {
public:
    static inline const QString kDefaultService = QStringLiteral("Quillby");
    static inline const QString kAccountPrefix = QStringLiteral("alive-auth-");

    explicit KeychainAliveAuthCredentialsStore(KeychainItemStoreFactory makeItemStore,
                                               QString service = kDefaultService);
    ~KeychainAliveAuthCredentialsStore() override;

    QCoro::Task<std::optional<AliveAuthCredentials>> loadCredentials(QString installationID) override;
    QCoro::Task<bool> saveCredentials(AliveAuthCredentials credentials) override;
    QCoro::Task<void> deleteCredentials(QString installationID) override;

private:
    std::shared_ptr<KeychainItemStoring> item(const QString &installationID) const;

    KeychainItemStoreFactory makeItemStore_;
    QString service_;
    std::unique_ptr<QThreadPool> pool_;
};

} // namespace quillby
