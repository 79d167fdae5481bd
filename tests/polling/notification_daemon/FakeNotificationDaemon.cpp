// A notification server that the bus starts on demand and that exits once it has shown one
// notification, as MATE's daemon does when idle (and dunst, mako or fnott when they end).
// Usage: fake_notification_daemon <service name> <log file>
// Each start and each notification shown appends a line to the log file.

#include "FakeNotificationServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

namespace {

void appendLine(const QString &path, const QByteArray &line)
{
    QFile log(path);
    if (log.open(QIODevice::Append)) {
        log.write(line + '\n');
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        return 2;
    }
    const QString service = QString::fromLocal8Bit(argv[1]);
    const QString logPath = QString::fromLocal8Bit(argv[2]);
    // The bus that started us.
    const QString address = qEnvironmentVariable("DBUS_STARTER_ADDRESS");
    if (address.isEmpty()) {
        return 2;
    }
    quillby::test::FakeNotificationServer server(address, service);
    if (!server.isRegistered()) {
        return 1;
    }
    appendLine(logPath, "start");
    server.onNotify = [&server, logPath](const quillby::test::FakeNotificationServer::Notification &shown) {
        appendLine(logPath, "shown " + shown.summary.toUtf8());
        // The reply went out before the name is released, so the caller has it; then exit.
        QTimer::singleShot(0, [&server] {
            server.stop();
            QCoreApplication::quit();
        });
    };
    return application.exec();
}
