#pragma once

#include <QTimer>

#include <QCoroTask>
#include <QCoroTimer>

namespace quillby {

// Resumes the awaiting coroutine on a later turn of its thread's event loop (a zero-interval
// timer), so what follows never runs inside the code that is running now.
inline QCoro::Task<void> nextEventLoopTurn()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(0);
    co_await timer;
}

} // namespace quillby
