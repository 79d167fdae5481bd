#include "FakePackageKit.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillby::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.PackageKit");
const QString kPath = QStringLiteral("/org/freedesktop/PackageKit");
const QString kTransactionInterface = QStringLiteral("org.freedesktop.PackageKit.Transaction");

struct PrivateBus {
    QTemporaryDir folder;
    pid_t pid = -1;
    QString address;

    PrivateBus()
    {
        const QString config = folder.filePath(QStringLiteral("system.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return;
        }
        file.write(QStringLiteral(
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>system</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                       "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                       "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n")
                       .arg(folder.filePath(QStringLiteral("bus")))
                       .toUtf8());
        file.close();
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return;
        }
        const std::string configArgument = "--config-file=" + config.toStdString();
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork", "--print-address=1",
                     static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        // The daemon prints its address once it listens: the bus is ready when the line arrives.
        std::string line;
        char c = 0;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        ::close(pipeFds[0]);
        address = QString::fromStdString(line);
        if (!address.isEmpty()) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        }
    }

    ~PrivateBus()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

} // namespace

QString privateSystemBusAddress()
{
    static PrivateBus bus;
    return bus.address;
}

FakePackageKit::FakePackageKit()
    : bus_(QDBusConnection::connectToBus(privateSystemBusAddress(), QStringLiteral("fake-packagekit")))
{
    bus_.registerVirtualObject(kPath, this, QDBusConnection::SubPath);
    bus_.registerService(kService);
}

FakePackageKit::~FakePackageKit()
{
    bus_.unregisterService(kService);
    bus_.unregisterObject(kPath, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-packagekit"));
}

QString FakePackageKit::introspect(const QString &path) const
{
    Q_UNUSED(path);
    return {};
}

bool FakePackageKit::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    QDBusConnection bus = connection;
    if (member == QLatin1String("CanAuthorize")) {
        authorizationsAsked << arguments.value(0).toString();
        bus.send(message.createReply(QVariant::fromValue(authorization)));
        return true;
    }
    if (member == QLatin1String("CreateTransaction")) {
        const QString path = kPath + QStringLiteral("/transaction%1").arg(++transactions_);
        installs.push_back(Install{path, 0, {}, {}, false});
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        return true;
    }
    auto install = std::find_if(installs.begin(), installs.end(),
                                [&](const Install &each) { return each.transaction == message.path(); });
    if (install == installs.end()) {
        bus.send(message.createErrorReply(QDBusError::UnknownObject, message.path()));
        return true;
    }
    if (member == QLatin1String("SetHints")) {
        install->hints = arguments.value(0).toStringList();
        bus.send(message.createReply());
        return true;
    }
    if (member == QLatin1String("InstallFiles")) {
        install->flags = arguments.value(0).toULongLong();
        install->files = arguments.value(1).toStringList();
        install->filesExisted = !install->files.isEmpty() && QFile::exists(install->files.constFirst());
        bus.send(message.createReply());
        // The transaction runs after the call returned, as PackageKit's does.
        const QString path = message.path();
        const bool fail = failInstall;
        const QString details = failureDetails;
        QMetaObject::invokeMethod(
            this,
            [bus, path, fail, details]() mutable {
                if (fail) {
                    QDBusMessage error = QDBusMessage::createSignal(path, kTransactionInterface, QStringLiteral("ErrorCode"));
                    error << QVariant::fromValue(uint(31)) << details;
                    bus.send(error);
                }
                QDBusMessage finished = QDBusMessage::createSignal(path, kTransactionInterface, QStringLiteral("Finished"));
                finished << QVariant::fromValue(uint(fail ? 2 : 1)) << QVariant::fromValue(uint(10));
                bus.send(finished);
            },
            Qt::QueuedConnection);
        return true;
    }
    bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    return true;
}

} // namespace quillby::test
