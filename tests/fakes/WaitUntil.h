#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <chrono>

// The build sets this to the factor by which sanitizer builds are slower.
#ifndef QUILLBY_TEST_TIMEOUT_SCALE
#define QUILLBY_TEST_TIMEOUT_SCALE 1
#endif

namespace quillby::test {

// Tests wait for an event, never for a fixed time. Every wait has a generous upper bound that
// is reached only when the event never comes; it is multiplied by this factor, which is larger
// in sanitizer builds and can be raised on a slow machine with QUILLBY_TEST_TIMEOUT_SCALE.
inline int timeoutScale()
{
    static const int scale = [] {
        bool ok = false;
        const int value = qEnvironmentVariableIntValue("QUILLBY_TEST_TIMEOUT_SCALE", &ok);
        return ok && value > 0 ? value : QUILLBY_TEST_TIMEOUT_SCALE;
    }();
    return scale;
}

// An upper bound for a wait, in milliseconds, scaled for the build.
inline int scaledTimeoutMs(int milliseconds)
{
    return milliseconds * timeoutScale();
}

inline std::chrono::milliseconds scaledTimeout(std::chrono::milliseconds bound)
{
    return bound * timeoutScale();
}

// The default upper bound of waitUntil before scaling.
inline constexpr int kDefaultWaitMs = 10'000;

// Runs the event loop until `done` holds or the scaled upper bound passes; returns whether it
// holds. Objects deleted later are deleted between turns.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = kDefaultWaitMs)
{
    const QDeadlineTimer deadline(scaledTimeoutMs(timeoutMs), Qt::PreciseTimer);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (done()) {
            return true;
        }
        QThread::usleep(500);   // work on other threads and sockets gets a moment
    }
    return true;
}

// Runs the events already queued, and those they queue in turn, until the event loop is quiet;
// does not wait for anything that has not been queued yet (use waitUntil for that).
inline void processQueuedEvents(int turns = 40)
{
    for (int i = 0; i < turns; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace quillby::test
