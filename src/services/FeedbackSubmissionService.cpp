#include "services/FeedbackSubmissionService.h"

#include "core/OperationCancelledError.h"

#include <nlohmann/json.hpp>

#include <exception>

namespace quillby {

FeedbackSubmissionService::FeedbackSubmissionService(Dependencies dependencies) : deps_(std::move(dependencies)) {}

QString FeedbackSubmissionService::appVersion() const
{
    return deps_.appVersion.isEmpty() ? QStringLiteral("Unknown") : deps_.appVersion;
}

QByteArray FeedbackSubmissionService::encodePayload(const QString &installationID, const QString &appVersion,
                                                    const QString &osVersion, const QString &name,
                                                    const QString &email, const QString &message)
{
    nlohmann::ordered_json payload;
    payload["installationId"] = installationID.toStdString();
    payload["appVersion"] = appVersion.toStdString();
    payload["platform"] = app_server::kPlatform.toStdString();
    payload["osVersion"] = osVersion.toStdString();
    const QString trimmedName = name.trimmed();
    if (!trimmedName.isEmpty()) {
        payload["name"] = trimmedName.toStdString();
    }
    const QString trimmedEmail = email.trimmed();
    if (!trimmedEmail.isEmpty()) {
        payload["email"] = trimmedEmail.toStdString();
    }
    payload["message"] = message.toStdString();
    return QByteArray::fromStdString(payload.dump());
}

QCoro::Task<void> FeedbackSubmissionService::submit(QString name, QString email, QString message)
{
    auto keep = shared_from_this();
    const QUrl url = app_server::endpointURL(deps_.feedbackURL, QString());
    if (!url.isValid() || !deps_.authProvider) {
        throw FeedbackSubmissionError(FeedbackSubmissionError::Case::failedToPrepare);
    }
    const QString version = appVersion();
    const QString osVersion = app_server::operatingSystemVersion(deps_.connection);
    const QString installationID = deps_.authProvider->installationIDProvider().installationID();
    SubmissionRequest request;
    try {
        request.payloadData = encodePayload(installationID, version, osVersion, name, email, message);
    } catch (const std::exception &) {
        throw FeedbackSubmissionError(FeedbackSubmissionError::Case::failedToPrepare);
    }
    request.url = url;
    request.installationId = installationID;
    request.appVersion = version;
    request.userAgent = app_server::userAgent(version, osVersion);
    co_await send(std::move(request), false, QString());
}

QCoro::Task<void> FeedbackSubmissionService::send(SubmissionRequest request, bool retry, QString rejectedKeyId)
{
    auto keep = shared_from_this();
    const std::string shortID = app_server::shortIdentifier(request.installationId);
    const auto signedHeaders = co_await deps_.authProvider->signRequest(
        {request.installationId, request.appVersion, request.userAgent, request.payloadData,
         request.url.path(QUrl::FullyEncoded).toLatin1(), rejectedKeyId},
        retry);
    if (!signedHeaders) {
        throw FeedbackSubmissionError(FeedbackSubmissionError::Case::failedToPrepare);
    }
    const QNetworkRequest networkRequest = app_server::makeRequest(request.url, request.userAgent, "X-Quillby-Feedback",
                                                                   request.appVersion, signedHeaders->headers);
    HttpReply reply;
    try {
        reply = co_await app_server::post(deps_.connection, networkRequest, request.payloadData, {});
    } catch (const std::exception &failure) {
        logger_.error("Feedback submission failed (installation=" + shortID + "): " + failure.what());
        throw FeedbackSubmissionError(FeedbackSubmissionError::Case::unavailable);
    }
    if (reply.status >= 200 && reply.status <= 299) {
        co_return;
    }
    if ((reply.status == 401 || reply.status == 403) && !retry) {
        logger_.error("Feedback submission auth rejected (installation=" + shortID + ", status=" +
                      std::to_string(reply.status) + "); retrying with refreshed credentials");
        co_await send(std::move(request), true, signedHeaders->keyId);
        co_return;
    }
    throw error(reply.status, reply.body);
}

FeedbackSubmissionError FeedbackSubmissionService::error(int status, const QByteArray &body) const
{
    const nlohmann::json parsed = nlohmann::json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) {
        const auto found = parsed.find("error");
        if (found != parsed.end() && found->is_string()) {
            // The server's text, made one printable line.
            const QString text = app_server::printableASCII(QString::fromStdString(found->get<std::string>()).left(200));
            logger_.error("Feedback submission rejected: " + text.toStdString());
        }
    }
    using Case = FeedbackSubmissionError::Case;
    switch (status) {
    case 400:
        return FeedbackSubmissionError(Case::failedToPrepare);
    case 401:
    case 403:
        return FeedbackSubmissionError(Case::rejected);
    case 429:
        return FeedbackSubmissionError(Case::rateLimited);
    default:
        return FeedbackSubmissionError(Case::unavailable);
    }
}

} // namespace quillby
