#pragma once

#include "core/async/EventLoopTurn.h"
#include "core/NetworkReachabilityMonitoring.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

namespace quillby::test {

// A reachability monitor whose answers the test decides. isReachable() gives `reachable`;
// each wait is recorded with its time-out and answers, on the next event-loop turn, with the
// next scripted answer when one is queued, else with `reachable`. Nothing really waits.
class FakeNetworkMonitor final : public NetworkReachabilityMonitoring {
public:
    explicit FakeNetworkMonitor(bool reachable = true) : reachable(reachable) {}

    bool isReachable() const override { return reachable; }

    QCoro::Task<bool> waitUntilReachable(double timeoutSeconds, std::stop_token stop = {}) override
    {
        waitTimeouts.push_back(timeoutSeconds);
        std::optional<bool> answer;
        if (!scriptedAnswers.empty()) {
            answer = scriptedAnswers.front();
            scriptedAnswers.pop_front();
        }
        co_await nextEventLoopTurn();
        (void)stop;
        co_return answer.value_or(reachable);
    }

    void observeReachability(QObject *context, std::function<void(bool reachable)> handler) override
    {
        observers.emplace_back(QPointer<QObject>(context), std::move(handler));
    }

    // A new state: observers hear it when it differs from the last one.
    void setReachable(bool value)
    {
        if (value == reachable) {
            return;
        }
        reachable = value;
        for (const auto &[context, handler] : observers) {
            if (context) {
                handler(value);
            }
        }
    }

    bool reachable;
    std::vector<std::pair<QPointer<QObject>, std::function<void(bool)>>> observers;
    std::deque<bool> scriptedAnswers;   // answers for the next waits, in order
    std::vector<double> waitTimeouts;   // the time-out of every wait, in order
};

} // namespace quillby::test
