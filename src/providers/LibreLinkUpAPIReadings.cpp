// LibreLinkUpAPI: checking replies, rate limits, the connection list and the readings.
#include "providers/LibreLinkUpAPI.h"

#include "providers/LibreLinkUpDates.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace quillby {

namespace {

using Error = LibreLinkUpError;

constexpr double kMinimumRetryDelay = 60;
constexpr double kMaximumRetryDelay = 604800;
constexpr long long kMinimumVersionStatus = 920;

const nlohmann::json *field(const nlohmann::json &object, const char *key)
{
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

// The JSON "status" of a reply, when it is a number (taken as an integer).
std::optional<long long> jsonStatus(const nlohmann::json &object)
{
    const nlohmann::json *status = field(object, "status");
    if (!status || !status->is_number()) {
        return std::nullopt;
    }
    if (status->is_number_float()) {
        const double value = status->get<double>();
        if (!(std::fabs(value) < 9.0e18)) {
            return std::nullopt;
        }
        return static_cast<long long>(std::trunc(value));
    }
    if (status->is_number_unsigned()) {
        const auto value = status->get<unsigned long long>();
        if (value > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
            return std::nullopt;
        }
        return static_cast<long long>(value);
    }
    return status->get<long long>();
}

bool isOptionalText(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = field(object, key);
    return !value || value->is_string();
}

bool isMeasurement(const nlohmann::json &value)
{
    if (!value.is_object()) {
        return false;
    }
    const nlohmann::json *timestamp = field(value, "FactoryTimestamp");
    const nlohmann::json *mgdL = field(value, "ValueInMgPerDl");
    const nlohmann::json *trend = field(value, "TrendArrow");
    if (!timestamp || !timestamp->is_string() || !mgdL || !mgdL->is_number()) {
        return false;
    }
    if (trend) {
        if (!trend->is_number()) {
            return false;
        }
        const double number = trend->get<double>();
        if (std::trunc(number) != number || !(std::fabs(number) < 9.0e18)) {
            return false;
        }
    }
    return true;
}

bool isOptionalMeasurement(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = field(object, key);
    return !value || isMeasurement(*value);
}

bool isConnectionPayload(const nlohmann::json &value)
{
    const nlohmann::json *patientId = field(value, "patientId");
    return patientId && patientId->is_string() && isOptionalText(value, "firstName") &&
           isOptionalText(value, "lastName") && isOptionalMeasurement(value, "glucoseMeasurement") &&
           isOptionalMeasurement(value, "glucoseItem");
}

bool isSafePatientId(const std::string &id)
{
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-';
    });
}

// The "data" of an envelope reply body, or invalidResponse.
nlohmann::json envelopeData(const QByteArray &body)
{
    nlohmann::json envelope;
    try {
        envelope = nlohmann::json::parse(body.constData(), body.constData() + body.size());
    } catch (const nlohmann::json::exception &) {
        throw Error(Error::Case::invalidResponse);
    }
    const nlohmann::json *data = field(envelope, "data");
    if (!data) {
        throw Error(Error::Case::invalidResponse);
    }
    return *data;
}

std::string trendText(const nlohmann::json &measurement)
{
    const nlohmann::json *trend = field(measurement, "TrendArrow");
    if (!trend) {
        return "NotComputable";
    }
    switch (static_cast<long long>(trend->get<double>())) {
    case 1:
        return "SingleDown";
    case 2:
        return "FortyFiveDown";
    case 3:
        return "Flat";
    case 4:
        return "FortyFiveUp";
    case 5:
        return "SingleUp";
    default:
        return "NotComputable";
    }
}

GlucoseReading readingFrom(const nlohmann::json &measurement, double sampleDuration)
{
    const double value = measurement.at("ValueInMgPerDl").get<double>();
    const auto date = librelinkup::parseTimestamp(measurement.at("FactoryTimestamp").get<std::string>());
    if (!std::isfinite(value) || !(value > 0) || !date) {
        throw Error(Error::Case::invalidReading);
    }
    return GlucoseReading(value, trendText(measurement), *date, sampleDuration, GlucoseProvider::libreLinkUp);
}

// {"message": "RequiredHeaderMissing"}: the service's answer to a request that lacks a header
// it requires of current clients.
bool isRequiredHeaderMissing(const nlohmann::json &object)
{
    const nlohmann::json *message = field(object, "message");
    return message && message->is_string() && *message == "RequiredHeaderMissing";
}

