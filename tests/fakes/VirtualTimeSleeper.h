#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "FakeClock.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace quillby::test {

// Discrete-event virtual time: every sleep is parked until the driver moves the clock to its
// due time, so concurrent sleeps overlap the way they would in real time. Drive it with
// runUntil() (or runFor()); between time steps the Qt event loop runs until it is quiet.
class VirtualTimeSleeper final : public Sleeper {
    struct Entry {
        double due = 0;                     // on the monotonic clock
        std::uint64_t order = 0;
        std::coroutine_handle<> handle;
        bool done = false;
    };

public:
    explicit VirtualTimeSleeper(FakeClock &clock) : clock_(clock) {}

    QCoro::Task<void> sleep(double seconds, std::stop_token stop) override
    {
        requests.push_back(seconds);
        requestStops.push_back(stop);
        if (stop.stop_requested()) {
            co_return;
        }
        auto entry = std::make_shared<Entry>();
        entry->due = clock_.monotonicNow() + std::max(seconds, 0.0);
        entry->order = nextOrder_++;
        pending_.push_back(entry);
        co_await Park{entry, stop, std::nullopt};
    }

    // Runs events and virtual time until the wall clock reaches `until` or nothing is pending.
    void runUntil(Date until)
    {
        while (true) {
            drain();
            const auto next = earliest();
            const double target = clock_.monotonicNow() + (until - clock_.now());
            if (!next || (*next)->due > target) {
                if (until > clock_.now()) {
                    clock_.advance(until - clock_.now());
                }
                drain();
                return;
            }
            resume(*next);
        }
    }
    void runFor(double seconds) { runUntil(clock_.now() + seconds); }

    // Moves time to the earliest pending sleep and resumes it; false when none is pending.
    bool runNext()
    {
        const auto next = earliest();
        if (!next) {
            return false;
        }
        resume(*next);
        return true;
    }

    // Runs the event loop until `done` holds, moving time to the next pending sleep whenever the
    // loop is quiet and `done` still does not hold; work on other threads is waited for up to the
    // scaled bound of waitUntil. Returns whether `done` holds.
    template <typename Predicate>
    bool advanceUntil(Predicate done, int timeoutMs = kDefaultWaitMs)
    {
        return waitUntil(
            [&] {
                drain();
                if (!done()) {
                    runNext();
                }
                return done();
            },
            timeoutMs);
    }

    // Runs the event loop until it is quiet, without moving time.
    static void drain()
    {
        for (int i = 0; i < 40; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }

    std::size_t pendingCount() const
    {
        return static_cast<std::size_t>(std::count_if(pending_.begin(), pending_.end(),
                                                      [](const auto &e) { return !e->done; }));
    }

    std::vector<double> requests;                 // the seconds of every sleep asked for, in order
    std::vector<std::stop_token> requestStops;    // the stop token each of them came with

private:
    struct Park {
        std::shared_ptr<Entry> entry;
        std::stop_token stop;
        std::optional<std::stop_callback<std::function<void()>>> onStop;
        bool await_ready() const { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            entry->handle = handle;
            auto parked = entry;
            onStop.emplace(stop, std::function<void()>([parked] {
                QTimer::singleShot(0, QCoreApplication::instance(), [parked] {
                    if (!parked->done) {
                        parked->done = true;
                        parked->handle.resume();
                    }
                });
            }));
        }
        void await_resume() { onStop.reset(); }
    };

    std::optional<std::shared_ptr<Entry>> earliest()
    {
        std::erase_if(pending_, [](const auto &e) { return e->done; });
        if (pending_.empty()) {
            return std::nullopt;
        }
        return *std::min_element(pending_.begin(), pending_.end(), [](const auto &a, const auto &b) {
            return a->due != b->due ? a->due < b->due : a->order < b->order;
        });
    }

    void resume(const std::shared_ptr<Entry> &entry)
    {
        if (entry->due > clock_.monotonicNow()) {
            clock_.advance(entry->due - clock_.monotonicNow());
        }
        entry->done = true;
        entry->handle.resume();
    }

    FakeClock &clock_;
    std::vector<std::shared_ptr<Entry>> pending_;
    std::uint64_t nextOrder_ = 0;
};

} // namespace quillby::test
