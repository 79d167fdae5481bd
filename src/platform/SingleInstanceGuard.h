#pragma once

#include "core/ScopedLogger.h"

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace quillby {

// Keeps Quillby to one running instance per user. The first instance listens on a local
// socket; a second launch connects, asks the running one to "reopen" and then exits.
class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit SingleInstanceGuard(QString socketName = defaultSocketName(), QObject *parent = nullptr);
    ~SingleInstanceGuard() override;

    // True: this process is the running instance (also when it cannot listen for later
    // launches). False: another instance answered and was asked to reopen; the caller exits.
    bool acquire();

    static QString defaultSocketName();

signals:
    void reopenRequested();

private:
    void onNewConnection();

    QString socketName_;
    QLocalServer server_;
    ScopedLogger logger_{"SingleInstanceGuard"};
};

} // namespace quillby