// The service's "could not load the account" answer, named as the step's type or as the
// message of its "error" object.
bool isPatientNotLoaded(const nlohmann::json &object)
{
    const nlohmann::json *data = field(object, "data");
    const nlohmann::json *step = data ? field(*data, "step") : nullptr;
    const nlohmann::json *type = step ? field(*step, "type") : nullptr;
    if (type && type->is_string() && *type == "couldNotLoadPatient") {
        return true;
    }
    const nlohmann::json *error = field(object, "error");
    const nlohmann::json *message = error ? field(*error, "message") : nullptr;
    return message && message->is_string() && *message == "couldNotLoadPatient";
}

// Trimmed of white space and line breaks at both ends, Unicode spaces included.
std::string trimmed(const std::string &text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace

QByteArray LibreLinkUpAPI::validateResponse(const HttpReply &reply, bool isSignIn)
{
    if (!reply.isHttp) {
        throw Error(Error::Case::invalidResponse);
    }
    std::optional<nlohmann::json> object;
    bool isJSON = false;
    try {
        auto parsed = nlohmann::json::parse(reply.body.constData(), reply.body.constData() + reply.body.size());
        isJSON = true;
        if (parsed.is_object()) {
            object = std::move(parsed);
        }
    } catch (const nlohmann::json::exception &) {
    }
    const std::optional<long long> status = object ? jsonStatus(*object) : std::nullopt;

    const auto rateLimit = [&]() -> Error {
        const double delay = retryAfterDelay(reply, object ? &*object : nullptr);
        throttleUntil_ = clock_->now() + delay;
        return Error::rateLimited(delay);
    };

    if (reply.status == 429) {
        throw rateLimit();
    }
    if (status == 4) {
        const nlohmann::json *data = field(*object, "data");
        const nlohmann::json *step = data ? field(*data, "step") : nullptr;
        const nlohmann::json *type = step ? field(*step, "type") : nullptr;
        if (type && type->is_string() && (*type == "tou" || *type == "pp")) {
            throw Error(Error::Case::termsRequired);
        }
        if (isPatientNotLoaded(*object)) {
            throw Error::patientNotLoaded();
        }
        throw Error(Error::Case::accountActionRequired);
    }
    if (status == 429) {
        throw rateLimit();
    }
    // The account could not be loaded, whatever status the service sent it with.
    if (object && status != 0 && isPatientNotLoaded(*object)) {
        throw Error::patientNotLoaded();
    }
    // The service asks for a newer client with JSON status 920 (minimumVersion in "data"),
    // with HTTP 200 or 403: never a matter of credentials or sessions.
    if (reply.status == 426 || status == kMinimumVersionStatus) {
        throw Error(Error::Case::clientUpdateRequired);
    }
    // A request without a header the service now requires: only a newer client sends it.
    if (reply.status == 400 && object && isRequiredHeaderMissing(*object)) {
        throw Error(Error::Case::clientUpdateRequired);
    }
    if ((reply.status == 401 || reply.status == 403) && !isJSON) {
        // A page that is not JSON (a proxy's or CDN's block page) says nothing about the
        // credentials. A 401 still ends the session; a 403 block page keeps it, since signing
        // in again on every retry makes a block worse.
        if (reply.status == 401) {
            ticket_.reset();
            accountHash_.reset();
        }
        throw Error(Error::Case::invalidResponse);
    }
    if (reply.status == 401 || reply.status == 403 || status == 2) {
        throw Error(isSignIn ? Error::Case::authenticationFailed : Error::Case::sessionExpired);
    }
    if (reply.status < 200 || reply.status > 299) {
        throw Error::serverError(reply.status);
    }
    if (status == 0) {
        return reply.body;
    }
    throw Error(Error::Case::invalidResponse);
}

double LibreLinkUpAPI::retryAfterDelay(const HttpReply &reply, const nlohmann::json *object) const
{
    double delay = kMinimumRetryDelay;
    if (const auto header = reply.header("Retry-After")) {
        const std::string text = header->toStdString();
        if (const auto seconds = librelinkup::parseDecimal(text)) {
            delay = std::max(*seconds, kMinimumRetryDelay);
        } else if (const auto date = librelinkup::parseHTTPDate(text)) {
            delay = std::max(*date - clock_->now(), kMinimumRetryDelay);
        }
    }
    if (object) {
        const nlohmann::json *data = field(*object, "data");
        const nlohmann::json *inner = data ? field(*data, "data") : nullptr;
        const nlohmann::json *lockout = inner ? field(*inner, "lockout") : nullptr;
        if (!lockout && data) {
            lockout = field(*data, "lockout");
        }
        if (lockout && lockout->is_number()) {
            const double seconds = lockout->get<double>();
            if (std::isfinite(seconds) && seconds > delay) {
                delay = seconds;
            }
        }
    }
    return std::min(delay, kMaximumRetryDelay);
}

QCoro::Task<nlohmann::json> LibreLinkUpAPI::connectionList(std::stop_token stop)
{
    const QByteArray body = co_await authorizedRequest("/llu/connections", stop);
    nlohmann::json list = envelopeData(body);
    if (!list.is_array() || !std::all_of(list.begin(), list.end(), isConnectionPayload)) {
        throw Error(Error::Case::invalidResponse);
    }
    std::set<std::string> seen;
    for (const auto &connection : list) {
        const std::string id = connection.at("patientId").get<std::string>();
        // Identifiers go into request paths: plain letters, digits, "_" and "-" only.
        if (!isSafePatientId(id) || !seen.insert(id).second) {
            throw Error(Error::Case::invalidResponse);
        }
    }
    co_return list;
}

QCoro::Task<std::vector<LibreConnection>> LibreLinkUpAPI::fetchConnections(std::stop_token stop)
{
    auto keepAlive = weak_from_this().lock();
    auto turn = co_await queue_.acquire(stop);
    const nlohmann::json list = co_await connectionList(stop);
    std::vector<LibreConnection> connections;
    connections.reserve(list.size());
    for (const auto &payload : list) {
        std::string name;
        for (const char *key : {"firstName", "lastName"}) {
            if (const nlohmann::json *part = field(payload, key)) {
                name += name.empty() ? part->get<std::string>() : " " + part->get<std::string>();
            }
        }
        name = trimmed(name);
        connections.push_back({payload.at("patientId").get<std::string>(),
                               name.empty() ? "LibreLinkUp connection" : name});
    }
    co_return connections;
}

QCoro::Task<nlohmann::json> LibreLinkUpAPI::chooseConnection(std::stop_token stop)
{
    const nlohmann::json list = co_await connectionList(stop);
    if (patientID_) {
        for (const auto &payload : list) {
            if (payload.at("patientId").get<std::string>() == *patientID_) {
                co_return payload;
            }
        }
        throw Error(Error::Case::connectionUnavailable);
    }
    if (list.empty()) {
        throw Error(Error::Case::noConnections);
    }
    if (list.size() > 1) {
        throw Error(Error::Case::connectionSelectionRequired);
    }
    co_return list.front();
}

QCoro::Task<GlucoseReadings> LibreLinkUpAPI::fetchLatestReadings(std::stop_token stop)
{
    auto keepAlive = weak_from_this().lock();
    auto turn = co_await queue_.acquire(stop);

    const nlohmann::json chosen = co_await chooseConnection(stop);
    const std::string patientId = chosen.at("patientId").get<std::string>();
    const QByteArray body = co_await authorizedRequest("/llu/connections/" + patientId + "/graph", stop);

    const nlohmann::json graph = envelopeData(body);
    const nlohmann::json *connection = field(graph, "connection");
    const nlohmann::json *graphData = field(graph, "graphData");
    if (!connection || !isConnectionPayload(*connection) || !graphData || !graphData->is_array() ||
        !std::all_of(graphData->begin(), graphData->end(), isMeasurement)) {
        throw Error(Error::Case::invalidResponse);
    }
    if (connection->at("patientId").get<std::string>() != patientId) {
        throw Error(Error::Case::connectionUnavailable);
    }

    std::map<Date, GlucoseReading> byTime;
    for (const auto &point : *graphData) {
        GlucoseReading reading = readingFrom(point, 300);
        byTime.insert_or_assign(reading.date, std::move(reading));
    }
    for (const nlohmann::json *payload : {&chosen, connection}) {
        const nlohmann::json *current = field(*payload, "glucoseMeasurement");
        if (!current) {
            current = field(*payload, "glucoseItem");
        }
        if (current) {
            GlucoseReading reading = readingFrom(*current, 60);
            byTime.insert_or_assign(reading.date, std::move(reading));
        }
    }
    if (byTime.empty()) {
        throw Error(Error::Case::noReadingsAvailable);
    }
    GlucoseReadings readings;
    readings.reserve(byTime.size());
    for (auto &entry : byTime) {
        readings.push_back(std::move(entry.second));
    }
    co_return readings;
}

} // namespace quillby
