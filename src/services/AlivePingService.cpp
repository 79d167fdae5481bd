#include "services/AlivePingService.h"

#include "core/OperationCancelledError.h"
#include "services/UserDefaultsAlivePingScheduleStore.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <exception>

namespace quillby {

AlivePingService::AlivePingService(Dependencies dependencies) : deps_(std::move(dependencies))
{
    Q_ASSERT(deps_.clock && deps_.sleeper);
}

int AlivePingService::secondsSinceUTCMidnight(Date date)
{
    const double seconds = std::floor(date) - static_cast<double>(utcDayNumber(date)) * 86400.0;
    return static_cast<int>(std::clamp(seconds, 0.0, 86399.0));
}

std::optional<double> AlivePingService::midnightJitterDelay(Date now) const
{
    if (secondsSinceUTCMidnight(now) > kMidnightJitterWindow || !deps_.randomUInt64) {
        return std::nullopt;
    }
    const std::uint64_t drawn = deps_.randomUInt64(0, static_cast<std::uint64_t>(kMidnightJitterMaxDelay * 1000));
    if (drawn == 0) {
        return std::nullopt;
    }
    return static_cast<double>(drawn) / 1000.0;
}

void AlivePingService::scheduleRetry(AlivePingResult result, Date now)
{
    if (result != AlivePingResult::failed) {
        retryAttempt_ = 0;
        retryDay_.reset();
        nextRetryAt_.reset();
        return;
    }
    const std::int64_t today = utcDayNumber(now);
    if (retryDay_ && *retryDay_ != today) {
        retryAttempt_ = 0;
    }
    retryDay_ = today;
    const double delay = std::min(kRetryInitialDelay * std::pow(2.0, std::min(retryAttempt_, 30)), kRetryMaxDelay);
    ++retryAttempt_;
    nextRetryAt_ = now + delay;
}

double AlivePingService::delayUntilNextAttempt(Date now) const
{
    const double nextMidnight = static_cast<double>(utcDayNumber(now) + 1) * 86400.0;
    double delay = std::max(nextMidnight - now, 1.0);
    if (nextRetryAt_) {
        delay = std::min(delay, std::max(*nextRetryAt_ - now, 1.0));
    }
    return delay;
}

QCoro::Task<AlivePingResult> AlivePingService::sendIfNeeded(QString appVersion, std::stop_token stop)
{
    auto keep = shared_from_this();
    if (!deps_.aliveURL.isValid() || !deps_.authProvider || !deps_.scheduleStore) {
        co_return AlivePingResult::failed;
    }
    const QString osVersion = app_server::operatingSystemVersion(deps_.connection);
    const QString installationID = deps_.authProvider->installationIDProvider().installationID();
    if (!deps_.scheduleStore->shouldSendAlivePing(installationID, deps_.clock->now())) {
        co_return AlivePingResult::skipped;
    }
    if (const auto jitter = midnightJitterDelay(deps_.clock->now()); jitter && *jitter > 0) {
        co_await deps_.sleeper->sleep(*jitter, stop);
        if (stop.stop_requested()) {
            co_return AlivePingResult::skipped;
        }
        // Another sender may have recorded today's heartbeat meanwhile.
        if (!deps_.scheduleStore->shouldSendAlivePing(installationID, deps_.clock->now())) {
            co_return AlivePingResult::skipped;
        }
    }
    std::optional<QString> language;
    if (deps_.systemLanguageProvider) {
        if (auto provided = deps_.systemLanguageProvider()) {
            const QString trimmed = provided->trimmed();
            if (!trimmed.isEmpty()) {
                language = trimmed.left(64);
            }
        }
    }
    nlohmann::ordered_json payload;
    payload["installationId"] = installationID.toStdString();
    payload["appVersion"] = appVersion.toStdString();
    payload["platform"] = app_server::kPlatform.toStdString();
    payload["osVersion"] = osVersion.toStdString();
    if (language) {
        payload["systemLanguage"] = language->toStdString();
    }
    Request request;
    try {
        request.payloadData = QByteArray::fromStdString(payload.dump());
    } catch (const std::exception &) {
        logger_.error("Failed to encode alive ping payload");
        co_return AlivePingResult::failed;
    }
    request.installationId = installationID;
    request.appVersion = appVersion;
    request.userAgent = app_server::userAgent(appVersion, osVersion);
    const bool accepted = co_await deliver(std::move(request), false, QString(), stop);
    co_return accepted ? AlivePingResult::sent : AlivePingResult::failed;
}

QCoro::Task<bool> AlivePingService::deliver(Request request, bool forceRegistration, QString rejectedKeyId,
                                            std::stop_token stop)
{
    auto keep = shared_from_this();
    const std::string prefix = "(installation=" + app_server::shortIdentifier(request.installationId);
    const QByteArray path = deps_.aliveURL.path(QUrl::FullyEncoded).toLatin1();
    const auto signedHeaders = co_await deps_.authProvider->signRequest(
        {request.installationId, request.appVersion, request.userAgent, request.payloadData, path, rejectedKeyId},
        forceRegistration, stop);
    if (stop.stop_requested()) {
        co_return false;
    }
    if (!signedHeaders) {
        logger_.error("Skipping alive ping " + prefix + ") because request signing failed");
        co_return false;
    }
    QNetworkRequest networkRequest = app_server::makeRequest(deps_.aliveURL, request.userAgent, "X-Quillby-Heartbeat",
                                                             request.appVersion, signedHeaders->headers);
    HttpReply reply;
    try {
        reply = co_await app_server::post(deps_.connection, networkRequest, request.payloadData, stop);
    } catch (const OperationCancelledError &) {
        co_return false;
    } catch (const std::exception &error) {
        // No reply, a reply that is not HTTP, a time-out: all failures, retried on the schedule.
        logger_.error("Failed to send alive ping " + prefix + "): " + error.what());
        co_return false;
    }
    if (reply.status >= 200 && reply.status <= 299) {
        deps_.scheduleStore->recordAlivePing(request.installationId, deps_.clock->now());
        co_return true;
    }
    if ((reply.status == 401 || reply.status == 403) && !forceRegistration) {
        logger_.error("Alive ping auth rejected " + prefix + ", status=" + std::to_string(reply.status) +
                      "); retrying registration with proof of possession");
        co_return co_await deliver(std::move(request), true, signedHeaders->keyId, stop);
    }
    logger_.error("Alive ping failed " + prefix + ", status=" + std::to_string(reply.status) + ")");
    co_return false;
}

} // namespace quillby
