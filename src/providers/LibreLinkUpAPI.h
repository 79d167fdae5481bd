#pragma once

#include "core/Clock.h"
#include "core/async/AsyncSerialQueue.h"
#include "providers/GlucoseAPIProtocol.h"
#include "providers/HttpExchange.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quillby {

struct LibreLinkUpAPIOptions {
    // Not owned; must outlive the client. Null: the client makes its own.
    QNetworkAccessManager *session = nullptr;
    // Wall clock for ticket validity and rate limits. Null: a system clock of its own.
    std::shared_ptr<const Clock> clock;
    // Region code to service origin ("https://api-eu.libreview.io"). Empty: the LibreLinkUp hosts.
    std::map<std::string, std::string> hosts;
    // A request that has not finished by then fails with a time-out NetworkError.
    std::chrono::milliseconds requestTimeout{60000};
};

// Client of the LibreLinkUp web service: sign-in with region redirects, a reusable ticket,
// the account's connections and the chosen person's readings. Redirections are never followed.
class LibreLinkUpAPI final : public GlucoseAPIProtocol,
                             public std::enable_shared_from_this<LibreLinkUpAPI> {
public:
    LibreLinkUpAPI(std::string username, std::string password, std::string region,
                   std::optional<std::string> patientID = std::nullopt,
                   LibreLinkUpAPIOptions options = {});
    ~LibreLinkUpAPI() override;

    // The 16 region codes and their service origins.
    static std::map<std::string, std::string> defaultHosts();

    QCoro::Task<void> authenticate(std::stop_token stop = {}) override;
    QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop = {}) override;
    QCoro::Task<std::vector<LibreConnection>> fetchConnections(std::stop_token stop = {}) override;

    // Current state (for diagnostics and tests).
    const std::string &region() const { return region_; }
    std::optional<std::string> ticketToken() const;
    std::optional<std::string> accountHash() const { return accountHash_; }
    std::optional<Date> throttleUntil() const { return throttleUntil_; }

private:
    struct AuthTicket {
        std::string token;
        double expires = 0;
    };

    // Sign-in and requests.
    QCoro::Task<void> signIn(std::stop_token stop);
    QNetworkRequest makeRequest(const std::string &path) const;
    QCoro::Task<QByteArray> perform(QNetworkRequest request, QByteArray method, QByteArray body,
                                    bool isSignIn, std::stop_token stop);
    QCoro::Task<QByteArray> authorizedRequest(std::string path, std::stop_token stop);
    bool hasUsableTicket() const;
    std::optional<std::string> hostFor(const std::string &region) const;

    // Replies, connections and readings.
    QByteArray validateResponse(const HttpReply &reply, bool isSignIn);
    double retryAfterDelay(const HttpReply &reply, const nlohmann::json *object) const;
    QCoro::Task<nlohmann::json> connectionList(std::stop_token stop);
    QCoro::Task<nlohmann::json> chooseConnection(std::stop_token stop);

    std::string username_;
    std::string password_;
    std::optional<std::string> patientID_;
    std::unique_ptr<QNetworkAccessManager> ownSession_;
    QNetworkAccessManager *session_;
    std::string region_;
    std::optional<AuthTicket> ticket_;
    std::optional<std::string> accountHash_;
    std::optional<Date> throttleUntil_;
    std::shared_ptr<const Clock> clock_;
    std::map<std::string, std::string> hosts_;
    std::chrono::milliseconds requestTimeout_;
    AsyncSerialQueue queue_;
};

} // namespace quillby
