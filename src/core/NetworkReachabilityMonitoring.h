#pragma once

#include <QObject>

#include <QCoroTask>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <stop_token>

namespace quillby {

// Whether the computer has a usable network path, and a bounded wait until it has one.
// Used by the poller after wake, after a sign-in failure and before retrying an empty fetch.
class NetworkReachabilityMonitoring {
public:
    virtual ~NetworkReachabilityMonitoring() = default;
    // The last known state.
    virtual bool isReachable() const = 0;
    // Resolves true when the network is reachable now or becomes reachable within
    // timeoutSeconds, else false (the state at the time-out). Never throws. A stop request
    // ends the wait at once with the current state. Call on the main thread.
    virtual QCoro::Task<bool> waitUntilReachable(double timeoutSeconds, std::stop_token stop = {}) = 0;
    // Calls `handler` with each new state, on the main thread, for as long as `context` lives.
    virtual void observeReachability(QObject *context, std::function<void(bool reachable)> handler) = 0;
};

namespace detail {
class ReachabilityWaiter;
}

// Watches the system's network state through QNetworkInformation (the NetworkManager or glib
// backend). The network counts as reachable unless the backend reports it disconnected; with
// no backend at all it is always reachable. Lives on the main thread.
class NetworkMonitor final : public QObject, public NetworkReachabilityMonitoring {
    Q_OBJECT
public:
    enum class Source {
        system,   // follow QNetworkInformation
        manual,   // only updateReachability() changes the state (tests)
    };

    explicit NetworkMonitor(Source source = Source::system, QObject *parent = nullptr);
    ~NetworkMonitor() override;

    bool isReachable() const override;
    QCoro::Task<bool> waitUntilReachable(double timeoutSeconds, std::stop_token stop = {}) override;
    void observeReachability(QObject *context, std::function<void(bool reachable)> handler) override;

    // A new network state: when reachable, every waiter resumes with true. Any thread.
    void updateReachability(bool reachable);

    // Callers waiting right now (for tests and diagnostics).
    std::size_t waiterCount() const { return waiters_.size(); }

signals:
    void reachabilityChanged(bool reachable);

private:
    friend class detail::ReachabilityWaiter;
    void applyReachability(bool reachable);
    void resumeWaiter(std::uint64_t id, bool reachable);

    std::atomic<bool> reachable_{false};
    std::map<std::uint64_t, detail::ReachabilityWaiter *> waiters_;   // main thread only
    std::uint64_t nextWaiterID_ = 1;
};

} // namespace quillby
