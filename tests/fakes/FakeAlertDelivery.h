#pragma once

#include "core/async/EventLoopTurn.h"
#include "polling/GlucoseAlertNotificationDelivering.h"

#include <string>
#include <vector>

namespace quillby::test {

// A recording alert delivery. Each operation yields to the event loop once, as the real one
// does, so callers see the same interleaving.
class FakeAlertDelivery final : public GlucoseAlertNotificationDelivering {
public:
    struct Sent {
        std::string title;
        std::string body;
    };

    QCoro::Task<GlucoseAlertAuthorizationState> authorizationState() override
    {
        ++authorizationStateCalls;
        co_await nextEventLoopTurn();
        co_return state;
    }

    QCoro::Task<bool> requestAuthorizationIfNeeded() override
    {
        ++authorizationRequests;
        co_await nextEventLoopTurn();
        co_return grantsAuthorization;
    }

    QCoro::Task<void> sendNotification(std::string title, std::string body) override
    {
        ++sendAttempts;
        co_await nextEventLoopTurn();
        if (failSending) {
            throw GlucoseAlertDeliveryError(GlucoseAlertDeliveryError::Case::notificationRejected,
                                            "the fake refuses");
        }
        sent.push_back({std::move(title), std::move(body)});
    }

    // Configuration.
    GlucoseAlertAuthorizationState state = GlucoseAlertAuthorizationState::authorized;
    bool grantsAuthorization = true;
    bool failSending = false;

    // Records.
    int authorizationStateCalls = 0;
    int authorizationRequests = 0;
    int sendAttempts = 0;
    std::vector<Sent> sent;
};

} // namespace quillby::test
