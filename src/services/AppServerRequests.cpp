#include "services/AppServerRequests.h"

#include "providers/NetworkError.h"

#include <QSysInfo>

namespace quillby::app_server {

QString systemOperatingSystemVersion()
{
    const QString pretty = QSysInfo::prettyProductName();
    return pretty.isEmpty() ? QSysInfo::kernelType() + QLatin1Char(' ') + QSysInfo::kernelVersion() : pretty;
}

QString printableASCII(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0)) {
            continue;   // control characters
        }
        result.append(u < 0x7f ? c : QLatin1Char('?'));
    }
    result = result.trimmed().left(128).trimmed();
    return result.isEmpty() ? QStringLiteral("unknown") : result;
}

QString operatingSystemVersion(const AppServerConnection &connection)
{
    return printableASCII(connection.operatingSystemVersion ? connection.operatingSystemVersion()
                                                            : systemOperatingSystemVersion());
}

QString userAgent(const QString &appVersion, const QString &osVersion)
{
    return QStringLiteral("Quillby/") + appVersion + QStringLiteral(" (") + kPlatform + QStringLiteral("; ") +
           osVersion + QLatin1Char(')');
}

std::string shortIdentifier(const QString &installationID)
{
    return installationID.left(8).toStdString() + "\u2026";
}

QUrl endpointURL(const QString &baseURL, const QString &path)
{
    QString base = baseURL.trimmed();
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    const QUrl url(base + path, QUrl::StrictMode);
    if (base.isEmpty() || !isAllowedServiceURL(url) || !url.query().isEmpty() || !url.fragment().isEmpty()) {
        return {};
    }
    return url;
}

QNetworkRequest makeRequest(const QUrl &url, const QString &userAgent, const QByteArray &markerHeader,
                            const QString &appVersion, const SignatureHeaders &signature)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("User-Agent", userAgent.toLatin1());
    request.setRawHeader(markerHeader, "1");
    request.setRawHeader("X-Quillby-Platform", kPlatform.toLatin1());
    request.setRawHeader("X-Quillby-App-Version", appVersion.toLatin1());
    for (const auto &[name, value] : signature) {
        request.setRawHeader(name, value);
    }
    return request;
}

QCoro::Task<HttpReply> post(AppServerConnection connection, QNetworkRequest request, QByteArray body,
                            std::stop_token stop)
{
    // Only https, or http to this computer, ever carries a signed request.
    if (!isAllowedServiceURL(request.url())) {
        throw NetworkError(QNetworkReply::ProtocolUnknownError, false,
                           "The server address is not an https address.");
    }
    HttpReply reply =
        co_await sendHttpRequest(connection.network, std::move(request), "POST", std::move(body), connection.timeout, stop);
    if (!reply.isHttp) {
        throw NetworkError(QNetworkReply::ProtocolFailure, false, "The server's reply was not an HTTP reply.");
    }
    co_return reply;
}

} // namespace quillby::app_server
