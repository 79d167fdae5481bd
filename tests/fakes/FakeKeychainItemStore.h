#pragma once

#include "core/KeychainItemStoring.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace quillby::test {

// In-memory stand-in for the system keyring: items by (service, account). Thread-safe, since
// the real callers use their stores from worker threads. Failures can be injected per
// operation, persistently or for the next calls only, and every call is counted.
class FakeKeyring {
private:
    template <typename F>
    auto locked(F f) const -> decltype(f())
    {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    using Key = std::pair<QString, QString>;

    std::optional<QByteArray> item(const QString &service, const QString &account) const
    {
        std::lock_guard lock(mutex_);
        const auto found = items_.find({service, account});
        if (found == items_.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    void setItem(const QString &service, const QString &account, const QByteArray &bytes)
    {
        std::lock_guard lock(mutex_);
        items_[{service, account}] = bytes;
    }
    void removeItem(const QString &service, const QString &account)
    {
        std::lock_guard lock(mutex_);
        items_.erase({service, account});
    }
    std::size_t itemCount() const
    {
        std::lock_guard lock(mutex_);
        return items_.size();
    }

    // Every later call of that kind returns `status` (nullopt: behave normally again).
    void setReadFailure(std::optional<std::int32_t> status) { locked([&] { readFailure_ = status; }); }
    void setWriteFailure(std::optional<std::int32_t> status) { locked([&] { writeFailure_ = status; }); }
    void setRemoveFailure(std::optional<std::int32_t> status) { locked([&] { removeFailure_ = status; }); }
    // Only the next call of that kind returns `status`; calls queue up in order, and a queued
    // 0 lets that call behave normally (so a script can fail the second write only).
    void failNextRead(std::int32_t status) { locked([&] { nextReadFailures_.push_back(status); }); }
    void failNextWrite(std::int32_t status) { locked([&] { nextWriteFailures_.push_back(status); }); }
    void failNextRemove(std::int32_t status) { locked([&] { nextRemoveFailures_.push_back(status); }); }

    // The next write stores its bytes and yet reports `status`: a job whose caller stopped
    // waiting (timedOut) that the keyring finishes anyway.
    void landNextWriteButReport(std::int32_t status) { locked([&] { lateWrites_.push_back(status); }); }

    // Runs inside write (on the caller's thread) before the bytes are stored.
    void setBeforeWrite(std::function<void(const QByteArray &)> hook) { locked([&] { beforeWrite_ = std::move(hook); }); }
    // Runs inside read (on the caller's thread) before anything is read.
    void setBeforeRead(std::function<void()> hook) { locked([&] { beforeRead_ = std::move(hook); }); }

    int readCount() const { return locked([&] { return reads_; }); }
    int writeCount() const { return locked([&] { return writes_; }); }
    int removeCount() const { return locked([&] { return removes_; }); }

    KeychainItemReadResult read(const QString &service, const QString &account)
    {
        if (const std::function<void()> hook = locked([&] { return beforeRead_; })) {
            hook();
        }
        std::lock_guard lock(mutex_);
        ++reads_;
        if (const auto status = takeFailure(nextReadFailures_, readFailure_)) {
            return KeychainItemReadResult::failed(*status);
        }
        const auto found = items_.find({service, account});
        if (found == items_.end()) {
            return KeychainItemReadResult::missing();
        }
        return KeychainItemReadResult::found(found->second);
    }

    std::int32_t write(const QString &service, const QString &account, const QByteArray &bytes)
    {
        std::function<void(const QByteArray &)> hook;
        {
            std::lock_guard lock(mutex_);
            ++writes_;
            if (const auto status = takeFailure(nextWriteFailures_, writeFailure_)) {
                return *status;
            }
            hook = beforeWrite_;
        }
        if (hook) {
            hook(bytes);
        }
        std::lock_guard lock(mutex_);
        items_[{service, account}] = bytes;
        if (!lateWrites_.empty()) {
            const std::int32_t reported = lateWrites_.front();
            lateWrites_.pop_front();
            return reported;
        }
        return keychain_status::success;
    }

    std::int32_t remove(const QString &service, const QString &account)
    {
        std::lock_guard lock(mutex_);
        ++removes_;
        if (const auto status = takeFailure(nextRemoveFailures_, removeFailure_)) {
            return *status;
        }
        items_.erase({service, account});
        return keychain_status::success;
    }

    // Stores over `keyring`, for code that makes one store per item.
    static KeychainItemStoreFactory factory(std::shared_ptr<FakeKeyring> keyring);

private:
    static std::optional<std::int32_t> takeFailure(std::deque<std::int32_t> &next,
                                                   const std::optional<std::int32_t> &persistent)
    {
        if (!next.empty()) {
            const std::int32_t status = next.front();
            next.pop_front();
            if (status == keychain_status::success) {
                return std::nullopt;
            }
            return status;
        }
        return persistent;
    }

    mutable std::mutex mutex_;
    std::map<Key, QByteArray> items_;
    std::optional<std::int32_t> readFailure_, writeFailure_, removeFailure_;
    std::deque<std::int32_t> nextReadFailures_, nextWriteFailures_, nextRemoveFailures_, lateWrites_;
    std::function<void(const QByteArray &)> beforeWrite_;
    std::function<void()> beforeRead_;
    int reads_ = 0;
    int writes_ = 0;
    int removes_ = 0;
};

// One item of a FakeKeyring. Made alone it gets a keyring of its own; the failure, counting
// and content helpers of the keyring are forwarded for the common one-item case.
class FakeKeychainItemStore final : public KeychainItemStoring {
public:
    explicit FakeKeychainItemStore(QString service = QStringLiteral("Quillby"),
                                   QString account = QStringLiteral("configuration"),
                                   std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>())
        : service_(std::move(service)), account_(std::move(account)), keyring_(std::move(keyring))
    {
    }

    QString service() const override { return service_; }
    QString account() const override { return account_; }
    KeychainItemReadResult read() override { return keyring_->read(service_, account_); }
    std::int32_t write(const QByteArray &bytes) override { return keyring_->write(service_, account_, bytes); }
    std::int32_t remove() override { return keyring_->remove(service_, account_); }

    FakeKeyring &keyring() const { return *keyring_; }
    std::optional<QByteArray> storedBytes() const { return keyring_->item(service_, account_); }
    void setStoredBytes(const QByteArray &bytes) { keyring_->setItem(service_, account_, bytes); }
    int readCount() const { return keyring_->readCount(); }
    int writeCount() const { return keyring_->writeCount(); }
    int removeCount() const { return keyring_->removeCount(); }
    void setReadFailure(std::optional<std::int32_t> status) { keyring_->setReadFailure(status); }
    void setWriteFailure(std::optional<std::int32_t> status) { keyring_->setWriteFailure(status); }
    void setRemoveFailure(std::optional<std::int32_t> status) { keyring_->setRemoveFailure(status); }
    void failNextRead(std::int32_t status) { keyring_->failNextRead(status); }
    void failNextWrite(std::int32_t status) { keyring_->failNextWrite(status); }
    void failNextRemove(std::int32_t status) { keyring_->failNextRemove(status); }
    void landNextWriteButReport(std::int32_t status) { keyring_->landNextWriteButReport(status); }

private:
    QString service_;
    QString account_;
    std::shared_ptr<FakeKeyring> keyring_;
};

inline KeychainItemStoreFactory FakeKeyring::factory(std::shared_ptr<FakeKeyring> keyring)
{
    return [keyring](const QString &service, const QString &account) -> std::unique_ptr<KeychainItemStoring> {
        return std::make_unique<FakeKeychainItemStore>(service, account, keyring);
    };
}

} // namespace quillby::test
