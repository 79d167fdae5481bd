#include "platform/SingleInstanceGuard.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QPointer>

#include <unistd.h>

namespace quillby {

namespace {
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kReopenMessage = QByteArrayLiteral("reopen\n");
} // namespace

SingleInstanceGuard::SingleInstanceGuard(QString socketName, QObject *parent)
    : QObject(parent)
    , socketName_(std::move(socketName))
{
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstanceGuard::onNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

QString SingleInstanceGuard::defaultSocketName()
{
    // The user's private runtime folder (XDG_RUNTIME_DIR, mode 0700), not the shared /tmp,
    // where another local user could take the name first and so answer, or block, every
    // launch. Qt makes a private folder of its own when the session has none.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        return QDir(runtime).filePath(QStringLiteral("quillby.socket"));
    }
    return QStringLiteral("quillby-%1").arg(::getuid());
}

bool SingleInstanceGuard::acquire()
{
    {
        QLocalSocket probe;
        probe.connectToServer(socketName_);
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            probe.write(kReopenMessage);
            probe.waitForBytesWritten(kConnectTimeoutMs);
            probe.disconnectFromServer();
            return false;
        }
    }
    // Nobody answered: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(socketName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketName_)) {
        // No other instance answered, so this one runs; it just cannot be asked to reopen.
        logger_.error("Cannot listen for other launches: " + server_.errorString().toStdString());
    }
    return true;
}

void SingleInstanceGuard::onNewConnection()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray line = socket->readLine().trimmed();
            if (line == "reopen") {
                emit reopenRequested();
            }
        });
    }
}

} // namespace quillby
