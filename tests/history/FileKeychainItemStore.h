#pragma once

#include "core/KeychainItemStoring.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <filesystem>
#include <system_error>

namespace quillby::test {

// A keyring item kept in a file, so that separate processes (the crash test and its writer)
// share it. Writes are atomic, like the real keyring's.
class FileKeychainItemStore final : public KeychainItemStoring {
public:
    FileKeychainItemStore(std::filesystem::path folder, QString account)
        : file_(std::move(folder) / account.toStdString()), account_(std::move(account))
    {
    }
    QString service() const override { return QStringLiteral("Quillby.history"); }
    QString account() const override { return account_; }
    KeychainItemReadResult read() override
    {
        std::error_code error;
        if (!std::filesystem::exists(file_, error)) {
            return KeychainItemReadResult::missing();
        }
        try {
            return KeychainItemReadResult::found(readHistoryFile(file_));
        } catch (...) {
            return KeychainItemReadResult::failed(keychain_status::internalError);
        }
    }
    std::int32_t write(const QByteArray &bytes) override
    {
        try {
            LocalGlucoseHistoryFileAccess().writeAtomically(bytes, file_);
            return keychain_status::success;
        } catch (...) {
            return keychain_status::internalError;
        }
    }
    std::int32_t remove() override
    {
        std::error_code error;
        std::filesystem::remove(file_, error);
        return error ? keychain_status::internalError : keychain_status::success;
    }

private:
    std::filesystem::path file_;
    QString account_;
};

} // namespace quillby::test
