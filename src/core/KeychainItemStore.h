#pragma once

#include "core/KeychainItemStoring.h"

#include <chrono>

namespace quillby {

// One secret item of the system keyring, named by service and account. Every call is
// synchronous: the QtKeychain job runs on the process's keyring thread (one job at a time,
// insecure fallback off) while the calling thread waits, at most `timeout`. Call it from a
// worker thread, never from the main thread. A locked, missing or unavailable keyring comes
// back as a status, never as a missing item and never as a hang.
class KeychainItemStore final : public KeychainItemStoring {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{15000};

    KeychainItemStore(QString service, QString account, std::chrono::milliseconds timeout = kDefaultTimeout);

    QString service() const override { return service_; }
    QString account() const override { return account_; }
    KeychainItemReadResult read() override;
    std::int32_t write(const QByteArray &bytes) override;   // replaces or creates the item
    std::int32_t remove() override;                          // a missing item is success

    // The factory for the real keyring.
    static KeychainItemStoreFactory factory(std::chrono::milliseconds timeout = kDefaultTimeout);

private:
    QString service_;
    QString account_;
    std::chrono::milliseconds timeout_;
};

} // namespace quillby
