#pragma once

#include "core/async/EventLoopTurn.h"
#include "core/async/AsyncEvent.h"
#include "providers/GlucoseAPIProtocol.h"

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace quillby::test {

// A scriptable provider client. Each call yields to the event loop once, as a real request
// does, then takes the next scripted answer. Fetches can be held at a gate to make them slow.
class FakeGlucoseAPI final : public GlucoseAPIProtocol {
public:
    // One scripted answer: readings, or an error to throw.
    struct Answer {
        GlucoseReadings readings;
        std::exception_ptr error;
    };
    static Answer readings(GlucoseReadings readings) { return {std::move(readings), nullptr}; }
    template <typename E>
    static Answer failure(E error)
    {
        return {{}, std::make_exception_ptr(std::move(error))};
    }

    QCoro::Task<void> authenticate(std::stop_token stop = {}) override
    {
        ++authenticateCount;
        co_await nextEventLoopTurn();
        if (stop.stop_requested()) {
            throw OperationCancelledError();
        }
        if (!authenticateScript.empty()) {
            const std::exception_ptr error = authenticateScript.front();
            authenticateScript.pop_front();
            if (error) {
                std::rethrow_exception(error);
            }
        }
    }

    QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop = {}) override
    {
        ++fetchCount;
        co_await nextEventLoopTurn();
        if (holdFetches) {
            const AsyncEvent gate = gate_;
            co_await gate.wait(stop);
        }
        if (stop.stop_requested()) {
            throw OperationCancelledError();
        }
        Answer answer;
        if (!fetchScript.empty()) {
            answer = std::move(fetchScript.front());
            fetchScript.pop_front();
        } else if (onFetch) {
            answer = onFetch();
        }
        if (answer.error) {
            std::rethrow_exception(answer.error);
        }
        co_return answer.readings;
    }

    QCoro::Task<std::vector<LibreConnection>> fetchConnections(std::stop_token stop = {}) override
    {
        (void)stop;
        co_await nextEventLoopTurn();
        co_return std::vector<LibreConnection>{};
    }

    // Lets every held fetch go on; later fetches are held again only after hold().
    void release()
    {
        holdFetches = false;
        gate_.fire();
        gate_ = AsyncEvent();
    }
    void hold() { holdFetches = true; }

    std::deque<Answer> fetchScript;                 // answers of the next fetches, in order
    std::function<Answer()> onFetch;                // when the script is empty (default: no readings)
    std::deque<std::exception_ptr> authenticateScript;   // null entries succeed; empty: success
    bool holdFetches = false;
    int fetchCount = 0;
    int authenticateCount = 0;

private:
    AsyncEvent gate_;
};

} // namespace quillby::test
