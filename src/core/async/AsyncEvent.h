#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace quillby {

// A one-shot event that any number of coroutines on the main loop can await. fire() resumes
// every waiter on the next event-loop turn (never inside fire() itself); an awaiter whose stop
// token is triggered resumes early. Copies share one state.
class AsyncEvent {
    struct Waiter {
        std::coroutine_handle<> handle;
        bool resumed = false;
    };
    struct State {
        bool fired = false;
        std::vector<std::shared_ptr<Waiter>> waiters;
    };

public:
    AsyncEvent() : state_(std::make_shared<State>()) {}

    bool isFired() const { return state_->fired; }

    void fire()
    {
        if (state_->fired) {
            return;
        }
        state_->fired = true;
        auto waiters = std::move(state_->waiters);
        for (auto &waiter : waiters) {
            scheduleResume(waiter);
        }
    }

    class Awaiter {
    public:
        Awaiter(std::shared_ptr<State> state, std::stop_token stop)
            : state_(std::move(state)), stop_(std::move(stop)) {}
        bool await_ready() const { return state_->fired || stop_.stop_requested(); }
        void await_suspend(std::coroutine_handle<> handle)
        {
            auto waiter = std::make_shared<Waiter>(Waiter{handle, false});
            state_->waiters.push_back(waiter);
            onStop_.emplace(stop_, [waiter] { scheduleResume(waiter); });
        }
        void await_resume() { onStop_.reset(); }

    private:
        std::shared_ptr<State> state_;
        std::stop_token stop_;
        std::optional<std::stop_callback<std::function<void()>>> onStop_;
    };

    // Resumes when the event fires or `stop` is requested, whichever comes first.
    Awaiter wait(std::stop_token stop = {}) const { return Awaiter(state_, std::move(stop)); }

private:
    static void scheduleResume(const std::shared_ptr<Waiter> &waiter)
    {
        // Posted to the main loop: a stop may be requested from any thread, and the firing code
        // must not be re-entered by the coroutines it wakes.
        QTimer::singleShot(0, QCoreApplication::instance(), [waiter] {
            if (!waiter->resumed) {
                waiter->resumed = true;
                waiter->handle.resume();
            }
        });
    }

    std::shared_ptr<State> state_;
};

} // namespace quillby
