#include "platform/PackageKitClient.h"

#include <QCoroDBusPendingCall>
#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QTimer>

#include <memory>

namespace quillby {

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/PackageKit");
const QString kInterface = QStringLiteral("org.freedesktop.PackageKit");
const QString kTransactionInterface = QStringLiteral("org.freedesktop.PackageKit.Transaction");
constexpr uint kExitSuccess = 1;
constexpr uint kExitCancelled = 3;

QString callFailure(const QDBusMessage &reply)
{
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

} // namespace

// Receives one transaction's signals and ends its wait: Finished, ErrorCode (kept for the
// reason), PackageKit leaving the bus, the time-out or stop.
class PackageKitTransactionWatch final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool done = false;
    uint exit = 0;
    QString error;

    void finish(uint exitCode, const QString &failure = {})
    {
        if (done) {
            return;
        }
        done = true;
        exit = exitCode;
        if (error.isEmpty()) {
            error = failure;
        }
        emit ended();
    }

public slots:
    void onErrorCode(uint code, const QString &details)
    {
        Q_UNUSED(code);
        if (error.isEmpty()) {
            error = details;
        }
    }
    void onFinished(uint exitCode, uint runtime)
    {
        Q_UNUSED(runtime);
        finish(exitCode);
    }

signals:
    void ended();
};

PackageKitClient::PackageKitClient(QDBusConnection bus, QObject *parent) : QObject(parent), bus_(std::move(bus)) {}

QCoro::Task<bool> PackageKitClient::isAvailable()
{
    if (!bus_.isConnected()) {
        co_return false;
    }
    const QString busService = QStringLiteral("org.freedesktop.DBus");
    const QString busPath = QStringLiteral("/org/freedesktop/DBus");
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(busService, busPath, busService, QStringLiteral("NameHasOwner"));
    hasOwner << kService;
    const QDBusMessage owned = co_await bus_.asyncCall(hasOwner, 10000);
    if (owned.type() == QDBusMessage::ReplyMessage && !owned.arguments().isEmpty() &&
        owned.arguments().constFirst().toBool()) {
        co_return true;
    }
    const QDBusMessage activatable = co_await bus_.asyncCall(
        QDBusMessage::createMethodCall(busService, busPath, busService, QStringLiteral("ListActivatableNames")), 10000);
    co_return activatable.type() == QDBusMessage::ReplyMessage && !activatable.arguments().isEmpty() &&
        activatable.arguments().constFirst().toStringList().contains(kService);
}

QCoro::Task<PackageKitAuthorization> PackageKitClient::canAuthorize(QString actionId)
{
    if (!bus_.isConnected()) {
        co_return PackageKitAuthorization::unknown;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CanAuthorize"));
    message << actionId;
    const QDBusMessage reply = co_await bus_.asyncCall(message, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        co_return PackageKitAuthorization::unknown;
    }
    // PkAuthorizeEnum: 0 unknown, 1 yes, 2 no, 3 interactive.
    switch (reply.arguments().constFirst().toUInt()) {
    case 1:
        co_return PackageKitAuthorization::yes;
    case 2:
        co_return PackageKitAuthorization::no;
    case 3:
        co_return PackageKitAuthorization::interactive;
    default:
        co_return PackageKitAuthorization::unknown;
    }
}

QCoro::Task<PackageKitInstallResult> PackageKitClient::installFile(QString path, bool interactive,
                                                                   std::chrono::milliseconds timeout,
                                                                   std::stop_token stop)
{
    if (!bus_.isConnected()) {
        co_return PackageKitInstallResult{false, QStringLiteral("the system bus is not reachable")};
    }
    const QDBusMessage created = co_await bus_.asyncCall(
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateTransaction")), 30000);
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty()) {
        co_return PackageKitInstallResult{false, callFailure(created)};
    }
    const QString transaction = created.arguments().constFirst().value<QDBusObjectPath>().path();
    if (transaction.isEmpty() || stop.stop_requested()) {
        co_return PackageKitInstallResult{false, QStringLiteral("no transaction was created")};
    }

    // Subscribed by path alone (any sender): the transaction's path is its own, and naming the
    // service would make Qt look its owner up with a blocking call.
    auto watch = std::make_unique<PackageKitTransactionWatch>();
    PackageKitTransactionWatch *raw = watch.get();
    bus_.connect(QString(), transaction, kTransactionInterface, QStringLiteral("ErrorCode"), raw,
                 SLOT(onErrorCode(uint, QString)));
    bus_.connect(QString(), transaction, kTransactionInterface, QStringLiteral("Finished"), raw,
                 SLOT(onFinished(uint, uint)));
    QDBusServiceWatcher vanished(kService, bus_, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&vanished, &QDBusServiceWatcher::serviceUnregistered, raw,
                     [raw] { raw->finish(0, QStringLiteral("PackageKit stopped during the install")); });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, raw,
                     [raw] { raw->finish(0, QStringLiteral("the install did not finish in time")); });
    deadline.start(timeout);
    std::stop_callback onStop(stop, [raw] {
        QMetaObject::invokeMethod(raw, [raw] { raw->finish(kExitCancelled, QStringLiteral("cancelled")); },
                                  Qt::QueuedConnection);
    });
    const auto unsubscribe = [this, transaction, raw] {
        bus_.disconnect(QString(), transaction, kTransactionInterface, QStringLiteral("ErrorCode"), raw,
                        SLOT(onErrorCode(uint, QString)));
        bus_.disconnect(QString(), transaction, kTransactionInterface, QStringLiteral("Finished"), raw,
                        SLOT(onFinished(uint, uint)));
    };

    QDBusMessage hints = QDBusMessage::createMethodCall(kService, transaction, kTransactionInterface,
                                                        QStringLiteral("SetHints"));
    hints << QStringList{interactive ? QStringLiteral("interactive=true") : QStringLiteral("interactive=false")};
    co_await bus_.asyncCall(hints, 30000);   // a daemon without hints installs all the same

    // Flags 0: not "only trusted". A local file comes from no signed repository, so PackageKit
    // applies its untrusted-install action; our own signature check vouches for the file.
    QDBusMessage install = QDBusMessage::createMethodCall(kService, transaction, kTransactionInterface,
                                                          QStringLiteral("InstallFiles"));
    install << QVariant::fromValue(static_cast<qulonglong>(0)) << QStringList{path};
    const QDBusMessage started = co_await bus_.asyncCall(install, kCallTimeoutMs);
    if (started.type() != QDBusMessage::ReplyMessage) {
        unsubscribe();
        co_return PackageKitInstallResult{false, callFailure(started)};
    }
    if (!raw->done) {
        co_await qCoro(raw, &PackageKitTransactionWatch::ended);
    }
    unsubscribe();
    if (raw->exit == kExitSuccess && raw->error.isEmpty()) {
        co_return PackageKitInstallResult{true, {}};
    }
    co_return PackageKitInstallResult{
        false, raw->error.isEmpty() ? QStringLiteral("PackageKit ended the install with code %1").arg(raw->exit)
                                    : raw->error};
}

} // namespace quillby

#include "PackageKitClient.moc"
