#pragma once

#include "core/async/EventLoopTurn.h"
#include "core/async/Sleeper.h"

#include <stop_token>

namespace quillby::test {

// Ends every sleep on the next event-loop turn, whatever its length, and moves no clock: a
// debounce over the real clock ends at once, so a save follows an edit.
class NextTurnSleeper final : public Sleeper {
public:
    QCoro::Task<void> sleep(double, std::stop_token) override { co_await nextEventLoopTurn(); }
};

} // namespace quillby::test
