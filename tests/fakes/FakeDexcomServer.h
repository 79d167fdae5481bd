#pragma once

#include "fakes/RecordingHttpServer.h"

#include <set>
#include <string>
#include <vector>

namespace quillby::test {

// A local Dexcom Share service. It answers the two sign-in steps and the readings request
// like the real service: JSON-quoted identifiers, HTTP 500 with a JSON fault (never 401) for a
// wrong password or an unknown session, the readings request's parameters read from the query
// string, and the stored readings listed newest first.
class FakeDexcomServer final : public RecordingHttpServer {
public:
    static constexpr const char *kServicePath = "/ShareWebServices/Services";
    static constexpr const char *kAuthenticatePath =
        "/ShareWebServices/Services/General/AuthenticatePublisherAccount";
    static constexpr const char *kLoginPath = "/ShareWebServices/Services/General/LoginPublisherAccountById";
    static constexpr const char *kReadingsPath =
        "/ShareWebServices/Services/Publisher/ReadPublisherLatestGlucoseValues";

    FakeDexcomServer() { start(); }
    ~FakeDexcomServer() override { stop(); }

    std::string baseURL() const { return origin() + kServicePath; }

    // The one account the service knows.
    void setAccount(std::string accountName, std::string password, std::string accountId);
    // Readings served, newest first, as Dexcom records (see record()).
    void setReadings(std::vector<nlohmann::json> records);
    // Forgets every session: the next readings request gets the "unknown session" fault.
    void expireSessions();
    // Sessions handed out so far, in order.
    std::vector<std::string> issuedSessions() const;

    // One Dexcom Share reading record at `date` (seconds since 1970). The trend is a word
    // ("Flat") or, as older replies send it, a number (4).
    static nlohmann::json record(double mgdL, const nlohmann::json &trend, double date);
    // The fault the service answers with: HTTP 500 and {"Code", "Message", "SubCode", "TypeName"}.
    static ScriptedReply fault(const std::string &code, const std::string &message);

protected:
    ScriptedReply respond(const RecordedRequest &request) override;

private:
    std::string accountName_ = "user@example.com";
    std::string password_ = "secret";
    std::string accountId_ = "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f";
    nlohmann::json readings_ = nlohmann::json::array();
    std::set<std::string> liveSessions_;
    std::vector<std::string> issuedSessions_;
};

} // namespace quillby::test
