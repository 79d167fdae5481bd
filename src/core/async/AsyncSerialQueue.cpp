#include "core/async/AsyncSerialQueue.h"

#include "core/OperationCancelledError.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <algorithm>

namespace quillby {

struct AsyncSerialQueue::Waiter {
    std::coroutine_handle<> handle;
    bool granted = false;
    bool cancelled = false;
};

struct AsyncSerialQueue::State {
    bool busy = false;
    std::deque<std::shared_ptr<Waiter>> waiters;
    QObject context;   // resumptions are queued on the main loop through this object
};

namespace {

// Resumes on a later event-loop turn, never inside the caller that made the decision.
void resumeLater(QObject *context, std::coroutine_handle<> handle)
{
    QMetaObject::invokeMethod(context, [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace

AsyncSerialQueue::AsyncSerialQueue() : state_(std::make_shared<State>()) {}

AsyncSerialQueue::Turn::Turn(Turn &&other) noexcept : state_(std::move(other.state_)) {}

AsyncSerialQueue::Turn &AsyncSerialQueue::Turn::operator=(Turn &&other) noexcept
{
    if (this != &other) {
        release();
        state_ = std::move(other.state_);
    }
    return *this;
}

AsyncSerialQueue::Turn::~Turn()
{
    release();
}

void AsyncSerialQueue::Turn::release()
{
    if (!state_) {
        return;
    }
    auto state = std::move(state_);
    state_.reset();
    if (state->waiters.empty()) {
        state->busy = false;
        return;
    }
    auto next = state->waiters.front();
    state->waiters.pop_front();
    next->granted = true;
    resumeLater(&state->context, next->handle);
}

std::size_t AsyncSerialQueue::waitingCount() const
{
    return state_->waiters.size();
}

QCoro::Task<AsyncSerialQueue::Turn> AsyncSerialQueue::acquire(std::stop_token stop)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
    auto state = state_;
    if (!state->busy) {
        state->busy = true;
        co_return Turn(state);
    }

    auto waiter = std::make_shared<Waiter>();
    state->waiters.push_back(waiter);

    struct Suspend {
        Waiter *waiter;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { waiter->handle = handle; }
        void await_resume() const noexcept {}
    };

    {
        std::weak_ptr<State> weakState = state;
        std::weak_ptr<Waiter> weakWaiter = waiter;
        // Stop may be requested from any thread: leave the line on the main loop.
        std::stop_callback onStop(stop, [weakState, weakWaiter] {
            auto lockedState = weakState.lock();
            if (!lockedState) {
                return;
            }
            QMetaObject::invokeMethod(
                &lockedState->context,
                [weakState, weakWaiter] {
                    auto s = weakState.lock();
                    auto w = weakWaiter.lock();
                    if (!s || !w || w->granted || w->cancelled || !w->handle) {
                        return;
                    }
                    auto it = std::find(s->waiters.begin(), s->waiters.end(), w);
                    if (it == s->waiters.end()) {
                        return;
                    }
                    s->waiters.erase(it);
                    w->cancelled = true;
                    w->handle.resume();
                },
                Qt::QueuedConnection);
        });
        co_await Suspend{waiter.get()};
    }

    if (waiter->cancelled) {
        throw OperationCancelledError();
    }
    co_return Turn(state);
}

} // namespace quillby
