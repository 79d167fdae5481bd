#include "fakes/FakeLibreLinkUpServer.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>

#include <vector>

namespace quillby::test {

namespace {

// "4.16.0" as {4, 16, 0}; parts that are not numbers count as 0.
std::vector<int> versionParts(const std::string &text)
{
    std::vector<int> parts;
    for (const QByteArray &part : QByteArray::fromStdString(text).split('.')) {
        parts.push_back(part.toInt());
    }
    return parts;
}

} // namespace

void FakeLibreLinkUpServer::setAccount(std::string email, std::string password, std::string userId)
{
    std::lock_guard lock(mutex_);
    email_ = std::move(email);
    password_ = std::move(password);
    userId_ = std::move(userId);
}

void FakeLibreLinkUpServer::setRedirect(std::optional<std::string> region)
{
    std::lock_guard lock(mutex_);
    redirect_ = std::move(region);
}

void FakeLibreLinkUpServer::setTicketExpires(double expires)
{
    std::lock_guard lock(mutex_);
    ticketExpires_ = expires;
}

void FakeLibreLinkUpServer::setConnections(std::vector<nlohmann::json> connections)
{
    std::lock_guard lock(mutex_);
    connections_ = nlohmann::json(std::move(connections));
}

void FakeLibreLinkUpServer::setGraph(const std::string &patientId, std::vector<nlohmann::json> graphData,
                                     std::optional<nlohmann::json> connection)
{
    std::lock_guard lock(mutex_);
    graphs_[patientId] = {nlohmann::json(std::move(graphData)), std::move(connection)};
}

void FakeLibreLinkUpServer::setMinimumVersion(std::optional<std::string> version, int httpStatus)
{
    std::lock_guard lock(mutex_);
    minimumVersion_ = std::move(version);
    minimumVersionStatus_ = httpStatus;
}

void FakeLibreLinkUpServer::revokeTickets()
{
    std::lock_guard lock(mutex_);
    liveTokens_.clear();
}

std::vector<std::string> FakeLibreLinkUpServer::issuedTokens() const
{
    std::lock_guard lock(mutex_);
    return issuedTokens_;
}

std::string FakeLibreLinkUpServer::accountIdFor(const std::string &userId)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(userId), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

nlohmann::json FakeLibreLinkUpServer::measurement(double mgdL, const std::string &factoryTimestamp,
                                                  std::optional<int> trendArrow)
{
    nlohmann::json value = {{"FactoryTimestamp", factoryTimestamp},
                            {"Timestamp", factoryTimestamp},
                            {"type", 1},
                            {"ValueInMgPerDl", mgdL},
                            {"MeasurementColor", 1},
                            {"GlucoseUnits", 1},
                            {"Value", mgdL},
                            {"isHigh", false},
                            {"isLow", false}};
    if (trendArrow) {
        value["TrendArrow"] = *trendArrow;
    }
    return value;
}

nlohmann::json FakeLibreLinkUpServer::connection(const std::string &patientId,
                                                 std::optional<std::string> firstName,
                                                 std::optional<std::string> lastName,
                                                 std::optional<nlohmann::json> glucoseMeasurement)
{
    nlohmann::json value = {{"id", "c-" + patientId}, {"patientId", patientId}, {"country", "DE"}, {"status", 2}};
    if (firstName) {
        value["firstName"] = *firstName;
    }
    if (lastName) {
        value["lastName"] = *lastName;
    }
    if (glucoseMeasurement) {
        value["glucoseMeasurement"] = *glucoseMeasurement;
    }
    return value;
}

nlohmann::json FakeLibreLinkUpServer::ticketJSON(const std::string &token) const
{
    return {{"token", token}, {"expires", ticketExpires_}, {"duration", 15552000000LL}};
}

bool FakeLibreLinkUpServer::isAuthorized(const RecordedRequest &request) const
{
    const auto authorization = request.header("Authorization");
    const std::string prefix = "Bearer ";
    if (!authorization || authorization->rfind(prefix, 0) != 0 ||
        liveTokens_.count(authorization->substr(prefix.size())) == 0) {
        return false;
    }
    return request.header("Account-Id") == accountIdFor(userId_);
}

ScriptedReply FakeLibreLinkUpServer::respond(const RecordedRequest &request)
{
    const auto unauthorized = ScriptedReply::json(401, {{"message", "Unauthorized"}});
    if (minimumVersion_ &&
        versionParts(request.header("version").value_or("0")) < versionParts(*minimumVersion_)) {
        return ScriptedReply::json(minimumVersionStatus_,
                                   {{"status", 920}, {"data", {{"minimumVersion", *minimumVersion_}}}});
    }
    if (request.path == kLoginPath && request.method == "POST") {
        nlohmann::json body;
        try {
            body = request.json();
        } catch (const nlohmann::json::exception &) {
            return ScriptedReply::json(400, {{"status", 1}, {"error", {{"message", "bad request"}}}});
        }
        if (redirect_) {
            return ScriptedReply::json(200, {{"status", 0}, {"data", {{"redirect", true}, {"region", *redirect_}}}});
        }
        if (body.value("email", "") != email_ || body.value("password", "") != password_) {
            return ScriptedReply::json(200, {{"status", 2}, {"error", {{"message", "notAuthenticated"}}}});
        }
        const std::string token = "token-" + std::to_string(issuedTokens_.size() + 1);
        issuedTokens_.push_back(token);
        liveTokens_.insert(token);
        return ScriptedReply::json(
            200, {{"status", 0},
                  {"data",
                   {{"user", {{"id", userId_}, {"firstName", "Sam"}, {"lastName", "Follower"}, {"country", "DE"}}},
                    {"messages", {{"unread", 0}}},
                    {"notifications", {{"unresolved", 0}}},
                    {"authTicket", ticketJSON(token)},
                    {"invitations", nullptr},
                    {"trustedDeviceToken", ""}}}});
    }
    if (request.method != "GET") {
        return ScriptedReply::json(404, {{"message", "Not Found"}});
    }
    if (request.path == kConnectionsPath) {
        if (!isAuthorized(request)) {
            return unauthorized;
        }
        return ScriptedReply::json(200, {{"status", 0}, {"data", connections_}});
    }
    for (const auto &[patientId, graph] : graphs_) {
        if (request.path != graphPath(patientId)) {
            continue;
        }
        if (!isAuthorized(request)) {
            return unauthorized;
        }
        nlohmann::json connection = graph.second.value_or(nlohmann::json());
        if (!graph.second) {
            for (const auto &listed : connections_) {
                if (listed.value("patientId", "") == patientId) {
                    connection = listed;
                }
            }
        }
        return ScriptedReply::json(200, {{"status", 0},
                                         {"data",
                                          {{"connection", connection},
                                           {"activeSensors", nlohmann::json::array()},
                                           {"graphData", graph.first}}}});
    }
    return ScriptedReply::json(404, {{"message", "Not Found"}});
}

} // namespace quillby::test
