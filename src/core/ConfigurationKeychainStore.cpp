#include "core/ConfigurationKeychainStore.h"

#include "core/async/BackgroundTask.h"
#include "core/OperationCancelledError.h"

namespace quillby {

ConfigurationKeychainStore::ConfigurationKeychainStore(std::shared_ptr<KeychainItemStoring> itemStore)
    : itemStore_(std::move(itemStore)), pool_(std::make_unique<QThreadPool>())
{
    // One worker: keyring calls run one at a time, in the order they were made.
    pool_->setMaxThreadCount(1);
}

ConfigurationKeychainStore::~ConfigurationKeychainStore()
{
    pool_->waitForDone();
}

QCoro::Task<ConfigurationKeychainStore::LoadOutcome> ConfigurationKeychainStore::load()
{
    std::shared_ptr<KeychainItemStoring> itemStore = itemStore_;
    const KeychainItemReadResult result = co_await runInThreadPool(*pool_, [itemStore] { return itemStore->read(); });
    switch (result.kind) {
    case KeychainItemReadResult::Kind::notFound:
        co_return LoadOutcome::notFound();
    case KeychainItemReadResult::Kind::status:
        co_return LoadOutcome::failure("keychain read failed (status " + std::to_string(result.status) + ")",
                                       result.status);
    case KeychainItemReadResult::Kind::data:
        break;
    }
    try {
        co_return LoadOutcome::found(AppConfiguration::decode(result.bytes.toStdString()));
    } catch (const ConfigurationDecodeError &error) {
        // The kind of fault only: the error holds no stored text.
        co_return LoadOutcome::failure(std::string("stored configuration could not be decoded: ") + error.what());
    }
}

QCoro::Task<void> ConfigurationKeychainStore::save(AppConfiguration configuration, std::stop_token stop)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
    const std::string encoded = configuration.encode();
    std::shared_ptr<KeychainItemStoring> itemStore = itemStore_;
    const QByteArray bytes = QByteArray::fromStdString(encoded);
    const std::int32_t status = co_await runInThreadPool(*pool_, [itemStore, bytes] { return itemStore->write(bytes); });
    if (status != keychain_status::success) {
        throw ConfigurationError::keychainError(status);
    }
}

} // namespace quillby
