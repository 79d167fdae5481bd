#pragma once

#include "core/AppError.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <QCoroTask>

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

// What came back for one request.
struct HttpReply {
    bool isHttp = false;   // false: the transfer ended without an HTTP status
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;

    // The first header of that name (names compare without regard to case).
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// A reply that arrived whole but cannot be used as it is: its body is larger than the caller
// accepts (the transfer was abandoned once the body, or its declared length, passed the bound),
// or it could not be decoded (a broken or oversized compressed body). Callers treat it as a
// malformed reply.
class MalformedReplyError : public AppError {
public:
    using AppError::AppError;
};

// Bodies of the glucose services are a few hundred kilobytes at most.
constexpr qint64 kDefaultMaximumReplyBytes = 4 * 1024 * 1024;

// Sends one request and waits for the whole reply. The transfer is abandoned after `timeout`
// (NetworkError with timedOut set) or when stop is requested (OperationCancelledError). A
// transport failure (Qt network error codes 1-99: refused, closed early, TLS, time-out...)
// throws NetworkError even when a status line had already arrived, so a reply cut short is
// never taken for a complete one. A body over `maximumBodyBytes` throws MalformedReplyError.
// Non-2xx replies are returned, not thrown. A redirect is returned as it came, unless the
// request itself sets a redirect policy.
QCoro::Task<HttpReply> sendHttpRequest(QNetworkAccessManager *manager, QNetworkRequest request,
                                       QByteArray method, QByteArray body,
                                       std::chrono::milliseconds timeout, std::stop_token stop,
                                       qint64 maximumBodyBytes = kDefaultMaximumReplyBytes);

// True for https URLs, and for plain http to a loopback address (local test servers).
bool isAllowedServiceURL(const QUrl &url);

// True when the text can travel as one HTTP header value (no control characters, so no CR/LF).
bool isSafeHeaderValue(const QByteArray &value);

} // namespace quillby
