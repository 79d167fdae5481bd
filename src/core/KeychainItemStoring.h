#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quillby {

// Status values of keyring operations. 0 is success; the others are our own codes for the
// failures the system keyring (QtKeychain over the Secret Service) reports. They follow the
// numbering of the classic keychain status codes; -25300 "item not found" is never surfaced
// from a read (that is KeychainItemReadResult::missing()).
//
//   QKeychain::AccessDeniedByUser   -> userCanceled   (-128)
//   QKeychain::AccessDenied         -> authFailed     (-25293)  (also a locked keyring whose
//                                                               unlock prompt could not be shown)
//   QKeychain::NoBackendAvailable   -> notAvailable   (-25291)  (no Secret Service / no session bus)
//   QKeychain::NotImplemented       -> unimplemented  (-4)
//   QKeychain::CouldNotDeleteEntry  -> couldNotDelete (-25244)
//   QKeychain::OtherError           -> internalError  (-2070)
//   the item exists in a locked collection (libsecret reports such an item as missing, and a
//   delete of it as done)           -> locked         (-25308)
//   no answer within the time-out   -> timedOut       (-25309)  (typically a locked keyring
//                                                               waiting on an unlock prompt)
namespace keychain_status {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t itemNotFound = -25300;
inline constexpr std::int32_t decode = -26275;
inline constexpr std::int32_t userCanceled = -128;
inline constexpr std::int32_t authFailed = -25293;
inline constexpr std::int32_t notAvailable = -25291;
inline constexpr std::int32_t unimplemented = -4;
inline constexpr std::int32_t couldNotDelete = -25244;
inline constexpr std::int32_t internalError = -2070;
inline constexpr std::int32_t locked = -25308;
inline constexpr std::int32_t timedOut = -25309;

// What a status means, in words a person can act on ("the keyring is locked"). Statuses that
// are none of ours read as "unexpected status N".
inline std::string description(std::int32_t status)
{
    switch (status) {
    case success:
        return "no error";
    case itemNotFound:
        return "the item is missing";
    case decode:
        return "the stored item could not be read";
    case userCanceled:
        return "access was cancelled";
    case authFailed:
        return "access to the keyring was denied";
    case notAvailable:
        return "no keyring service is available";
    case unimplemented:
        return "the keyring does not support this";
    case couldNotDelete:
        return "the item could not be deleted";
    case internalError:
        return "the keyring reported an internal error";
    case locked:
        return "the keyring is locked";
    case timedOut:
        return "the keyring did not answer in time";
    default:
        return "unexpected status " + std::to_string(status);
    }
}

// Whether a failed read may succeed later with nothing changed about the item: the keyring is
// locked, its unlock prompt was dismissed or timed out, or its service is not there (yet, or
// while it restarts). The other failures (a damaged item, an unsupported call) stay as they are.
inline bool mayPass(std::int32_t status)
{
    switch (status) {
    case locked:
    case timedOut:
    case userCanceled:
    case authFailed:
    case notAvailable:
    case internalError:
        return true;
    default:
        return false;
    }
}
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
