#include "services/KeychainAliveAuthCredentialsStore.h"

#include "core/async/BackgroundTask.h"

namespace quillby {

KeychainAliveAuthCredentialsStore::KeychainAliveAuthCredentialsStore(KeychainItemStoreFactory makeItemStore,
                                                                     QString service)
    : makeItemStore_(std::move(makeItemStore)), service_(std::move(service)), pool_(std::make_unique<QThreadPool>())
{
    pool_->setMaxThreadCount(1);
}

KeychainAliveAuthCredentialsStore::~KeychainAliveAuthCredentialsStore()
{
    pool_->waitForDone();
}

std::shared_ptr<KeychainItemStoring> KeychainAliveAuthCredentialsStore::item(const QString &installationID) const
{
    return std::shared_ptr<KeychainItemStoring>(makeItemStore_(service_, kAccountPrefix + installationID));
}

QCoro::Task<std::optional<AliveAuthCredentials>>
KeychainAliveAuthCredentialsStore::loadCredentials(QString installationID)
{
    auto store = item(installationID);
    const KeychainItemReadResult result = co_await runInThreadPool(*pool_, [store] { return store->read(); });
    if (result.kind != KeychainItemReadResult::Kind::data) {
        co_return std::nullopt;
    }
    co_return AliveAuthCredentials::decode(result.bytes);
}

QCoro::Task<bool> KeychainAliveAuthCredentialsStore::saveCredentials(AliveAuthCredentials credentials)
{
    auto store = item(credentials.installationId);
    const QByteArray bytes = credentials.encode();
    const std::int32_t status = co_await runInThreadPool(*pool_, [store, bytes] { return store->write(bytes); });
    co_return status == keychain_status::success;
}

QCoro::Task<void> KeychainAliveAuthCredentialsStore::deleteCredentials(QString installationID)
{
    auto store = item(installationID);
    co_await runInThreadPool(*pool_, [store] { store->remove(); });
}

} // namespace quillby
