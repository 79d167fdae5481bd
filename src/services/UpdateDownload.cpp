#include "services/UpdateDownload.h"

#include "core/async/NetworkReplyWait.h"
#include "providers/HttpExchange.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace quillby {

namespace {

UpdateDownloadResult failed(QString why)
{
    return {UpdateDownloadResult::Kind::failed, std::move(why)};
}

} // namespace

bool isAllowedDownloadRedirect(const QUrl &from, const QUrl &to)
{
    if (!to.isValid() || to.host().isEmpty()) {
        return false;
    }
    if (to.scheme() == QLatin1String("https")) {
        return true;
    }
    // Plain http only where the download already was plain http on this machine.
    return from.scheme() == QLatin1String("http") && isAllowedServiceURL(from) && isAllowedServiceURL(to);
}

QCoro::Task<UpdateDownloadResult> downloadFile(QNetworkAccessManager *manager, QUrl url, QString path,
                                               UpdateDownloadLimits limits, QByteArray userAgent,
                                               std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return UpdateDownloadResult{UpdateDownloadResult::Kind::cancelled, {}};
    }
    if (!manager || !isAllowedServiceURL(url)) {
        co_return failed(QStringLiteral("the download address is not https"));
    }
    const qint64 bound = limits.expectedBytes >= 0 ? std::min(limits.expectedBytes, limits.maximumBytes)
                                                   : limits.maximumBytes;
    if (limits.expectedBytes > limits.maximumBytes) {
        co_return failed(QStringLiteral("the file is larger than an update may be"));
    }
    // A partial file from an earlier try is not resumed: the download starts afresh.
    const QString partPath = path + QStringLiteral(".part");
    QFile::remove(partPath);
    QFile file(partPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        co_return failed(QStringLiteral("the download file could not be created: ") + file.errorString());
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setRawHeader("Accept-Encoding", "identity");
    request.setRawHeader("User-Agent", userAgent);
    request.setTransferTimeout(static_cast<int>(limits.stallTimeout.count()));
    OwnedNetworkReply reply(manager->get(request));
    QNetworkReply *raw = reply.get();

    QString refused;   // set when the transfer was abandoned on purpose, with the reason
    bool timedOut = false;
    qint64 received = 0;
    bool writeFailed = false;
    QObject watcher;   // the connections below end with this frame
    const auto refuse = [raw, &refused](QString why) {
        if (refused.isEmpty()) {
            refused = std::move(why);
            abortLater(raw);
        }
    };
    QUrl current = url;
    QObject::connect(raw, &QNetworkReply::redirected, &watcher, [raw, &current, refuse](const QUrl &target) {
        const QUrl resolved = current.resolved(target);
        if (!isAllowedDownloadRedirect(current, resolved)) {
            refuse(QStringLiteral("a redirect to a non-https address was refused"));
            return;
        }
        current = resolved;
        emit raw->redirectAllowed();
    });
    QObject::connect(raw, &QNetworkReply::metaDataChanged, &watcher, [raw, bound, refuse] {
        bool known = false;
        const qint64 declared = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && declared > bound) {
            refuse(QStringLiteral("the file is larger than stated"));
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, &watcher, [raw, bound, &received, &file, &writeFailed, refuse] {
        const QByteArray chunk = raw->readAll();
        const int status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 200 || status > 299) {
            return;   // a redirect's or an error's body
        }
        if (received + chunk.size() > bound) {
            refuse(QStringLiteral("the file is larger than stated"));
            return;
        }
        received += chunk.size();
        if (file.write(chunk) != chunk.size()) {
            writeFailed = true;
            refuse(QStringLiteral("the download could not be written: ") + file.errorString());
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, raw, [raw, &timedOut] {
        timedOut = true;
        abortLater(raw);
    });
    deadline.start(limits.timeout);

    co_await waitForReplyUnlessStopped(raw, stop);
    deadline.stop();
    QObject::disconnect(raw, nullptr, &watcher, nullptr);

    const auto discard = [&file] {
        file.close();
        file.remove();
    };
    if (stop.stop_requested()) {
        discard();
        co_return UpdateDownloadResult{UpdateDownloadResult::Kind::cancelled, {}};
    }
    if (!refused.isEmpty()) {
        discard();
        co_return failed(refused);
    }
    if (timedOut || raw->error() == QNetworkReply::OperationCanceledError) {
        discard();
        co_return failed(QStringLiteral("the download timed out"));
    }
    const int status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 0 && (status < 200 || status > 299)) {
        discard();
        co_return failed(QStringLiteral("the server answered with status %1").arg(status));
    }
    if (raw->error() != QNetworkReply::NoError) {
        discard();
        co_return failed(QStringLiteral("the download failed: ") + raw->errorString());
    }
    if (status < 200 || status > 299) {
        discard();
        co_return failed(QStringLiteral("the server answered with status %1").arg(status));
    }
    const QByteArray rest = raw->readAll();
    if (received + rest.size() > bound) {
        discard();
        co_return failed(QStringLiteral("the file is larger than stated"));
    }
    received += rest.size();
    if (file.write(rest) != rest.size() || !file.flush() || writeFailed) {
        discard();
        co_return failed(QStringLiteral("the download could not be written: ") + file.errorString());
    }
    if (limits.expectedBytes >= 0 && received != limits.expectedBytes) {
        discard();
        co_return failed(QStringLiteral("the download was cut short"));
    }
    file.close();
    QFile::remove(path);
    if (!QFile::rename(partPath, path)) {
        QFile::remove(partPath);
        co_return failed(QStringLiteral("the download could not be kept"));
    }
    co_return UpdateDownloadResult{UpdateDownloadResult::Kind::complete, {}};
}

} // namespace quillby
