#pragma once

#include "providers/HttpExchange.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <map>
#include <stop_token>

namespace quillby {

// What every exchange with the product's server shares: the network, the reply time-out, the
// operating-system text and the platform name on the wire.
struct AppServerConnection {
    QNetworkAccessManager *network = nullptr;
    std::chrono::milliseconds timeout{60000};
    // The operating system's version text; made printable ASCII before it is used.
    std::function<QString()> operatingSystemVersion;
};

namespace app_server {

inline const QString kPlatform = QStringLiteral("Linux");
inline const QString kRegisterPath = QStringLiteral("/api/alive/register");
inline const QString kAlivePath = QStringLiteral("/api/alive");
inline const QString kFeedbackPath = QStringLiteral("/api/feedback");

// The four signature headers, by name.
using SignatureHeaders = std::map<QByteArray, QByteArray>;

// The operating system's version text as the desktop describes it (e.g. "Debian GNU/Linux 12
// (bookworm)").
QString systemOperatingSystemVersion();
// The text as it may enter a header and the signed data: control characters dropped, other
// characters outside printable ASCII replaced by "?", trimmed, at most 128 characters; "unknown"
// when nothing is left.
QString printableASCII(const QString &text);
QString operatingSystemVersion(const AppServerConnection &connection);

// "Quillby/<version> (Linux; <os version>)".
QString userAgent(const QString &appVersion, const QString &osVersion);

// An installation identifier as it may appear in a log line: its first 8 characters and "…".
std::string shortIdentifier(const QString &installationID);

// The base address with a path appended ("https://host" + "/api/alive"); an address that is
// not https, or plain http to a loopback address, gives an invalid URL.
QUrl endpointURL(const QString &baseURL, const QString &path);

// A POST of JSON to the product's server with the headers every request carries, in order:
// Content-Type, User-Agent, the marker header set to "1", X-Quillby-Platform,
// X-Quillby-App-Version, then the signature headers. Redirects are never followed.
QNetworkRequest makeRequest(const QUrl &url, const QString &userAgent, const QByteArray &markerHeader,
                            const QString &appVersion, const SignatureHeaders &signature);

// Sends one such request. A reply without an HTTP status, a transport failure and a time-out all
// throw NetworkError (their description is the text for the log); a stop throws
// OperationCancelledError.
QCoro::Task<HttpReply> post(AppServerConnection connection, QNetworkRequest request, QByteArray body,
                            std::stop_token stop);

} // namespace app_server
} // namespace quillby
