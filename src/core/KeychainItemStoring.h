#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace quillby {

// Status values of keyring operations. 0 is success; the others are our own codes for the
// failures the system keyring reports (locked, denied, unavailable, timed out, ...).
namespace keychain_status {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t itemNotFound = -25300;
inline constexpr std::int32_t decode = -26275;
} // namespace keychain_status

struct KeychainItemReadResult {
    enum class Kind { data, status, notFound };
    Kind kind = Kind::notFound;
    QByteArray bytes;            // when kind == data
    std::int32_t status = 0;     // when kind == status

    static KeychainItemReadResult found(QByteArray bytes) { return {Kind::data, std::move(bytes), 0}; }
    static KeychainItemReadResult failed(std::int32_t status) { return {Kind::status, {}, status}; }
    static KeychainItemReadResult missing() { return {Kind::notFound, {}, 0}; }
};

// Read, write and delete of one secret item named by service and account. The calls block the
// calling thread until the keyring answers or a time-out passes, so they are made from worker
// threads (the configuration store and the history store run them off the main thread).
// None of them throws.
class KeychainItemStoring {
public:
    virtual ~KeychainItemStoring() = default;
    virtual QString service() const = 0;
    virtual QString account() const = 0;
    virtual KeychainItemReadResult read() = 0;
    virtual std::int32_t write(const QByteArray &bytes) = 0;
    virtual std::int32_t remove() = 0;   // deleting a missing item succeeds
};

// Makes the store for one item; the real one goes to the system keyring, tests pass a fake.
using KeychainItemStoreFactory =
    std::function<std::unique_ptr<KeychainItemStoring>(const QString &service, const QString &account)>;

} // namespace quillby
