#include "providers/LibreLinkUpAPI.h"

#include "core/AsciiText.h"

#include <QString>
#include <QUrl>

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

namespace quillby {

namespace {

constexpr const char *kUserAgent =
    "Mozilla/5.0 (iPhone; CPU OS 17_4.1 like Mac OS X) AppleWebKit/536.26 (KHTML, like Gecko) "
    "Version/17.4.1 Mobile/10A5355d Safari/8536.25";

// Trimmed of white space and line breaks at both ends, Unicode spaces included.
std::string trimmed(const std::string &text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

std::string lowercased(std::string text)
{
    return asciiLowercased(std::move(text));
}

std::string sha256Hex(const std::string &text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw LibreLinkUpError(LibreLinkUpError::Case::invalidResponse);
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 0x0f]);
    }
    return out;
}

// Field of a decoded object: nullptr when absent or null.
const nlohmann::json *field(const nlohmann::json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

void checkCancelled(const std::stop_token &stop)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
}

} // namespace

LibreLinkUpAPI::LibreLinkUpAPI(std::string username, std::string password, std::string region,
                               std::optional<std::string> patientID, LibreLinkUpAPIOptions options)
    : username_(trimmed(username)), password_(std::move(password)),
      patientID_(patientID && !patientID->empty() ? std::move(patientID) : std::nullopt),
      session_(options.session), region_(lowercased(std::move(region))),
      clock_(options.clock ? std::move(options.clock) : std::make_shared<const SystemClock>()),
      hosts_(options.hosts.empty() ? defaultHosts() : std::move(options.hosts)),
      requestTimeout_(options.requestTimeout)
{
    if (!session_) {
        ownSession_ = std::make_unique<QNetworkAccessManager>();
        session_ = ownSession_.get();
    }
}

LibreLinkUpAPI::~LibreLinkUpAPI() = default;

std::map<std::string, std::string> LibreLinkUpAPI::defaultHosts()
{
    std::map<std::string, std::string> hosts;
    for (const char *code : {"ae", "ap", "au", "ca", "de", "fr", "jp", "la", "us"}) {
        hosts[code] = std::string("https://api-") + code + ".libreview.io";
    }
    hosts["auto"] = hosts["eu"] = "https://api-eu.libreview.io";
    hosts["eu2"] = hosts["gb"] = hosts["uk"] = "https://api-eu2.libreview.io";
    hosts["cn"] = "https://api-cn.myfreestyle.cn";
    hosts["ru"] = "https://api.libreview.ru";
    return hosts;
}

std::optional<std::string> LibreLinkUpAPI::ticketToken() const
{
    return ticket_ ? std::optional<std::string>(ticket_->token) : std::nullopt;
}

std::optional<std::string> LibreLinkUpAPI::hostFor(const std::string &region) const
{
    const auto found = hosts_.find(lowercased(region));
    if (found == hosts_.end()) {
        return std::nullopt;
    }
    return found->second;
}

