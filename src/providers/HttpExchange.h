#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <QCoroTask>

#include <chrono>
#include <optional>
#include <stop_token>

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

// Sends one request and waits for the whole reply. The transfer is abandoned after `timeout`
// (NetworkError with timedOut set) or when stop is requested (OperationCancelledError). Any other
// failure without an HTTP status throws NetworkError. Non-2xx replies are returned, not thrown.
QCoro::Task<HttpReply> sendHttpRequest(QNetworkAccessManager *manager, QNetworkRequest request,
                                       QByteArray method, QByteArray body,
                                       std::chrono::milliseconds timeout, std::stop_token stop);

// True for https URLs, and for plain http to a loopback address (local test servers).
bool isAllowedServiceURL(const QUrl &url);

// True when the text can travel as one HTTP header value (no control characters, so no CR/LF).
bool isSafeHeaderValue(const QByteArray &value);

} // namespace quillby
