#include "providers/HttpExchange.h"

#include "core/OperationCancelledError.h"
#include "providers/NetworkError.h"

#include <QCoroNetworkReply>
#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
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

namespace {

struct DeleteLater {
    void operator()(QObject *object) const
    {
        if (object) {
            object->deleteLater();
        }
    }
};

// Aborts on a later event-loop turn: an abort resumes the awaiting coroutine inside abort().
void abortLater(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, [reply] { reply->abort(); }, Qt::QueuedConnection);
}

} // namespace

QCoro::Task<HttpReply> sendHttpRequest(QNetworkAccessManager *manager, QNetworkRequest request,
                                       QByteArray method, QByteArray body,
                                       std::chrono::milliseconds timeout, std::stop_token stop)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
    std::unique_ptr<QNetworkReply, DeleteLater> reply(
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

    QPointer<QNetworkReply> guarded(raw);
    {
        // Stop may be requested from any thread: the abort runs later on the main loop, and
        // only if the reply still exists then.
        std::stop_callback onStop(stop, [guarded, cancelled] {
            cancelled->store(true);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guarded] {
                    if (guarded) {
                        guarded->abort();
                    }
                },
                Qt::QueuedConnection);
        });
        if (!raw->isFinished()) {
            co_await qCoro(raw).waitForFinished();
        }
    }
    deadline.stop();

    if (cancelled->load() || stop.stop_requested()) {
        throw OperationCancelledError();
    }
    const QVariant statusAttribute = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (statusAttribute.isValid() && raw->error() != QNetworkReply::OperationCanceledError) {
        HttpReply result;
        result.isHttp = true;
        result.status = statusAttribute.toInt();
        result.body = raw->readAll();
        result.headers = raw->rawHeaderPairs();
        co_return result;
    }
    if (raw->error() == QNetworkReply::OperationCanceledError && timedOut) {
        throw NetworkError(QNetworkReply::TimeoutError, true, "The request timed out.");
    }
    if (raw->error() != QNetworkReply::NoError) {
        throw NetworkError(raw->error(), false, raw->errorString().toStdString());
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
