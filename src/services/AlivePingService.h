#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "core/ScopedLogger.h"
#include "services/AlivePingScheduleStoring.h"
#include "services/AppServerAuthProvider.h"
#include "services/AppServerRequests.h"

#include <QUrl>

#include <QCoroTask>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

enum class AlivePingResult { sent, skipped, failed };

// The daily heartbeat: one signed POST to "/api/alive" per UTC day, spread over up to a minute
// just after UTC midnight, retried with capped exponential back-off within the day. Main
// thread only; a send keeps the service alive until it ends.
class AlivePingService : public std::enable_shared_from_this<AlivePingService> {
public:
    static constexpr double kMidnightJitterWindow = 600;
    static constexpr double kMidnightJitterMaxDelay = 60;
    static constexpr double kRetryInitialDelay = 300;
    static constexpr double kRetryMaxDelay = 21600;

    struct Dependencies {
        AppServerConnection connection;
        QUrl aliveURL;   // the server + "/api/alive"
        std::shared_ptr<AppServerAuthProvider> authProvider;
        std::shared_ptr<AlivePingScheduleStoring> scheduleStore;
        std::shared_ptr<Clock> clock;       // required
        std::shared_ptr<Sleeper> sleeper;   // required
        // A uniform draw from the closed range.
        std::function<std::uint64_t(std::uint64_t, std::uint64_t)> randomUInt64;
        // The user's first preferred language, or nothing.
        std::function<std::optional<QString>()> systemLanguageProvider;
    };

    explicit AlivePingService(Dependencies dependencies);

    QCoro::Task<AlivePingResult> sendIfNeeded(QString appVersion, std::stop_token stop = {});
    void scheduleRetry(AlivePingResult result, Date now);
    // Seconds until the next attempt: the earlier of the next UTC midnight and the pending retry,
    // never below 1.
    double delayUntilNextAttempt(Date now) const;
    std::optional<double> midnightJitterDelay(Date now) const;
    static int secondsSinceUTCMidnight(Date date);

    AppServerAuthProvider &authProvider() const { return *deps_.authProvider; }
    int retryAttempt() const { return retryAttempt_; }
    std::optional<Date> nextRetryAt() const { return nextRetryAt_; }

private:
    struct Request {
        QByteArray payloadData;
        QString installationId;
        QString appVersion;
        QString userAgent;
    };
    QCoro::Task<bool> deliver(Request request, bool forceRegistration, QString rejectedKeyId, std::stop_token stop);

    Dependencies deps_;
    ScopedLogger logger_{"AlivePingService"};
    int retryAttempt_ = 0;
    std::optional<std::int64_t> retryDay_;
    std::optional<Date> nextRetryAt_;
};

} // namespace quillby
