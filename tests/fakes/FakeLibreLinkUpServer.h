#pragma once

#include "fakes/RecordingHttpServer.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillby::test {

// A local LibreLinkUp regional service. Sign-in answers with a ticket and user (or a region
// redirect, or JSON status 2 for wrong credentials); any request from a client older than the
// minimum version gets JSON status 920; the connection list and graph need a live
// "Bearer" ticket and the matching "Account-Id" (SHA-256 of the user id), else HTTP 401.
class FakeLibreLinkUpServer final : public RecordingHttpServer {
public:
    static constexpr const char *kLoginPath = "/llu/auth/login";
    static constexpr const char *kConnectionsPath = "/llu/connections";
    static std::string graphPath(const std::string &patientId)
    {
        return "/llu/connections/" + patientId + "/graph";
    }

    FakeLibreLinkUpServer() { start(); }
    ~FakeLibreLinkUpServer() override { stop(); }

    void setAccount(std::string email, std::string password, std::string userId);
    // While set, a sign-in is answered with a redirect to this region.
    void setRedirect(std::optional<std::string> region);
    // "expires" of the tickets handed out from now on (seconds since 1970).
    void setTicketExpires(double expires);
    // The connection list ("data" of /llu/connections), see connection().
    void setConnections(std::vector<nlohmann::json> connections);
    // The graph points of one person, and optionally the "connection" the graph reply carries
    // (by default the listed connection of that person).
    void setGraph(const std::string &patientId, std::vector<nlohmann::json> graphData,
                  std::optional<nlohmann::json> connection = std::nullopt);
    // While set, every request whose "version" header is older than `version` is answered as
    // the service asks for a newer client: JSON status 920 with "data" / "minimumVersion", with
    // this HTTP status (200, and since 2025 also 403).
    void setMinimumVersion(std::optional<std::string> version, int httpStatus = 200);
    // Rejects every ticket handed out so far.
    void revokeTickets();
    std::vector<std::string> issuedTokens() const;

    static std::string accountIdFor(const std::string &userId);   // lower-case hex SHA-256
    static nlohmann::json measurement(double mgdL, const std::string &factoryTimestamp,
                                      std::optional<int> trendArrow = 3);
    static nlohmann::json connection(const std::string &patientId, std::optional<std::string> firstName,
                                     std::optional<std::string> lastName,
                                     std::optional<nlohmann::json> glucoseMeasurement = std::nullopt);

protected:
    ScriptedReply respond(const RecordedRequest &request) override;

private:
    bool isAuthorized(const RecordedRequest &request) const;
    nlohmann::json ticketJSON(const std::string &token) const;

    std::string email_ = "user@example.com";
    std::string password_ = "secret";
    std::string userId_ = "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9";
    std::optional<std::string> redirect_;
    std::optional<std::string> minimumVersion_;
    int minimumVersionStatus_ = 200;
    double ticketExpires_ = 4102444800.0;   // 2100-01-01
    nlohmann::json connections_ = nlohmann::json::array();
    std::map<std::string, std::pair<nlohmann::json, std::optional<nlohmann::json>>> graphs_;
    std::set<std::string> liveTokens_;
    std::vector<std::string> issuedTokens_;
};

} // namespace quillby::test
