#pragma once

#include "core/ScopedLogger.h"
#include "core/async/Sleeper.h"

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <stop_token>
#include <unordered_map>

class QLocalSocket;

namespace quillby {

// Keeps Quillby to one running instance per user. The running instance holds an exclusive
// lock (flock) on a file beside its socket for its whole life; the system drops it when the
// process ends in any way. A launch that cannot take the lock never becomes a second instance:
// it connects to the socket, asks the running one to "reopen" and waits for its "ok". When no
// answer comes (the running instance is stopped, hangs, or lost its socket) the launch is told
// so and exits all the same.
//
// The listening side accepts a few short-lived connections only: at most kMaxConnections at
// a time, each closed after one line, after a line longer than kMaxLineBytes, or after
// kIdleSeconds without a complete line (timed by the injected sleeper).
class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 8;
    static constexpr qint64 kMaxLineBytes = 64;
    static constexpr double kIdleSeconds = 5.0;
    // How long a launch waits for the running instance to answer.
    static constexpr std::chrono::milliseconds kAnswerTimeout{10000};

    enum class Acquisition {
        running,        // this process is the running instance
        reopened,       // another instance runs and was asked to reopen: exit
        notAnswering,   // another instance holds the lock but did not answer: say so and exit
    };

    // `socketName`: a path or a plain name (placed in the temporary folder by Qt); empty runs
    // without the reopen channel. `sleeper`: times idle connections; null means the event loop.
    explicit SingleInstanceGuard(QString socketName = defaultSocketName(), std::shared_ptr<Sleeper> sleeper = nullptr,
                                 QObject *parent = nullptr);
    ~SingleInstanceGuard() override;

    // Takes the launch lock and listens (running; also when it cannot listen for later
    // launches), or asks the instance that holds the lock to reopen. Waits at most
    // `answerTimeout` for its answer, running a local event loop meanwhile.
    Acquisition acquire();
    void setAnswerTimeout(std::chrono::milliseconds timeout) { answerTimeout_ = timeout; }
    // The words for a launch whose running instance did not answer.
    static QString notAnsweringTitle();
    static QString notAnsweringMessage();

    // "quillby.socket" in the user's private runtime folder: $XDG_RUNTIME_DIR, else a
    // "quillby-runtime-<uid>" folder in the temporary folder. A folder counts only when it is a
    // real folder (not a symbolic link) owned by this user with mode 0700 (our own fallback
    // folder with a wider mode is set to 0700); empty when there is none, so no other local user
    // can listen on the name first.
    static QString defaultSocketName();

    // Connections currently open on the listening side.
    int openConnectionCount() const { return static_cast<int>(connections_.size()); }

signals:
    void reopenRequested();

private:
    void onNewConnection();
    void readFrom(QLocalSocket *socket);
    void drop(QLocalSocket *socket);
    // Closes a connection that has not sent its line within the idle time.
    static QCoro::Task<void> closeWhenIdle(std::shared_ptr<Sleeper> sleeper, QPointer<SingleInstanceGuard> guard,
                                           QLocalSocket *socket, std::stop_token stop);

    QString socketName_;
    std::shared_ptr<Sleeper> sleeper_;
    std::chrono::milliseconds answerTimeout_ = kAnswerTimeout;
    int lockFd_ = -1;   // the launch lock, held while this object lives
    QLocalServer server_;
    std::unordered_map<QLocalSocket *, std::stop_source> connections_;
    ScopedLogger logger_{"SingleInstanceGuard"};
};

} // namespace quillby
