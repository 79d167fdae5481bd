#pragma once

#include "core/ScopedLogger.h"
#include "services/AppServerAuthProvider.h"
#include "services/AppServerRequests.h"
#include "services/FeedbackSubmitting.h"

#include <QUrl>

#include <memory>

namespace quillby {

// Sends feedback to the product's server as a signed JSON POST to "/api/feedback" and turns
// every outcome into success or one of the four errors. Main thread; a submission keeps the
// service alive until it ends.
class FeedbackSubmissionService final : public FeedbackSubmitting,
                                        public std::enable_shared_from_this<FeedbackSubmissionService> {
public:
    struct Dependencies {
        AppServerConnection connection;
        QString feedbackURL;   // the server + "/api/feedback"
        std::shared_ptr<AppServerAuthProvider> authProvider;
        QString appVersion;    // empty: "Unknown"
    };

    explicit FeedbackSubmissionService(Dependencies dependencies);

    QCoro::Task<void> submit(QString name, QString email, QString message) override;

    QString appVersion() const;
    // The error for a status that is neither success nor a first 401/403; logs the server's
    // "error" text when the body carries one.
    FeedbackSubmissionError error(int status, const QByteArray &body) const;

    // The JSON body: installationId, appVersion, platform, osVersion, name and email when not
    // empty after trimming, message unchanged.
    static QByteArray encodePayload(const QString &installationID, const QString &appVersion, const QString &osVersion,
                                    const QString &name, const QString &email, const QString &message);

private:
    struct SubmissionRequest {
        QUrl url;
        QByteArray payloadData;
        QString installationId;
        QString appVersion;
        QString userAgent;
    };
    QCoro::Task<void> send(SubmissionRequest request, bool retry, QString rejectedKeyId);

    Dependencies deps_;
    ScopedLogger logger_{"FeedbackSubmissionService"};
};

} // namespace quillby
