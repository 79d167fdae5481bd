#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace quillby::test {

// A private system bus for this test process: a dbus-daemon started on first use with its own
// configuration (any name may be owned, any call made) and DBUS_SYSTEM_BUS_ADDRESS pointing at
// it. libdbus reads that variable once, when the process first opens any bus, so a test that
// runs after another one used the session bus must connect by this address, not by bus type.
// The daemon ends with the process.
QString privateSystemBusAddress();

// A stand-in for PackageKit on the private system bus: owns `org.freedesktop.PackageKit` from
// construction (the name is owned when the constructor returns) to destruction, answers
// CanAuthorize with `authorization`, creates transactions, and ends each InstallFiles with the
// scripted outcome through the transaction's ErrorCode and Finished signals.
class FakePackageKit final : public QDBusVirtualObject {
public:
    FakePackageKit();
    ~FakePackageKit() override;

    // PkAuthorizeEnum: 1 yes, 2 no, 3 interactive.
    uint authorization = 1;
    bool failInstall = false;
    QString failureDetails = QStringLiteral("The package could not be installed");

    struct Install {
        QString transaction;
        qulonglong flags = 0;
        QStringList files;
        QStringList hints;
        bool filesExisted = false;
    };
    std::vector<Install> installs;
    QStringList authorizationsAsked;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    QString introspect(const QString &path) const override;

private:
    QDBusConnection bus_;
    int transactions_ = 0;
};

} // namespace quillby::test
