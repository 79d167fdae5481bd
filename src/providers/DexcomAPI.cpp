#include "providers/DexcomAPI.h"

#include "providers/DexcomReadingRecord.h"
#include "providers/HttpExchange.h"
#include "providers/LibreLinkUpDates.h"

#include <QNetworkRequest>
#include <QString>
#include <QStringDecoder>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace quillby {

namespace {

constexpr const char *kZeroUUID = "00000000-0000-0000-0000-000000000000";
constexpr const char *kCheckCredentials = "Please check your credentials.";
constexpr const char *kAccountLocked =
    "Dexcom Share has temporarily locked this account after too many sign-in attempts. "
    "Wait 30 minutes before signing in again: every attempt before then keeps it locked.";
static_assert(DexcomError::kAccountLockoutWait == 30 * 60, "the lockout text names the wait");

std::string jsonText(const nlohmann::json &body)
{
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The longest wait a Retry-After is taken at its word for (7 days).
constexpr double kMaximumRetryAfter = 604800;

// The service reports its faults as {"Code": "...", "Message": "...", ...} (with HTTP 500).
std::optional<std::string> faultText(const std::optional<nlohmann::json> &body, const char *key)
{
    if (!body || !body->is_object()) {
        return std::nullopt;
    }
    const auto value = body->find(key);
    if (value == body->end() || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<std::string> faultCode(const std::optional<nlohmann::json> &body)
{
    return faultText(body, "Code");
}

std::optional<nlohmann::json> parsedJSON(const QByteArray &body)
{
    try {
        return nlohmann::json::parse(body.constData(), body.constData() + body.size());
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

// A wrong user name or password. The service names an unknown account name in two ways: its
// own code, or its internal-error code with a message that says so.
bool isCredentialsFault(const std::string &code, const std::optional<std::string> &message)
{
    if (code == "AccountPasswordInvalid" || code == "SSO_AuthenticatePasswordInvalid" ||
        code == "SSO_AuthenticateAccountNotFound") {
        return true;
    }
    return code == "SSO_InternalError" && message &&
           std::string_view(*message).starts_with("Cannot Authenticate by AccountName");
}

// The account locked after too many sign-in attempts (the service spells it "Exceeed").
bool isLockoutFault(const std::string &code)
{
    return code == "SSO_AuthenticateMaxAttemptsExceeed";
}

bool isSessionFault(const std::string &code)
{
    return code == "SessionIdNotFound" || code == "SessionNotValid";
}

} // namespace

DexcomAPI::DexcomAPI(std::string username, std::string password, std::string region,
                     DexcomAPIOptions options)
    : baseURLs_(options.baseURLs.empty() ? defaultBaseURLs() : std::move(options.baseURLs)),
      region_(std::move(region)), username_(std::move(username)), password_(std::move(password)),
      session_(options.session), requestTimeout_(options.requestTimeout),
      clock_(options.clock ? std::move(options.clock) : std::make_shared<SystemClock>())
{
    if (!session_) {
        ownSession_ = std::make_unique<QNetworkAccessManager>();
        session_ = ownSession_.get();
    }
}

DexcomAPI::~DexcomAPI() = default;

std::map<std::string, std::string> DexcomAPI::defaultBaseURLs()
{
    return {
        {"us", "https://share2.dexcom.com/ShareWebServices/Services"},
        {"ous", "https://shareous1.dexcom.com/ShareWebServices/Services"},
        {"jp", "https://share.dexcom.jp/ShareWebServices/Services/"},
    };
}

std::map<std::string, std::string> DexcomAPI::baseURLsAt(const std::string &origin)
{
    return {
        {"us", origin + "/ShareWebServices/Services"},
        {"ous", origin + "/ShareWebServices/Services"},
        {"jp", origin + "/ShareWebServices/Services/"},
    };
}

std::optional<std::string> DexcomAPI::applicationId(const std::string &region)
{
    if (region == "us" || region == "ous") {
        return "d89443d2-327c-4a6f-89e5-496bbb0317db";
    }
    if (region == "jp") {
        return "d8665ade-9673-4e27-9ff6-92db4ce13d13";
    }
    return std::nullopt;
}

std::pair<const char *, const char *> DexcomAPI::pathAndName(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::authenticatePublisherAccount:
        return {"General/AuthenticatePublisherAccount", "AuthenticatePublisherAccount"};
    case Endpoint::loginPublisherAccountById:
        return {"General/LoginPublisherAccountById", "LoginPublisherAccountById"};
    case Endpoint::readLatestGlucoseValues:
        break;
    }
    return {"Publisher/ReadPublisherLatestGlucoseValues", "ReadPublisherLatestGlucoseValues"};
}

QUrl DexcomAPI::endpointURL(Endpoint endpoint) const
{
    const auto found = baseURLs_.find(region_);
    if (found == baseURLs_.end()) {
        throw DexcomError::invalidRegion();
    }
    std::string base = found->second;
    if (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    const auto [path, name] = pathAndName(endpoint);
    const QUrl url(QString::fromStdString(base + "/" + path), QUrl::StrictMode);
    if (!isAllowedServiceURL(url)) {
        throw DexcomError::invalidURL(name);
    }
    return url;
}

QCoro::Task<QByteArray> DexcomAPI::checkResponse(Endpoint endpoint, QUrl url, QByteArray body,
                                                 std::stop_token stop, bool sessionIsFresh)
{
    QNetworkRequest request(url);
    // A redirect is never followed: the body carries the password or the session.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    HttpReply reply;
    try {
        reply = co_await sendHttpRequest(session_, request, "POST", body, requestTimeout_, stop);
    } catch (const MalformedReplyError &) {
        throw DexcomError::invalidResponse();
    }
    if (!reply.isHttp) {
        throw DexcomError::invalidResponse();
    }
    if (reply.status >= 200 && reply.status <= 299) {
        co_return reply.body;
    }
    throwForFailedReply(endpoint, reply, sessionIsFresh);
}

std::optional<double> DexcomAPI::retryAfter(const HttpReply &reply) const
{
    const auto header = reply.header("Retry-After");
    if (!header) {
        return std::nullopt;
    }
    const std::string text = header->toStdString();
    std::optional<double> seconds = librelinkup::parseDecimal(text);
    if (!seconds) {
        if (const auto date = librelinkup::parseHTTPDate(text)) {
            seconds = *date - clock_->now();
        }
    }
    if (!seconds || !(*seconds > 0)) {
        return std::nullopt;
    }
    return std::min(*seconds, kMaximumRetryAfter);
}

void DexcomAPI::throwForFailedReply(Endpoint endpoint, const HttpReply &reply, bool sessionIsFresh)
{
    const bool isSignIn = endpoint != Endpoint::readLatestGlucoseValues;
    const auto dropSession = [this] {
        sessionId_.reset();
        accountId_.reset();
    };
    const std::optional<nlohmann::json> json = parsedJSON(reply.body);

    // The fault code names the cause better than the status does.
    if (const auto code = faultCode(json)) {
        if (isLockoutFault(*code)) {
            dropSession();
            if (!isSignIn) {
                throw DexcomError::sessionExpired();
            }
            DexcomError error = endpoint == Endpoint::authenticatePublisherAccount
                                    ? DexcomError::authenticationFailed(kAccountLocked)
                                    : DexcomError::loginFailed(kAccountLocked);
            error.accountLocked = true;
            throw error;
        }
        if (isCredentialsFault(*code, faultText(json, "Message"))) {
            dropSession();
            if (!isSignIn) {
                throw DexcomError::sessionExpired();
            }
            DexcomError error = endpoint == Endpoint::authenticatePublisherAccount
                                    ? DexcomError::authenticationFailed(kCheckCredentials)
                                    : DexcomError::loginFailed(kCheckCredentials);
            error.credentialsRejected = true;
            throw error;
        }
        if (isSessionFault(*code)) {
            dropSession();
            throw DexcomError::sessionExpired();
        }
        if (*code == "InvalidArgument" && isSignIn) {
            throw DexcomError::loginFailed("Unable to start a Dexcom session.");
        }
    }
    if (reply.status == 401 || reply.status == 403) {
        dropSession();
        // A page that is not JSON comes from a proxy or firewall in the way, not from the
        // service judging the credentials or the session.
        if (!json) {
            throw DexcomError::invalidResponse();
        }
        if (endpoint == Endpoint::authenticatePublisherAccount) {
            throw DexcomError::authenticationFailed(kCheckCredentials);
        }
        if (endpoint == Endpoint::loginPublisherAccountById) {
            throw DexcomError::loginFailed(kCheckCredentials);
        }
        throw DexcomError::sessionExpired();
    }
    if (reply.status == 500 && !isSignIn && !sessionIsFresh) {
        // A readings request refused with a fault: the session is the usual cause, though the
        // service does not always say so. A session issued a moment ago is not: then the
        // service itself is failing.
        dropSession();
        throw DexcomError::sessionExpired();
    }
    if (reply.status == 429) {
        DexcomError error = DexcomError::serverError(reply.status);
        error.retryAfter = retryAfter(reply);
        throw error;
    }
    if (reply.status >= 500 && reply.status <= 599) {
        throw DexcomError::serverError(reply.status);
    }
    throw DexcomError::invalidResponse();
}

std::string DexcomAPI::identifierFromReply(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(body);
    if (decoder.hasError()) {
        throw DexcomError::invalidResponse();
    }
    std::string value = text.toStdString();
    // A quoted identifier without its closing quote is a reply cut short.
    if (!value.empty() && value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
        throw DexcomError::invalidResponse();
    }
    const auto first = value.find_first_not_of('"');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = value.find_last_not_of('"');
    return value.substr(first, last - first + 1);
}

QCoro::Task<std::string> DexcomAPI::authenticatePublisherAccount(std::string applicationId,
                                                                 std::stop_token stop)
{
    nlohmann::json body = {
        {"applicationId", applicationId}, {"accountName", username_}, {"password", password_}};
    const QByteArray reply = co_await checkResponse(Endpoint::authenticatePublisherAccount,
                                                    endpointURL(Endpoint::authenticatePublisherAccount),
                                                    QByteArray::fromStdString(jsonText(body)), stop);
    const std::string accountId = identifierFromReply(reply);
    if (accountId.empty() || accountId == kZeroUUID) {
        throw DexcomError::authenticationFailed(kCheckCredentials);
    }
    co_return accountId;
}

QCoro::Task<std::string> DexcomAPI::loginPublisherAccount(std::string accountId,
                                                          std::string applicationId, std::stop_token stop)
{
    nlohmann::json body = {
        {"applicationId", applicationId}, {"accountId", accountId}, {"password", password_}};
    const QByteArray reply = co_await checkResponse(Endpoint::loginPublisherAccountById,
                                                    endpointURL(Endpoint::loginPublisherAccountById),
                                                    QByteArray::fromStdString(jsonText(body)), stop);
    const std::string sessionId = identifierFromReply(reply);
    if (sessionId.empty() || sessionId == kZeroUUID) {
        throw DexcomError::loginFailed("Unable to start a Dexcom session.");
    }
    co_return sessionId;
}

QCoro::Task<void> DexcomAPI::signIn(std::stop_token stop)
{
    // Blank means nothing but white space (Unicode spaces and line breaks included).
    if (QString::fromStdString(username_).trimmed().isEmpty()) {
        throw DexcomError::authenticationFailed("Username is required");
    }
    if (password_.empty()) {
        throw DexcomError::authenticationFailed("Password is required");
    }
    const auto appId = applicationId(region_);
    if (!appId) {
        throw DexcomError::invalidRegion();
    }
    sessionIsFresh_ = false;
    accountId_ = co_await authenticatePublisherAccount(*appId, stop);
    sessionId_ = co_await loginPublisherAccount(*accountId_, *appId, stop);
    sessionIsFresh_ = true;
}

QCoro::Task<void> DexcomAPI::authenticate(std::stop_token stop)
{
    auto keepAlive = weak_from_this().lock();
    auto turn = co_await queue_.acquire(stop);
    co_await signIn(stop);
}

QCoro::Task<GlucoseReadings> DexcomAPI::fetchLatestReadings(std::stop_token stop)
{
    auto keepAlive = weak_from_this().lock();
    auto turn = co_await queue_.acquire(stop);

    if (!sessionId_ || !accountId_) {
        co_await signIn(stop);
    }
    if (!sessionId_) {
        throw DexcomError::sessionExpired();
    }
    // The service reads the three parameters from the query string; the body repeats them.
    QUrl url = endpointURL(Endpoint::readLatestGlucoseValues);
    url.setQuery(QStringLiteral("sessionId=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(*sessionId_))) +
                     QStringLiteral("&minutes=1440&maxCount=288"),
                 QUrl::StrictMode);
    const nlohmann::json body = {{"sessionId", *sessionId_}, {"minutes", 1440}, {"maxCount", 288}};
    const bool sessionIsFresh = std::exchange(sessionIsFresh_, false);
    const QByteArray reply = co_await checkResponse(Endpoint::readLatestGlucoseValues, url,
                                                    QByteArray::fromStdString(jsonText(body)), stop, sessionIsFresh);

    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(reply.constData(), reply.constData() + reply.size());
    } catch (const nlohmann::json::exception &) {
        throw DexcomError::parsingFailed("The reply is not valid JSON.");
    }
    const auto notArray = DexcomError::parsingFailed("Expected an array of glucose readings");
    if (!parsed.is_array()) {
        throw notArray;
    }
    for (const auto &record : parsed) {
        if (!record.is_object()) {
            throw notArray;
        }
    }

    GlucoseReadings readings;
    readings.reserve(parsed.size());
    for (const auto &record : parsed) {
        GlucoseReading reading = glucoseReadingFromDexcomJSON(record);
        // A value of zero, below zero or not finite is no glucose reading.
        if (!std::isfinite(reading.mgdL) || !(reading.mgdL > 0)) {
            throw GlucoseReadingError(GlucoseReadingError::Case::invalidFormat);
        }
        readings.push_back(std::move(reading));
    }
    std::reverse(readings.begin(), readings.end());
    co_return removeCloseDuplicates(readings);
}

GlucoseReadings DexcomAPI::removeCloseDuplicates(const GlucoseReadings &readings)
{
    GlucoseReadings kept;
    kept.reserve(readings.size());
    for (const auto &reading : readings) {
        if (!kept.empty()) {
            const GlucoseReading &last = kept.back();
            const double gap = reading.date - last.date;
            if (gap >= 0 && gap <= 30 && reading.mgdL == last.mgdL &&
                reading.trendString == last.trendString) {
                continue;
            }
        }
        kept.push_back(reading);
    }
    return kept;
}

} // namespace quillby
