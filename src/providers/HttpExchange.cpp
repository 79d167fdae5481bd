#include "providers/HttpExchange.h"

#include "core/OperationCancelledError.h"
#include "core/async/NetworkReplyWait.h"
#include "providers/NetworkError.h"

#include <QHostAddress>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

namespace quillby {

std::optional<QByteArray> HttpReply::header(const QByteArray &name) const
{
    for (const auto &pair : headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0) {
            return pair.second;
        }
    }
    return std::nullopt;
}

QCoro::Task<HttpReply> sendHttpRequest(QNetworkAccessManager *manager, QNetworkRequest request,
                                       QByteArray method, QByteArray body,
                                       std::chrono::milliseconds timeout, std::stop_token stop,
                                       qint64 maximumBodyBytes)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
    // Bodies come as they are, not compressed: Qt's decompression can end a large body early
    // without reporting an error, and the bound and length checks below must see the real bytes.
    request.setRawHeader("Accept-Encoding", "identity");
    // Redirects are followed only where the caller asked for it: a request that carries a
    // password, a session or a signature must never be sent on to another address.
    if (!request.attribute(QNetworkRequest::RedirectPolicyAttribute).isValid()) {
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    }
    OwnedNetworkReply reply(
        method == "GET" && body.isEmpty() ? manager->get(request)
                                          : manager->sendCustomRequest(request, method, body));
    QNetworkReply *raw = reply.get();

    bool timedOut = false;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, raw, [raw, &timedOut] {
        timedOut = true;
        abortLater(raw);
    });
    deadline.start(timeout);

    // The body is taken out of the reply as it arrives, so at most the bound (plus one network
    // read) is ever held; past the bound the rest is dropped and the transfer abandoned.
    QByteArray received;
    bool tooLarge = false;
    QObject watcher;   // the connections below end with this frame, not with the reply
    const auto exceed = [raw, &received, &tooLarge] {
        if (!tooLarge) {
            tooLarge = true;
            received = QByteArray();
            abortLater(raw);
        }
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, &watcher, [raw, maximumBodyBytes, exceed] {
        bool known = false;
        const qint64 declared = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && declared > maximumBodyBytes) {
            exceed();
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, &watcher, [raw, maximumBodyBytes, &received, &tooLarge, exceed] {
        const QByteArray chunk = raw->readAll();
        if (tooLarge) {
            return;
        }
        if (received.size() + chunk.size() > maximumBodyBytes) {
            exceed();
            return;
        }
        received.append(chunk);
    });

    co_await waitForReplyUnlessStopped(raw, stop, [cancelled] { cancelled->store(true); });
    deadline.stop();
    QObject::disconnect(raw, nullptr, &watcher, nullptr);

    if (cancelled->load() || stop.stop_requested()) {
        throw OperationCancelledError();
    }
    const auto tooLargeError = [maximumBodyBytes] {
        return MalformedReplyError("The reply is larger than " + std::to_string(maximumBodyBytes) + " bytes.");
    };
    if (tooLarge) {
        throw tooLargeError();
    }
    const QNetworkReply::NetworkError error = raw->error();
    if (error == QNetworkReply::OperationCanceledError && timedOut) {
        throw NetworkError(QNetworkReply::TimeoutError, true, "The request timed out.");
    }
    // Codes 1-99 are failures of the connection itself: whatever status line came first, the
    // body cannot be trusted to be complete.
    if (error > QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError) {
        throw NetworkError(error, false, raw->errorString().toStdString());
    }
    const QVariant statusAttribute = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (statusAttribute.isValid()) {
        const int status = statusAttribute.toInt();
        // A success status with an error means the body could not be decoded.
        if (status >= 200 && status <= 299 && error != QNetworkReply::NoError) {
            throw MalformedReplyError("The reply could not be decoded: " + raw->errorString().toStdString());
        }
        const QByteArray rest = raw->readAll();
        if (received.size() + rest.size() > maximumBodyBytes) {
            throw tooLargeError();
        }
        received.append(rest);
        // For an error status Qt reports the status, not a connection closed early: compare
        // with the declared length.
        bool known = false;
        const qint64 declared = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && received.size() < declared) {
            throw NetworkError(QNetworkReply::RemoteHostClosedError, false,
                               "The connection closed before the whole reply arrived.");
        }
        HttpReply result;
        result.isHttp = true;
        result.status = status;
        result.body = std::move(received);
        result.headers = raw->rawHeaderPairs();
        co_return result;
    }
    if (error != QNetworkReply::NoError) {
        throw NetworkError(error, false, raw->errorString().toStdString());
    }
    co_return HttpReply{};
}

bool isAllowedServiceURL(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty()) {
        return false;
    }
    if (url.scheme() == QLatin1String("https")) {
        return true;
    }
    if (url.scheme() != QLatin1String("http")) {
        return false;
    }
    if (url.host() == QLatin1String("localhost")) {
        return true;
    }
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

bool isSafeHeaderValue(const QByteArray &value)
{
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

} // namespace quillby
