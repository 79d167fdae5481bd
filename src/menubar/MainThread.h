#pragma once

#include <QCoreApplication>
#include <QThread>

namespace quillby {

// Stops the program when a main-thread-only object is used from another thread: such a call
// would race with the event loop and corrupt state silently.
inline void requireMainThread(const char *where)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        qFatal("%s must be called on the main thread", where);
    }
}

} // namespace quillby
