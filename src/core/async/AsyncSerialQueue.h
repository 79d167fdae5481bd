#pragma once

#include <QCoroTask>

#include <coroutine>
#include <cstddef>
#include <deque>
#include <memory>
#include <stop_token>

namespace quillby {

// Lets coroutines on the main loop take turns: one holds the turn, the others wait in arrival
// order. A waiter whose stop token fires leaves the line with OperationCancelledError.
class AsyncSerialQueue {
    struct Waiter;
    struct State;

public:
    // Holding a Turn means it is this caller's go; destroying it hands the turn on.
    class Turn {
    public:
        Turn() = default;
        Turn(Turn &&other) noexcept;
        Turn &operator=(Turn &&other) noexcept;
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;
        ~Turn();

    private:
        friend class AsyncSerialQueue;
        explicit Turn(std::shared_ptr<State> state) : state_(std::move(state)) {}
        void release();
        std::shared_ptr<State> state_;
    };

    AsyncSerialQueue();

    // Waits for this caller's turn. Throws OperationCancelledError when stop is (or becomes)
    // requested before the turn comes.
    QCoro::Task<Turn> acquire(std::stop_token stop = {});

    // How many callers wait in line behind the one holding the turn.
    std::size_t waitingCount() const;

private:
    std::shared_ptr<State> state_;
};

} // namespace quillby
