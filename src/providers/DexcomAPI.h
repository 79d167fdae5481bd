#pragma once

#include "core/Clock.h"
#include "core/async/AsyncSerialQueue.h"
#include "providers/GlucoseAPIProtocol.h"
#include "providers/HttpExchange.h"

#include <QByteArray>
#include <QNetworkAccessManager>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace quillby {

struct DexcomAPIOptions {
    // Not owned; must outlive the client. Null: the client makes its own.
    QNetworkAccessManager *session = nullptr;
    // Region code ("us", "ous", "jp") to service base URL. Empty: the Dexcom Share hosts.
    std::map<std::string, std::string> baseURLs;
    // A request that has not finished by then fails with a time-out NetworkError.
    std::chrono::milliseconds requestTimeout{60000};
    // Wall clock for a Retry-After given as a date. Null: a system clock of its own.
    std::shared_ptr<const Clock> clock;
};

// Client of the Dexcom Share web service: two-step sign-in, then the latest readings.
class DexcomAPI final : public GlucoseAPIProtocol, public std::enable_shared_from_this<DexcomAPI> {
public:
    DexcomAPI(std::string username, std::string password, std::string region,
              DexcomAPIOptions options = {});
    ~DexcomAPI() override;

    // The regional service base URLs; "jp" ends with one more "/".
    static std::map<std::string, std::string> defaultBaseURLs();
    // The same table with every region's host replaced by `origin` (e.g. a local test server).
    static std::map<std::string, std::string> baseURLsAt(const std::string &origin);
    // The application identifier the service expects for a region, if the region is known.
    static std::optional<std::string> applicationId(const std::string &region);

    QCoro::Task<void> authenticate(std::stop_token stop = {}) override;
    QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop = {}) override;

    // Current session state (for diagnostics and tests).
    std::optional<std::string> sessionId() const { return sessionId_; }
    std::optional<std::string> accountId() const { return accountId_; }

    // Drops a reading that repeats the last kept one within 30 s with the same value and trend.
    static GlucoseReadings removeCloseDuplicates(const GlucoseReadings &readings);

private:
    enum class Endpoint { authenticatePublisherAccount, loginPublisherAccountById, readLatestGlucoseValues };

    QCoro::Task<void> signIn(std::stop_token stop);
    QCoro::Task<std::string> authenticatePublisherAccount(std::string applicationId, std::stop_token stop);
    QCoro::Task<std::string> loginPublisherAccount(std::string accountId, std::string applicationId,
                                                   std::stop_token stop);
    // `sessionIsFresh`: a readings request on a session no readings request has used yet.
    QCoro::Task<QByteArray> checkResponse(Endpoint endpoint, QUrl url, QByteArray body, std::stop_token stop,
                                          bool sessionIsFresh = false);
    [[noreturn]] void throwForFailedReply(Endpoint endpoint, const HttpReply &reply, bool sessionIsFresh);
    QUrl endpointURL(Endpoint endpoint) const;
    // Path below the base URL and the endpoint's name in invalidURL.
    static std::pair<const char *, const char *> pathAndName(Endpoint endpoint);
    static std::string identifierFromReply(const QByteArray &body);
    // Seconds a 429 reply asks to wait, when its Retry-After header says.
    std::optional<double> retryAfter(const HttpReply &reply) const;

    std::map<std::string, std::string> baseURLs_;
    std::optional<std::string> sessionId_;
    std::optional<std::string> accountId_;
    // The session was issued by a sign-in that no readings request has used yet.
    bool sessionIsFresh_ = false;
    std::string region_;
    std::string username_;
    std::string password_;
    std::unique_ptr<QNetworkAccessManager> ownSession_;
    QNetworkAccessManager *session_;
    std::chrono::milliseconds requestTimeout_;
    std::shared_ptr<const Clock> clock_;
    AsyncSerialQueue queue_;
};

} // namespace quillby
