#pragma once

#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <stop_token>

namespace quillby {

// How one file download ended.
struct UpdateDownloadResult {
    enum class Kind { complete, cancelled, failed };
    Kind kind = Kind::failed;
    QString failure;   // why it failed, for the log
};

// What one download may take.
struct UpdateDownloadLimits {
    qint64 expectedBytes = -1;                    // the file's stated length; more is refused
    qint64 maximumBytes = 0;                      // a hard cap over any statement
    std::chrono::milliseconds stallTimeout{60000};  // no byte for this long ends the transfer
    std::chrono::milliseconds timeout{30 * 60 * 1000};   // the whole transfer
};

// Downloads `url` into a new file at `path` (created 0600; an existing file there is replaced
// only by a whole download). The address must be https, or plain http to a loopback address;
// a redirect is followed only to https, or from plain-http loopback to plain-http loopback, so
// a download never moves down to plain http. The body must be exactly the expected length
// (when one is stated) and never over the cap. On any outcome but `complete` nothing is left at
// `path`. Main thread only; the awaiting coroutine resumes on the main loop.
QCoro::Task<UpdateDownloadResult> downloadFile(QNetworkAccessManager *manager, QUrl url, QString path,
                                               UpdateDownloadLimits limits, QByteArray userAgent,
                                               std::stop_token stop);

// True when a redirect from `from` to `to` keeps a download at least as safe as it started.
bool isAllowedDownloadRedirect(const QUrl &from, const QUrl &to);

} // namespace quillby
