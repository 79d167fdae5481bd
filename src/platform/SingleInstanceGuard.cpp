#include "platform/SingleInstanceGuard.h"

#include "core/async/RunDetached.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillby {

namespace {
constexpr int kConnectTimeoutMs = 1000;
const QByteArray kReopenMessage = QByteArrayLiteral("reopen\n");

// A folder only this user can enter: a real folder (no symbolic link), owned by this user,
// mode 0700.
bool isPrivateFolder(const QString &path)
{
    struct stat info {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
}

// An exclusive lock on a file, held for the object's lifetime; released by the system when
// the process ends in any way.
class ExclusiveFileLock {
public:
    explicit ExclusiveFileLock(const QString &path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        if (fd_ < 0) {
            return;
        }
        int result = 0;
        do {
            result = ::flock(fd_, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ExclusiveFileLock()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ExclusiveFileLock(const ExclusiveFileLock &) = delete;
    ExclusiveFileLock &operator=(const ExclusiveFileLock &) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

QString lockPathFor(const QString &socketName)
{
    const QString socketPath =
        QDir::isAbsolutePath(socketName) ? socketName : QDir(QDir::tempPath()).filePath(socketName);
    return socketPath + QStringLiteral(".lock");
}

} // namespace

SingleInstanceGuard::SingleInstanceGuard(QString socketName, std::shared_ptr<Sleeper> sleeper, QObject *parent)
    : QObject(parent)
    , socketName_(std::move(socketName))
    , sleeper_(sleeper ? std::move(sleeper) : std::make_shared<EventLoopSleeper>())
{
    server_.setMaxPendingConnections(kMaxConnections);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstanceGuard::onNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    for (auto &[socket, stop] : connections_) {
        stop.request_stop();
        socket->disconnect(this);
    }
}

QString SingleInstanceGuard::defaultSocketName()
{
    const QString name = QStringLiteral("quillby.socket");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime)) {
        return QDir(runtime).filePath(name);
    }
    // No usable session runtime folder: a private one of ours in the temporary folder. One that
    // is already there but a link, someone else's or open to others is not used (nor changed).
    const QString fallback = QDir(QDir::tempPath()).filePath(QStringLiteral("quillby-runtime-%1").arg(::geteuid()));
    if (::mkdir(QFile::encodeName(fallback).constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return isPrivateFolder(fallback) ? QDir(fallback).filePath(name) : QString();
}

bool SingleInstanceGuard::acquire()
{
    if (socketName_.isEmpty()) {
        logger_.error("No private runtime folder; running without listening for other launches");
        return true;
    }
    const ExclusiveFileLock lock(lockPathFor(socketName_));
    if (!lock.held()) {
        logger_.error("Cannot lock the launch lock file; checking for another instance without it");
    }
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
        if (openConnectionCount() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kMaxLineBytes + 1);
        std::stop_source stop;
        connections_.emplace(socket, stop);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            readFrom(socket);
            drop(socket);
        });
        runDetached(closeWhenIdle(sleeper_, this, socket, stop.get_token()));
        readFrom(socket);
    }
}

QCoro::Task<void> SingleInstanceGuard::closeWhenIdle(std::shared_ptr<Sleeper> sleeper, QPointer<SingleInstanceGuard> guard,
                                                     QLocalSocket *socket, std::stop_token stop)
{
    co_await sleeper->sleep(kIdleSeconds, stop);
    if (stop.stop_requested() || !guard) {
        co_return;
    }
    guard->drop(socket);   // still open (a closed one stops the sleep), so still listed
}

void SingleInstanceGuard::readFrom(QLocalSocket *socket)
{
    if (!connections_.contains(socket)) {
        return;
    }
    const QByteArray pending = socket->peek(kMaxLineBytes + 1);
    const qsizetype newline = pending.indexOf('\n');
    if (newline < 0) {
        if (pending.size() > kMaxLineBytes) {
            drop(socket);   // longer than any request
        }
        return;
    }
    const bool reopen = pending.left(newline).trimmed() == "reopen";
    drop(socket);   // one request per connection
    if (reopen) {
        emit reopenRequested();
    }
}

void SingleInstanceGuard::drop(QLocalSocket *socket)
{
    const auto found = connections_.find(socket);
    if (found == connections_.end()) {
        return;
    }
    found->second.request_stop();
    connections_.erase(found);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace quillby
