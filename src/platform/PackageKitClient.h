#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <stop_token>

namespace quillby {

// What PackageKit says of an action for this user ("CanAuthorize").
enum class PackageKitAuthorization { unknown, no, yes, interactive };

// How one install transaction ended.
struct PackageKitInstallResult {
    bool succeeded = false;
    QString failure;   // PackageKit's own words, or what went wrong on the way
};

// A client of PackageKit (`org.freedesktop.PackageKit`) on the system bus: whether it is there,
// whether an action would need a password, and installing one local package file in a
// transaction. Every call is an asynchronous D-Bus call awaited on the main loop. Main thread only.
class PackageKitClient final : public QObject {
    Q_OBJECT
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.PackageKit");
    // The polkit action PackageKit applies to a package file from no trusted repository.
    static inline const QString kInstallUntrustedAction =
        QStringLiteral("org.freedesktop.packagekit.package-install-untrusted");

    explicit PackageKitClient(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);

    // True when PackageKit runs or can be started on the bus.
    QCoro::Task<bool> isAvailable();
    QCoro::Task<PackageKitAuthorization> canAuthorize(QString actionId);
    // Installs the package file at `path` (an absolute path). `interactive`: the person asked
    // for it, so polkit may ask for a password. Ends when PackageKit reports the transaction
    // finished, PackageKit leaves the bus, `timeout` passes or stop is requested.
    QCoro::Task<PackageKitInstallResult> installFile(QString path, bool interactive,
                                                     std::chrono::milliseconds timeout, std::stop_token stop);

    // How long one method call may take (a password prompt included).
    static constexpr int kCallTimeoutMs = 5 * 60 * 1000;

private:
    QDBusConnection bus_;
};

} // namespace quillby
