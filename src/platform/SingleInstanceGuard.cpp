#include "platform/SingleInstanceGuard.h"

#include "core/async/RunDetached.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillby {

namespace {
const QByteArray kReopenMessage = QByteArrayLiteral("reopen\n");
const QByteArray kAnswer = QByteArrayLiteral("ok");
// While the lock holder is between taking the lock and listening, its socket is not there yet.
constexpr int kConnectRetryMs = 50;

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

// Narrows a real folder of this user (never through a link) to mode 0700.
void makeOwnFolderPrivate(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
        (info.st_mode & 07777) != 0700) {
        ::fchmod(fd, 0700);
    }
    ::close(fd);
}

QString lockPathFor(const QString &socketName)
{
    const QString socketPath =
        QDir::isAbsolutePath(socketName) ? socketName : QDir(QDir::tempPath()).filePath(socketName);
    return socketPath + QStringLiteral(".lock");
}

// Takes the exclusive launch lock without waiting. The descriptor, or -1 with errno set
// (EWOULDBLOCK: another process holds it).
int takeLaunchLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Connects to the running instance, sends "reopen" and waits for its "ok" line, at most
// `timeout`. With `untilListening`, a socket that is not there yet, or a connection closed
// without an answer, is tried again until then.
// A local event loop runs meanwhile, so an instance in this same process can answer too.
bool askToReopen(const QString &socketName, std::chrono::milliseconds timeout, bool untilListening)
{
    QEventLoop loop;
    QLocalSocket socket;
    QTimer retry;
    retry.setSingleShot(true);
    QTimer expiry;
    expiry.setSingleShot(true);
    bool answered = false;
    bool done = false;   // a quit before the loop runs would be lost: exec() only while not done
    QByteArray received;
    const auto finish = [&] {
        done = true;
        loop.quit();
    };
    QObject::connect(&expiry, &QTimer::timeout, &loop, finish);
    QObject::connect(&retry, &QTimer::timeout, &loop, [&] { socket.connectToServer(socketName); });
    QObject::connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(kReopenMessage); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        received += socket.read(SingleInstanceGuard::kMaxLineBytes + 1 - received.size());
        const qsizetype newline = received.indexOf('\n');
        if (newline >= 0 || received.size() > SingleInstanceGuard::kMaxLineBytes) {
            answered = newline >= 0 && received.left(newline).trimmed() == kAnswer;
            finish();
        }
    });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, [&](QLocalSocket::LocalSocketError error) {
        if (done || (error == QLocalSocket::PeerClosedError && socket.bytesAvailable() > 0)) {
            return;   // the answer is still to be read
        }
        if (!untilListening) {
            finish();
            return;
        }
        // Not listening yet (the holder is between taking the lock and listening), or closed
        // without an answer (all its connections busy): ask again until the time is up.
        received.clear();
        socket.abort();
        retry.start(kConnectRetryMs);
    });
    expiry.start(static_cast<int>(timeout.count()));
    socket.connectToServer(socketName);
    if (!done) {
        loop.exec();
    }
    socket.abort();
    return answered;
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
    server_.close();
    if (lockFd_ >= 0) {
        ::close(lockFd_);   // the next launch may become the running instance
    }
}

QString SingleInstanceGuard::notAnsweringTitle()
{
    return tr("Quillby is already running but does not respond");
}

QString SingleInstanceGuard::notAnsweringMessage()
{
    return tr("Another Quillby is running but did not answer. End it (for example in your system monitor), "
              "then start Quillby again.");
}

QString SingleInstanceGuard::defaultSocketName()
{
    const QString name = QStringLiteral("quillby.socket");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime)) {
        return QDir(runtime).filePath(name);
    }
    // No usable session runtime folder: a private one of ours in the temporary folder. One that
    // is already there and ours but open to others is narrowed to 0700; a link or someone
    // else's folder is neither used nor changed.
    const QString fallback = QDir(QDir::tempPath()).filePath(QStringLiteral("quillby-runtime-%1").arg(::geteuid()));
    if (::mkdir(QFile::encodeName(fallback).constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    makeOwnFolderPrivate(fallback);
    return isPrivateFolder(fallback) ? QDir(fallback).filePath(name) : QString();
}

SingleInstanceGuard::Acquisition SingleInstanceGuard::acquire()
{
    if (socketName_.isEmpty()) {
        logger_.error("No private runtime folder; running without listening for other launches");
        return Acquisition::running;
    }
    if (lockFd_ < 0) {
        lockFd_ = takeLaunchLock(lockPathFor(socketName_));
        if (lockFd_ < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
            // Another instance holds the lock for as long as it runs: this launch never becomes
            // a second one, whether or not that instance answers.
            return askToReopen(socketName_, answerTimeout_, true) ? Acquisition::reopened : Acquisition::notAnswering;
        }
    }
    if (lockFd_ < 0) {
        // The lock file cannot be used at all: a running instance can only be found by asking it.
        logger_.error("Cannot take the launch lock; checking for another instance without it");
        if (askToReopen(socketName_, answerTimeout_, false)) {
            return Acquisition::reopened;
        }
    }
    // Holding the lock, a socket file left behind is stale: no instance listens on it.
    QLocalServer::removeServer(socketName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketName_)) {
        // This one runs; it just cannot be asked to reopen.
        logger_.error("Cannot listen for other launches: " + server_.errorString().toStdString());
    }
    return Acquisition::running;
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
    if (reopen) {
        // The launch waits for this answer; it is in the socket before the connection closes.
        socket->write(kAnswer + '\n');
        socket->flush();
    }
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
