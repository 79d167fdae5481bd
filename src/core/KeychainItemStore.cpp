#include "core/KeychainItemStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace quillby {

namespace {

// One keyring operation handed from a calling thread to the keyring thread.
struct KeyringRequest {
    enum class Operation { read, write, remove };
    Operation operation = Operation::read;
    QString service;
    QString account;
    QByteArray bytes;   // to write

    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool abandoned = false;   // the caller stopped waiting; do not start it any more
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;          // read result
    std::int32_t overrideStatus = 0;   // set when the Secret Service shows the item locked
};

// What the Secret Service holds for one item: how many matching items are unlocked and how
// many locked. libsecret reports a locked item it could not unlock as "not found", and
// "deleted" when it could not touch it, so both answers are checked here. Nothing when the
// Secret Service cannot be asked (another backend, no daemon): then QtKeychain's answer stands.
struct SecretServiceItems {
    int unlocked = 0;
    int locked = 0;
};

using SecretAttributes = QMap<QString, QString>;

std::optional<SecretServiceItems> secretServiceItems(const QString &service, const QString &account)
{
    static const bool registered = [] {
        qDBusRegisterMetaType<SecretAttributes>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        return true;
    }();
    (void)registered;
    QDBusMessage search = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    // The attributes QtKeychain's libsecret backend gives its items.
    SecretAttributes attributes;
    attributes.insert(QStringLiteral("server"), service);
    attributes.insert(QStringLiteral("user"), account);
    search << QVariant::fromValue(attributes);
    // Only ask a keyring that is already running; never start one just to check.
    search.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        return std::nullopt;
    }
    const auto count = [](const QVariant &value) {
        return static_cast<int>(qdbus_cast<QList<QDBusObjectPath>>(value).size());
    };
    return SecretServiceItems{count(reply.arguments().at(0)), count(reply.arguments().at(1))};
}

// Lives on the keyring thread. QtKeychain's job executor is not thread-safe and runs one job
// at a time, so every job is created, started and finished here, one after another. A job
// whose caller has timed out still runs to its end on this thread's event loop and deletes
// itself; requests abandoned before their turn are never started.
class KeyringWorker : public QObject {
public:
    void enqueue(std::shared_ptr<KeyringRequest> request)
    {
        queue_.push_back(std::move(request));
        startNext();
    }

private:
    void startNext()
    {
        while (!running_ && !queue_.empty()) {
            std::shared_ptr<KeyringRequest> request = std::move(queue_.front());
            queue_.pop_front();
            {
                std::lock_guard lock(request->mutex);
                if (request->abandoned) {
                    continue;
                }
            }
            start(std::move(request));
        }
    }

    void start(std::shared_ptr<KeyringRequest> request)
    {
        QKeychain::Job *job = nullptr;
        switch (request->operation) {
        case KeyringRequest::Operation::read:
            job = new QKeychain::ReadPasswordJob(request->service);
            break;
        case KeyringRequest::Operation::write: {
            auto *write = new QKeychain::WritePasswordJob(request->service);
            write->setBinaryData(request->bytes);
            job = write;
            break;
        }
        case KeyringRequest::Operation::remove:
            job = new QKeychain::DeletePasswordJob(request->service);
            break;
        }
        job->setKey(request->account);
        job->setInsecureFallback(false);
        job->setAutoDelete(true);
        running_ = true;
        QObject::connect(job, &QKeychain::Job::finished, this, [this, request](QKeychain::Job *finished) {
            const QKeychain::Error error = finished->error();
            QByteArray data;
            if (request->operation == KeyringRequest::Operation::read) {
                data = static_cast<QKeychain::ReadPasswordJob *>(finished)->binaryData();
            }
            const std::int32_t overrideStatus = confirmedStatus(*request, error);
            {
                std::lock_guard lock(request->mutex);
                request->error = error;
                request->data = std::move(data);
                request->overrideStatus = overrideStatus;
                request->done = true;
            }
            request->answered.notify_all();
            running_ = false;
            startNext();
        });
        job->start();
    }

    // A "missing" read or a successful delete is only believed when no locked item matches.
    static std::int32_t confirmedStatus(const KeyringRequest &request, QKeychain::Error error)
    {
        const bool missingRead = request.operation == KeyringRequest::Operation::read && error == QKeychain::EntryNotFound;
        const bool removed = request.operation == KeyringRequest::Operation::remove &&
                             (error == QKeychain::NoError || error == QKeychain::EntryNotFound);
        if (!missingRead && !removed) {
            return keychain_status::success;
        }
        const auto items = secretServiceItems(request.service, request.account);
        if (!items) {
            return keychain_status::success;
        }
        if (items->locked > 0) {
            return keychain_status::locked;
        }
        if (removed && items->unlocked > 0) {
            return keychain_status::couldNotDelete;
        }
        return keychain_status::success;
    }

