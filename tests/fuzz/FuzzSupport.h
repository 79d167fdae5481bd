#pragma once

#include <QCoreApplication>
#include <QEvent>

#include <cstdio>
#include <cstdlib>

namespace quillby::fuzz {

// A fuzz target's own check: reports and aborts, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                            \
        }                                                                                            \
    } while (false)

// The Qt application the targets that use Qt's event loop need; made once, never destroyed.
inline void startFuzzApplication(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*=false");
    new QCoreApplication(*argc, *argv);
}

// Runs what the last input left queued (replies' signals, deferred deletes).
inline void drainFuzzEvents()
{
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace quillby::fuzz
