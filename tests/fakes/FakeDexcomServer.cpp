#include "fakes/FakeDexcomServer.h"

#include <cstdio>

namespace quillby::test {

void FakeDexcomServer::setAccount(std::string accountName, std::string password, std::string accountId)
{
    std::lock_guard lock(mutex_);
    accountName_ = std::move(accountName);
    password_ = std::move(password);
    accountId_ = std::move(accountId);
}

void FakeDexcomServer::setReadings(std::vector<nlohmann::json> records)
{
    std::lock_guard lock(mutex_);
    readings_ = nlohmann::json(std::move(records));
}

void FakeDexcomServer::expireSessions()
{
    std::lock_guard lock(mutex_);
    liveSessions_.clear();
}

std::vector<std::string> FakeDexcomServer::issuedSessions() const
{
    std::lock_guard lock(mutex_);
    return issuedSessions_;
}

nlohmann::json FakeDexcomServer::record(double mgdL, const nlohmann::json &trend, double date)
{
    const auto milliseconds = static_cast<long long>(date * 1000);
    const std::string stamp = "Date(" + std::to_string(milliseconds) + ")";
    return {{"WT", stamp}, {"ST", stamp}, {"DT", "Date(" + std::to_string(milliseconds) + "+0000)"},
            {"Value", mgdL}, {"Trend", trend}};
}

ScriptedReply FakeDexcomServer::fault(const std::string &code, const std::string &message)
{
    return ScriptedReply::json(500, {{"Code", code},
                                     {"Message", message},
                                     {"SubCode", "<OnlineException/>"},
                                     {"TypeName", "FaultException"}});
}

ScriptedReply FakeDexcomServer::respond(const RecordedRequest &request)
{
    if (request.method != "POST") {
        return ScriptedReply::text(405, "Method Not Allowed");
    }
    nlohmann::json body;
    try {
        body = request.json();
    } catch (const nlohmann::json::exception &) {
        return fault("InvalidArgument", "Request body is not JSON");
    }
    const auto text = [&body](const char *key) {
        return body.is_object() && body.contains(key) && body[key].is_string() ? body[key].get<std::string>()
                                                                                 : std::string();
    };
    const auto quoted = [](const std::string &value) {
        return ScriptedReply::json(200, nlohmann::json(value));
    };

    if (request.path == kAuthenticatePath) {
        if (text("accountName") != accountName_ || text("password") != password_) {
            return fault("AccountPasswordInvalid", "Publisher account password failed");
        }
        return quoted(accountId_);
    }
    if (request.path == kLoginPath) {
        if (text("accountId") != accountId_ || text("password") != password_) {
            return fault("AccountPasswordInvalid", "Publisher account password failed");
        }
        char session[40];
        std::snprintf(session, sizeof session, "a1b2c3d4-0000-4000-8000-%012zu", issuedSessions_.size() + 1);
        issuedSessions_.emplace_back(session);
        liveSessions_.insert(session);
        return quoted(session);
    }
    if (request.path == kReadingsPath) {
        // The service takes these from the query string, not from the body.
        const auto session = request.param("sessionId");
        if (!request.param("minutes") || !request.param("maxCount")) {
            return fault("InvalidArgument", "Required parameter is missing");
        }
        if (!session || liveSessions_.count(*session) == 0) {
            return fault("SessionIdNotFound", "Session ID not found");
        }
        return ScriptedReply::json(200, readings_);
    }
    return ScriptedReply::text(404, "Not Found");
}

} // namespace quillby::test