    std::deque<std::shared_ptr<KeyringRequest>> queue_;
    bool running_ = false;
};

struct KeyringThread {
    QThread *thread = nullptr;
    KeyringWorker *worker = nullptr;
};

KeyringThread *keyringThread()
{
    static KeyringThread *instance = [] {
        auto *created = new KeyringThread;
        created->thread = new QThread;
        created->thread->setObjectName(QStringLiteral("QuillbyKeyring"));
        // First use is usually on a pool thread that may end; the thread object belongs to
        // the main thread.
        if (QCoreApplication *application = QCoreApplication::instance()) {
            created->thread->moveToThread(application->thread());
        }
        created->worker = new KeyringWorker;
        created->worker->moveToThread(created->thread);
        QObject::connect(created->thread, &QThread::finished, created->worker, &QObject::deleteLater);
        created->thread->start();
        // Stop the thread while the application object still exists. A thread that does not
        // stop in time is left to the end of the process rather than destroyed while running.
        qAddPostRoutine([] {
            KeyringThread *running = keyringThread();
            running->thread->quit();
            running->thread->wait(3000);
        });
        return created;
    }();
    return instance;
}

std::int32_t statusFor(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError:
        return keychain_status::success;
    case QKeychain::EntryNotFound:
        return keychain_status::itemNotFound;
    case QKeychain::CouldNotDeleteEntry:
        return keychain_status::couldNotDelete;
    case QKeychain::AccessDeniedByUser:
        return keychain_status::userCanceled;
    case QKeychain::AccessDenied:
        return keychain_status::authFailed;
    case QKeychain::NoBackendAvailable:
        return keychain_status::notAvailable;
    case QKeychain::NotImplemented:
        return keychain_status::unimplemented;
    case QKeychain::OtherError:
        return keychain_status::internalError;
    }
    return keychain_status::internalError;
}

struct Answer {
    bool timedOut = false;
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;
    std::int32_t overrideStatus = 0;
};

Answer perform(KeyringRequest::Operation operation, const QString &service, const QString &account,
               const QByteArray &bytes, std::chrono::milliseconds timeout)
{
    auto request = std::make_shared<KeyringRequest>();
    request->operation = operation;
    request->service = service;
    request->account = account;
    request->bytes = bytes;

    KeyringWorker *worker = keyringThread()->worker;
    QMetaObject::invokeMethod(worker, [worker, request] { worker->enqueue(request); }, Qt::QueuedConnection);

    std::unique_lock lock(request->mutex);
    if (!request->answered.wait_for(lock, timeout, [&request] { return request->done; })) {
        request->abandoned = true;
        return Answer{true, QKeychain::OtherError, {}};
    }
    return Answer{false, request->error, request->data, request->overrideStatus};
}

} // namespace

KeychainItemStore::KeychainItemStore(QString service, QString account, std::chrono::milliseconds timeout)
    : service_(std::move(service)), account_(std::move(account)), timeout_(timeout)
{
}

KeychainItemReadResult KeychainItemStore::read()
{
    const Answer answer = perform(KeyringRequest::Operation::read, service_, account_, {}, timeout_);
    if (answer.timedOut) {
        return KeychainItemReadResult::failed(keychain_status::timedOut);
    }
    if (answer.overrideStatus != keychain_status::success) {
        return KeychainItemReadResult::failed(answer.overrideStatus);
    }
    switch (answer.error) {
    case QKeychain::NoError:
        return KeychainItemReadResult::found(answer.data);
    case QKeychain::EntryNotFound:
        return KeychainItemReadResult::missing();
    default:
        return KeychainItemReadResult::failed(statusFor(answer.error));
    }
}

std::int32_t KeychainItemStore::write(const QByteArray &bytes)
{
    const Answer answer = perform(KeyringRequest::Operation::write, service_, account_, bytes, timeout_);
    if (answer.timedOut) {
        return keychain_status::timedOut;
    }
    return statusFor(answer.error);
}

std::int32_t KeychainItemStore::remove()
{
    const Answer answer = perform(KeyringRequest::Operation::remove, service_, account_, {}, timeout_);
    if (answer.timedOut) {
        return keychain_status::timedOut;
    }
    if (answer.overrideStatus != keychain_status::success) {
        return answer.overrideStatus;
    }
    if (answer.error == QKeychain::EntryNotFound) {
        return keychain_status::success;
    }
    return statusFor(answer.error);
}

KeychainItemStoreFactory KeychainItemStore::factory(std::chrono::milliseconds timeout)
{
    return [timeout](const QString &service, const QString &account) -> std::unique_ptr<KeychainItemStoring> {
        return std::make_unique<KeychainItemStore>(service, account, timeout);
    };
}

} // namespace quillby
