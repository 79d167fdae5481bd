#pragma once

#include "core/ScopedLogger.h"
#include "core/async/Sleeper.h"

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <stop_token>
#include <unordered_map>

class QLocalSocket;

namespace quillby {

// Keeps Quillby to one running instance per user. The first instance listens on a local
// socket; a second launch connects, asks the running one to "reopen" and then exits.
//
// Launches that start at the same moment take turns: probing for a running instance, removing
// a stale socket and listening happen under an exclusive lock on a file beside the socket, so
// exactly one of them becomes the running instance.
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

    // `socketName`: a path or a plain name (placed in the temporary folder by Qt); empty runs
    // without the reopen channel. `sleeper`: times idle connections; null means the event loop.
    explicit SingleInstanceGuard(QString socketName = defaultSocketName(), std::shared_ptr<Sleeper> sleeper = nullptr,
                                 QObject *parent = nullptr);
    ~SingleInstanceGuard() override;

    // True: this process is the running instance (also when it cannot listen for later
    // launches). False: another instance answered and was asked to reopen; the caller exits.
    bool acquire();

    // "quillby.socket" in the user's private runtime folder: $XDG_RUNTIME_DIR, else a
    // "quillby-runtime-<uid>" folder in the temporary folder. A folder counts only when it is a
    // real folder (not a symbolic link) owned by this user with mode 0700; empty when there is
    // none, so no other local user can listen on the name first.
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
    QLocalServer server_;
    std::unordered_map<QLocalSocket *, std::stop_source> connections_;
    ScopedLogger logger_{"SingleInstanceGuard"};
};

} // namespace quillby