QNetworkRequest LibreLinkUpAPI::makeRequest(const std::string &path) const
{
    const auto host = hostFor(region_);
    if (!host) {
        throw LibreLinkUpError(LibreLinkUpError::Case::invalidRegion);
    }
    const QUrl url(QString::fromStdString(*host + path), QUrl::StrictMode);
    if (!isAllowedServiceURL(url)) {
        throw LibreLinkUpError(LibreLinkUpError::Case::invalidRegion);
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json;charset=UTF-8");
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("version", "4.16.0");
    request.setRawHeader("product", "llu.ios");
    request.setRawHeader("User-Agent", kUserAgent);
    return request;
}

QCoro::Task<QByteArray> LibreLinkUpAPI::perform(QNetworkRequest request, QByteArray method,
                                                QByteArray body, bool isSignIn, std::stop_token stop)
{
    checkCancelled(stop);
    const Date now = clock_->now();
    if (throttleUntil_ && *throttleUntil_ > now) {
        throw LibreLinkUpError::rateLimited(*throttleUntil_ - now);
    }
    HttpReply reply;
    try {
        reply = co_await sendHttpRequest(session_, request, method, body, requestTimeout_, stop);
    } catch (const MalformedReplyError &) {
        throw LibreLinkUpError(LibreLinkUpError::Case::invalidResponse);
    }
    checkCancelled(stop);
    co_return validateResponse(reply, isSignIn);
}

QCoro::Task<void> LibreLinkUpAPI::signIn(std::stop_token stop)
{
    using Error = LibreLinkUpError;
    checkCancelled(stop);
    if (username_.empty() || password_.empty()) {
        throw Error(Error::Case::authenticationFailed);
    }
    ticket_.reset();
    accountHash_.reset();

    std::set<std::string> triedHosts;
    int redirects = 0;
    const auto firstHost = hostFor(region_);
    if (!firstHost) {
        throw Error(Error::Case::invalidRegion);
    }
    triedHosts.insert(*firstHost);

    const nlohmann::ordered_json loginBody = {{"email", username_}, {"password", password_}};
    const QByteArray body = QByteArray::fromStdString(
        loginBody.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));

    for (;;) {
        const QByteArray reply = co_await perform(makeRequest("/llu/auth/login"), "POST", body, true, stop);

        // The envelope and its payload: every payload field may be absent, none of the wrong kind.
        const Error invalid(Error::Case::invalidResponse);
        nlohmann::json envelope;
        try {
            envelope = nlohmann::json::parse(reply.constData(), reply.constData() + reply.size());
        } catch (const nlohmann::json::exception &) {
            throw invalid;
        }
        const nlohmann::json *data = envelope.is_object() ? field(envelope, "data") : nullptr;
        if (!data || !data->is_object()) {
            throw invalid;
        }
        const nlohmann::json *redirect = field(*data, "redirect");
        const nlohmann::json *regionField = field(*data, "region");
        const nlohmann::json *ticket = field(*data, "authTicket");
        const nlohmann::json *user = field(*data, "user");
        if ((redirect && !redirect->is_boolean()) || (regionField && !regionField->is_string())) {
            throw invalid;
        }
        const nlohmann::json *token = nullptr;
        const nlohmann::json *expires = nullptr;
        if (ticket) {
            token = ticket->is_object() ? field(*ticket, "token") : nullptr;
            expires = ticket->is_object() ? field(*ticket, "expires") : nullptr;
            if (!token || !token->is_string() || !expires || !expires->is_number()) {
                throw invalid;
            }
        }
        const nlohmann::json *userId = nullptr;
        if (user) {
            userId = user->is_object() ? field(*user, "id") : nullptr;
            if (!userId || !userId->is_string()) {
                throw invalid;
            }
        }

        if (redirect && redirect->get<bool>()) {
            if (!regionField) {
                throw Error(Error::Case::invalidRegion);
            }
            const std::string newRegion = lowercased(regionField->get<std::string>());
            if (!hostFor(newRegion)) {
                throw Error(Error::Case::invalidRegion);
            }
            region_ = newRegion;
            if (redirects == 2) {
                throw Error(Error::Case::invalidRegion);
            }
            ++redirects;
            const std::string host = *hostFor(newRegion);
            if (triedHosts.count(host) > 0) {
                throw Error(Error::Case::invalidRegion);
            }
            triedHosts.insert(host);
            continue;
        }

        if (!token || !userId) {
            throw invalid;
        }
        const std::string tokenText = token->get<std::string>();
        const double expiresAt = expires->get<double>();
        const std::string id = userId->get<std::string>();
        // The token goes into a header: refuse one that could break the header apart.
        if (tokenText.empty() || !isSafeHeaderValue(QByteArray::fromStdString(tokenText)) ||
            !std::isfinite(expiresAt) || !(expiresAt > clock_->now()) || id.empty()) {
            throw invalid;
        }
        checkCancelled(stop);
        ticket_ = AuthTicket{tokenText, expiresAt};
        accountHash_ = sha256Hex(id);
        co_return;
    }
}

bool LibreLinkUpAPI::hasUsableTicket() const
{
    return ticket_ && accountHash_ && ticket_->expires > clock_->now() + 30;
}

QCoro::Task<QByteArray> LibreLinkUpAPI::authorizedRequest(std::string path, std::stop_token stop)
{
    using Error = LibreLinkUpError;
    checkCancelled(stop);
    int attempt = 1;
    if (!hasUsableTicket()) {
        co_await signIn(stop);
    }
    for (;;) {
        if (!ticket_ || !accountHash_) {
            throw Error(Error::Case::sessionExpired);
        }
        QNetworkRequest request = makeRequest(path);
        const QByteArray authorization = QByteArray("Bearer ") + QByteArray::fromStdString(ticket_->token);
        const QByteArray accountId = QByteArray::fromStdString(*accountHash_);
        if (!isSafeHeaderValue(authorization) || !isSafeHeaderValue(accountId)) {
            throw Error(Error::Case::invalidResponse);
        }
        request.setRawHeader("Authorization", authorization);
        request.setRawHeader("Account-Id", accountId);

        bool expired = false;
        try {
            co_return co_await perform(request, "GET", {}, false, stop);
        } catch (const LibreLinkUpError &error) {
            if (error.kind != Error::Case::sessionExpired) {
                throw;
            }
            expired = true;
        }
        if (expired) {
            ticket_.reset();
            accountHash_.reset();
            if (attempt == 2) {
                throw Error(Error::Case::sessionExpired);
            }
            attempt = 2;
            checkCancelled(stop);
            co_await signIn(stop);
        }
    }
}

QCoro::Task<void> LibreLinkUpAPI::authenticate(std::stop_token stop)
{
    auto keepAlive = weak_from_this().lock();
    auto turn = co_await queue_.acquire(stop);
    co_await signIn(stop);
}

} // namespace quillby
