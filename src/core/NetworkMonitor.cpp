#include "core/NetworkReachabilityMonitoring.h"

#include <QFuture>
#include <QNetworkInformation>
#include <QPointer>
#include <QPromise>
#include <QThread>
#include <QTimer>

#include <QCoroFuture>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace quillby {

namespace detail {

// One caller waiting for the network. It is resumed exactly once: by a reachable update, by
// its time-out, by a stop request or by the monitor going away, whichever comes first.
class ReachabilityWaiter : public QObject {
public:
    ReachabilityWaiter(NetworkMonitor *monitor, std::uint64_t id) : monitor(monitor), id(id) { promise.start(); }

    void resume(bool reachable)
    {
        if (done) {
            return;
        }
        done = true;
        promise.addResult(reachable);
        promise.finish();
    }

    // Time-out and stop: end with the state of the moment.
    void resumeWithCurrentState()
    {
        if (monitor) {
            monitor->resumeWaiter(id, monitor->isReachable());
        } else {
            resume(false);
        }
    }

    QPointer<NetworkMonitor> monitor;
    std::uint64_t id;
    QPromise<bool> promise;
    QTimer timer;
    bool done = false;
};

} // namespace detail

NetworkMonitor::NetworkMonitor(Source source, QObject *parent) : QObject(parent)
{
    if (source != Source::system) {
        return;
    }
    if (QNetworkInformation::instance() == nullptr) {
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    }
    QNetworkInformation *information = QNetworkInformation::instance();
    if (information == nullptr || !information->supports(QNetworkInformation::Feature::Reachability)) {
        // Nothing can tell us about the network: never hold the caller back.
        applyReachability(true);
        return;
    }
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                updateReachability(reachability != QNetworkInformation::Reachability::Disconnected);
            });
    // Unknown, local, site and online all mean a usable path; only "disconnected" does not.
    applyReachability(information->reachability() != QNetworkInformation::Reachability::Disconnected);
}

NetworkMonitor::~NetworkMonitor()
{
    const bool reachable = isReachable();
    auto waiters = std::move(waiters_);
    waiters_.clear();
    for (auto &[id, waiter] : waiters) {
        waiter->resume(reachable);
    }
}

bool NetworkMonitor::isReachable() const
{
    return reachable_.load();
}

void NetworkMonitor::updateReachability(bool reachable)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, reachable] { applyReachability(reachable); }, Qt::QueuedConnection);
        return;
    }
    applyReachability(reachable);
}

void NetworkMonitor::applyReachability(bool reachable)
{
    const bool changed = reachable_.exchange(reachable) != reachable;
    if (reachable) {
        auto waiters = std::move(waiters_);
        waiters_.clear();
        for (auto &[id, waiter] : waiters) {
            waiter->resume(true);
        }
    }
    if (changed) {
        emit reachabilityChanged(reachable);
    }
}

void NetworkMonitor::observeReachability(QObject *context, std::function<void(bool reachable)> handler)
{
    connect(this, &NetworkMonitor::reachabilityChanged, context, std::move(handler));
}

void NetworkMonitor::resumeWaiter(std::uint64_t id, bool reachable)
{
    const auto found = waiters_.find(id);
    if (found == waiters_.end()) {
        return;
    }
    detail::ReachabilityWaiter *waiter = found->second;
    waiters_.erase(found);
    waiter->resume(reachable);
}

QCoro::Task<bool> NetworkMonitor::waitUntilReachable(double timeoutSeconds, std::stop_token stop)
{
    if (isReachable()) {
        co_return true;
    }
    const std::uint64_t id = nextWaiterID_++;
    auto waiter = std::make_unique<detail::ReachabilityWaiter>(this, id);
    detail::ReachabilityWaiter *raw = waiter.get();
    QFuture<bool> future = raw->promise.future();
    waiters_.emplace(id, raw);

    const double milliseconds = timeoutSeconds > 0 ? std::ceil(timeoutSeconds * 1000.0) : 0.0;
    raw->timer.setSingleShot(true);
    raw->timer.setTimerType(Qt::PreciseTimer);
    connect(&raw->timer, &QTimer::timeout, raw, [raw] { raw->resumeWithCurrentState(); });
    raw->timer.start(static_cast<int>(std::min(milliseconds, static_cast<double>(INT_MAX))));

    // A stop request (from any thread, also one made before the wait began) ends the wait on
    // the next turn of the event loop with the state of that moment.
    std::stop_callback onStop(stop, [raw] {
        QMetaObject::invokeMethod(raw, [raw] { raw->resumeWithCurrentState(); }, Qt::QueuedConnection);
    });

    const bool reachable = co_await future;
    co_return reachable;
}

} // namespace quillby
