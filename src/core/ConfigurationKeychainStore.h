#pragma once

#include "core/AppConfiguration.h"
#include "core/KeychainItemStoring.h"

#include <QThreadPool>

#include <QCoroTask>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

// Reads and writes the configuration JSON in its keyring item. Every keyring call runs on the
// store's own single worker thread, in the order the calls were made, and is awaited: the
// awaiting (main) thread never blocks.
class ConfigurationKeychainStore {
public:
    struct LoadOutcome {
        enum class Kind { found, failure, notFound };
        Kind kind = Kind::notFound;
        AppConfiguration configuration;   // when found
        std::string failureText;          // when failure: a line for the log
        // When failure: the keyring's status when the item could not be read (none when it was
        // read but could not be decoded).
        std::optional<std::int32_t> keychainStatus;

        static LoadOutcome found(AppConfiguration c) { return {Kind::found, std::move(c), {}, {}}; }
        static LoadOutcome failure(std::string text, std::optional<std::int32_t> status = std::nullopt)
        {
            return {Kind::failure, {}, std::move(text), status};
        }
        static LoadOutcome notFound() { return {Kind::notFound, {}, {}, {}}; }
    };

    // The configuration item: service "Quillby", account "configuration".
    static inline const char *const kService = "Quillby";
    static inline const char *const kAccount = "configuration";

    explicit ConfigurationKeychainStore(std::shared_ptr<KeychainItemStoring> itemStore);
    ~ConfigurationKeychainStore();

    // found / failure ("keychain read failed (status N)" or "stored configuration could not
    // be decoded: <kind of fault>", never the decoder's message, which quotes the stored text) /
    // notFound. Never throws.
    QCoro::Task<LoadOutcome> load();

    // Throws OperationCancelledError when stop was requested before encoding,
    // ConfigurationError::invalidConfiguration when the record cannot be encoded and
    // ConfigurationError::keychainError(status) when the write fails.
    QCoro::Task<void> save(AppConfiguration configuration, std::stop_token stop = {});

private:
    std::shared_ptr<KeychainItemStoring> itemStore_;
    std::unique_ptr<QThreadPool> pool_;
};

} // namespace quillby
